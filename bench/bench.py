#!/usr/bin/python3
"""The assistant's start-to-end time under Wine beside four floors, and the
sizes of the images; called by ./scripts/bench.

    bench.py [--rounds N | --quick] --output FILE --wine-log FILE

WINEPREFIX names a 64-bit prefix (made by tests/wine/make_prefix.sh);
ASSISTANT_WINDOWS_BUILD the Windows build with the assistant and, in its
bench/ folder, the floors, the timing driver and the stand-in installer
(target bench_tools). Everything Wine prints goes to the --wine-log file,
never to this program's own output: a Wine service that a run starts keeps
the output it was given open for as long as the Wine server runs.

Every run's outcome is checked: the exit code, whether the stand-in
installer ran (it rewrites the Version value) and the IE_Welcome value.
The exit status is 1 when any run gave a wrong outcome or a step failed, and
never depends on a time: each target is judged from the confidence interval
of its ratio and printed, not enforced. --quick runs two rounds: enough to
check the outcomes, too few to judge a target.
"""

import argparse
import datetime
import fractions
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

import pefile

IE8_INSTALLED = "8.0.7600.16385"   # the Version of the "IE8 present" runs
IE8_BY_STANDIN = "8.0.6001.18702"  # what the stand-in installer writes
ARGUMENTS = "/quiet /norestart"
REG_SZ = 1
MINUS_ONE = 0xFFFFFFFF
# The 32-bit assistant on 64-bit Windows sees this Program Files folder.
WELCOME = '"C:\\Program Files (x86)\\Internet Explorer\\iexplore.exe"'

SCENARIOS = [
    # name, Version before each run, label
    ("present", IE8_INSTALLED, "IE8 present"),
    ("absent", None, "full run (IE8 absent)"),
]
PROGRAMS = [
    # name, file in the build, label, the scenarios it runs in
    ("assistant", "ie8-setup-assistant.exe", "assistant", ("present", "absent")),
    ("bare", "bench/bare-floor.exe", "bare floor", ("present", "absent")),
    ("matched", "bench/matched-floor.exe", "matched floor", ("present",)),
    ("static-shell", "bench/static-shell-floor.exe", "static-shell floor",
     ("present",)),
    ("launch", "bench/launch-floor.exe", "launch floor", ("absent",)),
]
TARGETS = [
    # scenario, the floor the assistant's time is divided by, the most the
    # ratio may be
    ("present", "matched", 1.05),
    ("absent", "launch", 1.05),
    ("present", "static-shell", 0.60),
]
# What the static-shell floor imports beyond the assistant's own imports.
STATIC_SHELL_IMPORTS = {"SHELL32.DLL": ["SHGetFolderPathW"],
                        "SHLWAPI.DLL": ["PathAppendW", "PathRemoveFileSpecW"]}
UNSIGNED_TARGET = 8192
# Rounds by default: on a shared two-core machine, where the full run's
# ratio is the noisiest (its middle half about ±17 %), 240 rounds give an
# interval of about ±3 %, so a target 5 % away is told apart; a multiple of
# 12, so that the balanced orders of four and of three programs come round
# equally often.
DEFAULT_ROUNDS = 240
LEAST_ROUNDS = 20
QUICK_ROUNDS = 2
CONFIDENCE = 0.95
# The wait before every run, not timed: a process that has ended may still
# be leaving the system. Started at once after the one before, about half
# the runs here took twice as long, depending on which program came before;
# a 20 ms wait already removed that, 50 ms leaves room.
PAUSE_MS = 50


def windows_path(linux_path):
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


def reg_sz_hex(text):
    return "%d:%s" % (REG_SZ, (text + "\0").encode("utf-16-le").hex())


def expected(scenario, program):
    """(exit code, Version after the run, IE_Welcome after the run)."""
    installs = program in ("assistant", "launch") and not (
        scenario == "present" and program == "assistant")
    if installs:
        version = reg_sz_hex(IE8_BY_STANDIN)
    elif scenario == "present":
        version = reg_sz_hex(IE8_INSTALLED)
    else:
        version = "missing"
    if program == "assistant":
        code = str(MINUS_ONE) if scenario == "present" else "0"
        welcome = reg_sz_hex(WELCOME) if scenario == "absent" else "missing"
    else:
        code = "0"
        welcome = "missing"
    return code, version, welcome


