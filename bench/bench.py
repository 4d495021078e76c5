#!/usr/bin/python3
"""The assistant's start-to-end time under Wine beside three floors, and the
sizes of the images; called by ./scripts/bench.

    bench.py --rounds N --output FILE

WINEPREFIX names a 64-bit prefix (made by tests/wine/make_prefix.sh);
ASSISTANT_WINDOWS_BUILD the Windows build with the assistant and, in its
bench/ folder, the floors, the timing driver and the stand-in installer
(target bench_tools).

Every run's outcome is checked: the exit code, whether the stand-in
installer ran (it rewrites the Version value) and the IE_Welcome value.
The exit status is 1 when any run gave a wrong outcome, and never depends
on a time: the targets are printed beside the figures, not enforced.
"""

import argparse
import datetime
import os
import shutil
import statistics
import subprocess
import sys

import pefile

IE8_INSTALLED = "8.0.7600.16385"   # the Version of the "IE8 present" runs
IE8_BY_STANDIN = "8.0.6001.18702"  # what the stand-in installer writes
ARGUMENTS = "/quiet /norestart"
REG_SZ = 1
MINUS_ONE = 0xFFFFFFFF
# The 32-bit assistant on 64-bit Windows sees this Program Files folder.
WELCOME = '"C:\\Program Files (x86)\\Internet Explorer\\iexplore.exe"'

PROGRAMS = [
    # name, file in the build, label
    ("assistant", "ie8-setup-assistant.exe", "assistant"),
    ("bare", "bench/bare-floor.exe", "bare floor"),
    ("matched", "bench/matched-floor.exe", "matched floor"),
    ("launch", "bench/launch-floor.exe", "launch floor"),
]
SCENARIOS = [
    # name, Version before each run, label, the limit the assistant is
    # measured against, target ratio
    ("present", IE8_INSTALLED, "IE8 present", "matched", 1.05),
    ("absent", None, "full run (IE8 absent)", "launch", 1.05),
]
UNSIGNED_TARGET = 6144


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


def lay_out(prefix, build, standin):
    """C:\\bench\\NAME\\ holds each program, with the stand-in beside it as
    iesetup.exe; returns the Windows path of each program."""
    root = os.path.join(prefix, "drive_c", "bench")
    if os.path.exists(root):
        shutil.rmtree(root)
    paths = {}
    for name, file, _ in PROGRAMS:
        folder = os.path.join(root, name)
        os.makedirs(folder)
        base = os.path.basename(file)
        shutil.copy(os.path.join(build, file), os.path.join(folder, base))
        shutil.copy(standin, os.path.join(folder, "iesetup.exe"))
        paths[name] = "C:\\bench\\%s\\%s" % (name, base)
    return root, paths


def run_timer(timer, work, paths, rounds):
    plan = os.path.join(work, "plan.txt")
    out = os.path.join(work, "runs.txt")
    with open(plan, "w", encoding="utf-8", newline="\n") as f:
        f.write("env\tSTANDIN_VERSION\t%s\n" % IE8_BY_STANDIN)
        f.write("rounds\t1\t%d\n" % rounds)
        for name, version, _, _, _ in SCENARIOS:
            f.write("scenario\t%s\t%s\n" % (name, version or "-"))
        for name, _, _ in PROGRAMS:
            f.write("program\t%s\t%s\t%s\n" % (name, paths[name], ARGUMENTS))
    subprocess.run(["wine", windows_path(timer), windows_path(plan),
                    windows_path(out)], check=True)
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


def ms(values):
    return statistics.median(values), min(values), max(values)


