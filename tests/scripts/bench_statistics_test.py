#!/usr/bin/python3
"""The benchmark's judgement of its targets (bench/bench.py): the
distribution-free interval for a median and what it makes of a target.
The ranks are those of the published tables of the binomial interval for a
median, not worked out again here."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "bench"))
import bench  # noqa: E402


class MedianInterval(unittest.TestCase):
    # n, k (the interval is the k-th smallest to the k-th largest value),
    # its confidence to three places
    TABLE = [
        (6, 1, 0.969),
        (10, 2, 0.979),
        (20, 6, 0.959),
        (25, 8, 0.957),
        (50, 18, 0.967),
        (100, 40, 0.965),
    ]

    def test_ranks_and_confidence_are_those_of_the_tables(self):
        for n, k, confidence in self.TABLE:
            with self.subTest(n=n):
                rank, exact = bench.interval_rank(n)
                self.assertEqual(rank, k)
                self.assertAlmostEqual(exact, confidence, places=3)
                self.assertGreaterEqual(exact, 0.95)

    def test_fewer_than_six_values_give_no_interval(self):
        for n in range(1, 6):
            with self.subTest(n=n):
                self.assertIsNone(bench.interval_rank(n))
                self.assertIsNone(bench.median_interval([1.0] * n))

    def test_the_interval_is_taken_from_the_sorted_values(self):
        # 20 values in a shuffled order: the 6th smallest is 6, the 6th
        # largest 15.
        values = [float(v) for v in (14, 3, 20, 9, 1, 17, 6, 12, 8, 15,
                                     2, 19, 11, 5, 18, 7, 13, 4, 16, 10)]
        self.assertEqual(bench.median_interval(values), (6.0, 15.0))


class Judgement(unittest.TestCase):
    CASES = [
        # interval, target, judgement
        ((0.95, 1.04), 1.05, "met"),
        ((0.95, 1.05), 1.05, "met"),
        ((1.051, 1.10), 1.05, "not met"),
        ((1.05, 1.10), 1.05, "cannot tell at this noise"),
        ((1.00, 1.06), 1.05, "cannot tell at this noise"),
        ((0.50, 0.61), 0.60, "cannot tell at this noise"),
        ((0.40, 0.55), 0.60, "met"),
        (None, 1.05, "too few rounds to judge"),
    ]

    def test_a_target_is_judged_from_the_whole_interval(self):
        for interval, target, judgement in self.CASES:
            with self.subTest(interval=interval, target=target):
                self.assertEqual(bench.judge(interval, target), judgement)


if __name__ == "__main__":
    unittest.main()
