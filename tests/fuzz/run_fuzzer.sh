#!/usr/bin/env bash
# Runs one fuzzer for a bounded time on a copy of its seed corpus.
#   run_fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS
# The seeds are copied into WORK_DIR/corpus, which the fuzzer grows; the
# repository's corpus is never written. A finding (a broken property, a
# sanitizer report, a leak, a time-out) is kept in WORK_DIR/artifacts and
# makes the fuzzer, and so this script, end with a non-zero status.
set -euo pipefail
fuzzer=$1
seeds=$2
work=$3
seconds=$4

rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$seeds"/* "$work/corpus/"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=4096 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus"