def fmt(value):
    return "%.1f" % value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=25)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    if args.rounds < 20:
        parser.error("--rounds must be at least 20")

    prefix = os.environ["WINEPREFIX"]
    build = os.environ["ASSISTANT_WINDOWS_BUILD"]
    bench_build = os.path.join(build, "bench")
    timer = os.path.join(bench_build, "timer64.exe")
    standin = os.path.join(bench_build, "standin32.exe")

    # The floors must import what they are meant to: the comparison means
    # nothing otherwise.
    assistant_imports = imports(os.path.join(build, PROGRAMS[0][1]))
    problems = []
    wanted = {"bare": {"KERNEL32.DLL": ["ExitProcess"]},
              "matched": assistant_imports, "launch": assistant_imports}
    for name, file, label in PROGRAMS[1:]:
        got = imports(os.path.join(build, file))
        if got != wanted[name]:
            problems.append("%s imports %r, not %r" % (label, got, wanted[name]))
    if problems:
        for problem in problems:
            print("bench: " + problem, file=sys.stderr)
        return 1

    root, paths = lay_out(prefix, build, standin)
    frequency, runs = run_timer(timer, root, paths, args.rounds)

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
    expected_runs = (args.rounds + 1) * len(SCENARIOS) * len(PROGRAMS)
    if len(runs) != expected_runs:
        wrong.append("%d runs reported, %d expected" % (len(runs), expected_runs))

    wine_version = subprocess.run(["wine", "--version"], capture_output=True,
                                  text=True).stdout.strip()
    lines = []
    lines.append("### Benchmark, %s" % datetime.date.today().isoformat())
    lines.append("")
    lines.append(
        "%s, 64-bit prefix: the assistant and the floors run as 32-bit "
        "processes under WoW64. Each time runs from just before "
        "`CreateProcessW` until the process has ended, measured inside Wine "
        "with `QueryPerformanceCounter`; %d runs of each program in each "
        "scenario after one discarded warm-up round, the programs "
        "interleaved, the registry reset before every run. The programs are "
        "started with the arguments `%s`; the stand-in installer "
        "(`tests/wine/tools/standin_setup.c`, 32-bit) writes an IE8 "
        "`Version` and ends at once." % (wine_version, args.rounds, ARGUMENTS))
    lines.append("")
    lines.append("| Scenario | Program | Median ms | Min ms | Max ms "
                 "| × limit | × bare floor | Target |")
    lines.append("|---|---|--:|--:|--:|--:|--:|---|")
    for name, _, label, limit, target in SCENARIOS:
        bare = statistics.median(times.get((name, "bare"), [float("nan")]))
        limit_median = statistics.median(
            times.get((name, limit), [float("nan")]))
        for program, _, program_label in PROGRAMS:
            values = times.get((name, program))
            if not values:
                lines.append("| %s | %s | – | – | – | | | |" % (label, program_label))
                continue
            median, low, high = ms(values)
            if program == "assistant":
                ratio = median / limit_median
                limit_cell = "%.3f (%s floor)" % (ratio, limit)
                target_cell = "≤ %.2f × %s floor: %s" % (
                    target, limit, "met" if ratio <= target else "not met")
            else:
                limit_cell = ""
                target_cell = ""
            lines.append("| %s | %s | %s | %s | %s | %s | %.3f | %s |" % (
                label, program_label, fmt(median), fmt(low), fmt(high),
                limit_cell, median / bare, target_cell))
    lines.append("")
    # The same ratio round by round: the assistant against its floor run in
    # the same round, which cancels slow drifts in the machine's load; the
    # middle half of these ratios shows how finely the figures resolve.
    for name, _, label, limit, _ in SCENARIOS:
        mine = by_round.get((name, "assistant"), {})
        theirs = by_round.get((name, limit), {})
        ratios = sorted(mine[r] / theirs[r] for r in mine if r in theirs)
        if len(ratios) >= 4:
            low, _, high = statistics.quantiles(ratios, n=4)
            lines.append("- %s: assistant / %s floor in the same round: "
                         "median %.3f, middle half %.3f–%.3f." % (
                             label, limit, statistics.median(ratios), low, high))
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
    for name, file, label in PROGRAMS[1:]:
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