def describe_value(field):
    if field == "missing":
        return "missing"
    kind, _, data = field.partition(":")
    try:
        text = bytes.fromhex(data).decode("utf-16-le")
    except ValueError:
        text = data
    return "type %s %r" % (kind, text)


def imports(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    found = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        found[entry.dll.decode("ascii").upper()] = sorted(
            (f.name or b"").decode("ascii") for f in entry.imports)
    pe.close()
    return found


def wanted_imports(assistant_imports):
    """What each floor must import for the comparison to mean anything."""
    static_shell = {dll: list(names) for dll, names in assistant_imports.items()}
    for dll, names in STATIC_SHELL_IMPORTS.items():
        static_shell[dll] = sorted(set(static_shell.get(dll, [])) | set(names))
    return {"bare": {"KERNEL32.DLL": ["ExitProcess"]},
            "matched": assistant_imports, "launch": assistant_imports,
            "static-shell": static_shell}


def interval_rank(n, confidence=CONFIDENCE):
    """For n values: the largest k with P(B < k) <= (1 - confidence) / 2,
    B ~ binomial(n, 1/2), and the exact confidence 1 - 2 P(B < k) of the
    interval from the k-th smallest to the k-th largest value; None when n
    is too small for any such interval (n < 6 at 95 %)."""
    tail = (1 - fractions.Fraction(confidence).limit_denominator(1000)) / 2
    limit = tail * 2 ** n
    below = 0  # the number of outcomes with B < k, out of 2^n
    k = 0
    while k < n and below + math.comb(n, k) <= limit:
        below += math.comb(n, k)
        k += 1
    if k == 0:
        return None
    return k, float(1 - fractions.Fraction(2 * below, 2 ** n))


def median_interval(values, confidence=CONFIDENCE):
    """A distribution-free interval for the median of the population the
    values were drawn from, from their order statistics: (low, high), or
    None when there are too few values."""
    rank = interval_rank(len(values), confidence)
    if rank is None:
        return None
    ordered = sorted(values)
    return ordered[rank[0] - 1], ordered[len(ordered) - rank[0]]


def judge(interval, target):
    if interval is None:
        return "too few rounds to judge"
    low, high = interval
    if high <= target:
        return "met"
    if low > target:
        return "not met"
    return "cannot tell at this noise"


def lay_out(prefix, build, standin):
    """C:\\bench\\NAME\\ holds each program, with the stand-in beside it as
    iesetup.exe; returns the folder and the Windows path of each program."""
    root = os.path.join(prefix, "drive_c", "bench")
    if os.path.exists(root):
        shutil.rmtree(root)
    paths = {}
    for name, file, _, _ in PROGRAMS:
        folder = os.path.join(root, name)
        os.makedirs(folder)
        base = os.path.basename(file)
        shutil.copy(os.path.join(build, file), os.path.join(folder, base))
        shutil.copy(standin, os.path.join(folder, "iesetup.exe"))
        paths[name] = "C:\\bench\\%s\\%s" % (name, base)
    return root, paths


def wine(arguments, log):
    """Runs Wine with its output appended to the log; returns the status."""
    with open(log, "ab") as f:
        return subprocess.run(["wine"] + arguments, stdin=subprocess.DEVNULL,
                              stdout=f, stderr=f).returncode


def run_timer(timer, work, paths, rounds, log):
    plan = os.path.join(work, "plan.txt")
    out = os.path.join(work, "runs.txt")
    with open(plan, "w", encoding="utf-8", newline="\n") as f:
        f.write("env\tSTANDIN_VERSION\t%s\n" % IE8_BY_STANDIN)
        f.write("rounds\t1\t%d\n" % rounds)
        f.write("pause\t%d\n" % PAUSE_MS)
        for name, version, _ in SCENARIOS:
            f.write("scenario\t%s\t%s\n" % (name, version or "-"))
        for name, _, _, scenarios in PROGRAMS:
            f.write("program\t%s\t%s\t%s\t%s\n" % (
                name, ",".join(scenarios), paths[name], ARGUMENTS))
    status = wine([windows_path(timer), windows_path(plan), windows_path(out)],
                  log)
    if status != 0:
        return None
    frequency = None
    runs = []
    with open(out, encoding="utf-8") as f:
        for line in f.read().splitlines():
            fields = line.split("\t")
            if fields[0] == "frequency":
                frequency = int(fields[1])
            elif fields[0] == "run":
                runs.append(fields[1:])
    return frequency, runs


def wine_version():
    with tempfile.TemporaryFile() as f:
        subprocess.run(["wine", "--version"], stdin=subprocess.DEVNULL,
                       stdout=f, stderr=subprocess.DEVNULL)
        f.seek(0)
        return f.read().decode("utf-8", "replace").strip()


def ordinal(number):
    if number % 100 in (11, 12, 13):
        return "%dth" % number
    return "%d%s" % (number, {1: "st", 2: "nd", 3: "rd"}.get(number % 10, "th"))


def fmt(value):
    return "%.1f" % value


def label_of(program):
    return next(label for name, _, label, _ in PROGRAMS if name == program)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--quick", action="store_true",
                        help="two rounds: check the outcomes, judge nothing")
    parser.add_argument("--output", required=True)
    parser.add_argument("--wine-log", required=True)
    args = parser.parse_args()
    if args.quick and args.rounds is not None:
        parser.error("--quick and --rounds exclude each other")
    rounds = QUICK_ROUNDS if args.quick else args.rounds or DEFAULT_ROUNDS
    if not args.quick and rounds < LEAST_ROUNDS:
        parser.error("--rounds must be at least %d" % LEAST_ROUNDS)

    prefix = os.environ["WINEPREFIX"]
    build = os.environ["ASSISTANT_WINDOWS_BUILD"]
    bench_build = os.path.join(build, "bench")
    timer = os.path.join(bench_build, "timer64.exe")
    standin = os.path.join(bench_build, "standin32.exe")

    # The floors must import what they are meant to: the comparison means
    # nothing otherwise.
    wanted = wanted_imports(imports(os.path.join(build, PROGRAMS[0][1])))
    problems = []
    for name, file, label, _ in PROGRAMS[1:]:
        got = imports(os.path.join(build, file))
        if got != wanted[name]:
            problems.append("%s imports %r, not %r" % (label, got, wanted[name]))
    if problems:
        for problem in problems:
            print("bench: " + problem, file=sys.stderr)
        return 1

    root, paths = lay_out(prefix, build, standin)
    result = run_timer(timer, root, paths, rounds, args.wine_log)
    if result is None:
        print("bench: the timing driver failed; Wine's output is in %s"
              % args.wine_log, file=sys.stderr)
        return 1
    frequency, runs = result

    wrong = []
    times = {}
    by_round = {}
    for round_text, scenario, program, ticks, code, version, welcome in runs:
        want = expected(scenario, program)
        got = (code, version, welcome)
        if got != want:
            what = []
            for label, g, w in zip(("exit code", "Version", "IE_Welcome"),
                                   got, want):
                if g != w:
                    if label == "exit code":
                        what.append("exit code %s, expected %s" % (g, w))
                    else:
                        what.append("%s %s, expected %s" % (
                            label, describe_value(g), describe_value(w)))
            wrong.append("round %s, %s, %s: %s" % (
                round_text, scenario, program, "; ".join(what)))
        if int(round_text) >= 1:
            value = int(ticks) * 1000.0 / frequency
            times.setdefault((scenario, program), []).append(value)
            by_round.setdefault((scenario, program), {})[round_text] = value
    expected_runs = (rounds + 1) * sum(len(s) for _, _, _, s in PROGRAMS)
    if len(runs) != expected_runs:
        wrong.append("%d runs reported, %d expected" % (len(runs), expected_runs))

    lines = []
    lines.append("### Benchmark, %s" % datetime.date.today().isoformat())
    lines.append("")
    lines.append(
        "%s, 64-bit prefix: the assistant and the floors run as 32-bit "
        "processes under WoW64. Each time runs from just before "
        "`CreateProcessW` until the process has ended, measured inside Wine "
        "with `QueryPerformanceCounter`; %d rounds after one discarded "
        "warm-up round, each round running every program of a scenario once "
        "in a balanced order, the registry reset and %d ms waited before "
        "every run. The programs are started with the arguments `%s`; the "
        "stand-in installer (`tests/wine/tools/standin_setup.c`, 32-bit) "
        "writes an IE8 `Version` and ends at once." % (
            wine_version(), rounds, PAUSE_MS, ARGUMENTS))
    if args.quick:
        lines.append("")
        lines.append("A quick run (`--quick`): it checks the outcomes; its "
                     "rounds are too few to judge a target.")
    lines.append("")
    lines.append("| Scenario | Program | Median ms | Min ms | Max ms "
                 "| × bare floor |")
    lines.append("|---|---|--:|--:|--:|--:|")
    for name, _, label in SCENARIOS:
        bare = times.get((name, "bare"))
        bare_median = statistics.median(bare) if bare else float("nan")
        for program, _, program_label, scenarios in PROGRAMS:
            if name not in scenarios:
                continue
            values = times.get((name, program))
            if not values:
                lines.append("| %s | %s | – | – | – | |" % (label, program_label))
                continue
            median = statistics.median(values)
            lines.append("| %s | %s | %s | %s | %s | %.3f |" % (
                label, program_label, fmt(median), fmt(min(values)),
                fmt(max(values)), median / bare_median))
    lines.append("")
    # Each target is judged on the ratio taken round by round: the
    # assistant's time over the floor's in the same round and scenario,
    # which cancels slow drifts in the machine's load. The interval holds the
    # median of that ratio with 95 % confidence, whatever its distribution.
    lines.append("| Scenario | Assistant ÷ | Rounds | Median ratio "
                 "| %d %% interval | Middle half | Target | Judgement |"
                 % round(CONFIDENCE * 100))
    lines.append("|---|---|--:|--:|--:|--:|---|---|")
    for scenario, floor, target in TARGETS:
        label = next(l for n, _, l in SCENARIOS if n == scenario)
        mine = by_round.get((scenario, "assistant"), {})
        theirs = by_round.get((scenario, floor), {})
        ratios = [mine[r] / theirs[r] for r in mine if r in theirs]
        if not ratios:
            lines.append("| %s | %s | 0 | – | – | – | ≤ %.2f | %s |" % (
                label, label_of(floor), target, judge(None, target)))
            continue
        interval = median_interval(ratios)
        if len(ratios) >= 4:
            low, _, high = statistics.quantiles(ratios, n=4)
            middle = "%.3f–%.3f" % (low, high)
        else:
            middle = "–"
        lines.append("| %s | %s | %d | %.3f | %s | %s | ≤ %.2f | %s |" % (
            label, label_of(floor), len(ratios), statistics.median(ratios),
            "%.3f–%.3f" % interval if interval else "–", middle, target,
            judge(interval, target)))
    lines.append("")
    note = ("The interval holds the median of the round-by-round ratio "
            "with %d %% confidence, whatever its distribution" %
            round(CONFIDENCE * 100))
    rank = interval_rank(rounds)
    if rank:
        note += (": with %d rounds it runs from the %s smallest to the %s "
                 "largest ratio (confidence %.1f %%)" % (
                     rounds, ordinal(rank[0]), ordinal(rank[0]),
                     rank[1] * 100))
    lines.append(note + ". A target is met when the whole interval lies at "
                 "or below it, not met when the whole interval lies above "
                 "it; otherwise this run cannot tell.")
    lines.append("")
    lines.append("| Image | Bytes | Imports | Target |")
    lines.append("|---|--:|---|---|")
    unsigned = os.path.join(build, "ie8-setup-assistant.unsigned.exe")
    images = []
    if os.path.exists(unsigned):
        images.append(("assistant, unsigned (`ie8-setup-assistant.unsigned.exe`)",
                       unsigned, UNSIGNED_TARGET))
    images.append(("assistant, signed (`ie8-setup-assistant.exe`)",
                   os.path.join(build, "ie8-setup-assistant.exe"), None))
    for name, file, label, _ in PROGRAMS[1:]:
        images.append((label, os.path.join(build, file), None))
    for label, path, target in images:
        size = os.path.getsize(path)
        found = imports(path)
        import_cell = ", ".join("%s (%d)" % (dll.rsplit(".", 1)[0], len(names))
                                for dll, names in sorted(found.items()))
        target_cell = ("≤ %s: %s" % ("{:,}".format(target),
                                      "met" if size <= target else "not met")
                       if target else "")
        lines.append("| %s | %s | %s | %s |" % (label, "{:,}".format(size),
                                                import_cell, target_cell))
    lines.append("")
    lines.append("Imports: each DLL with the number of functions imported "
                 "from it.")
    lines.append("")
    if wrong:
        lines.append("Outcomes: %d of %d runs wrong." % (len(wrong), len(runs)))
    else:
        lines.append("Outcomes: all %d runs as expected (exit code, installer "
                     "started or not, IE_Welcome written with the quoted path "
                     "or not)." % len(runs))
    text = "\n".join(lines) + "\n"

    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)
    sys.stdout.write(text)
    for problem in wrong:
        print("bench: wrong outcome: " + problem, file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
