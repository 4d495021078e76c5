#!/usr/bin/python3
"""End-to-end cases of the finished executable under Wine.

Each case lays out a folder inside the prefix's C: drive with the assistant
and, where the case wants one, a stand-in iesetup.exe; then one run of the
Windows-side driver prepares the registry, starts the assistant with an exact
command line, reads its full 32-bit exit code and reports the registry
afterwards.

    e2e.py --list
    e2e.py --arch win64|win32 --case NAME

WINEPREFIX names a prefix made by make_prefix.sh; ASSISTANT_WINDOWS_BUILD the
Windows build with the executable; TOOLS the folder with the driver and the
stand-in (driver32.exe, driver64.exe, standin32.exe, standin64.exe).
"""

import argparse
import os
import shutil
import subprocess
import sys

BROWSER_KEY = "SOFTWARE\\Microsoft\\Internet Explorer"
RUNONCE_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
IE8 = "8.0.6001.18702"
IE7 = "7.0.5730.13"
REG_SZ = 1
MINUS_ONE = 0xFFFFFFFF


def utf16_hex(text, terminator=False):
    data = text.encode("utf-16-le") + (b"\0\0" if terminator else b"")
    return data.hex()


def from_unit_hex(hex_text):
    """Text from the hex of its UTF-16 units, four digits a unit."""
    return "".join(chr(int(hex_text[i:i + 4], 16))
                   for i in range(0, len(hex_text), 4))


class Case:
    """One run of the assistant and what it must leave behind."""

    def __init__(self, name, *, arches=("win64", "win32"), folder=None,
                 assistant="ie8-setup-assistant.exe", setup="standin",
                 version_before=IE7, steps=(), env=None, tail="",
                 cwd=None, exit_code=0, started=True, installs=True,
                 welcome=True, command_line=None, check=None):
        self.name = name
        self.arches = arches
        self.folder = folder or name
        self.assistant = assistant
        self.setup = setup            # "standin", "text" or None
        self.version_before = version_before
        self.steps = list(steps)      # extra driver steps before the run
        self.env = dict(env or {})
        self.tail = tail              # the assistant's argument text
        self.cwd = cwd                # Windows folder to run in, or None
        self.exit_code = exit_code
        self.started = started        # the stand-in must have run
        self.installs = installs      # the stand-in writes an IE8 version
        self.welcome = welcome        # IE_Welcome must be written
        self.command_line = command_line  # what the stand-in must receive
        self.check = check            # further checks: fn(ctx)


# C:\e2e\ plus this folder is 250 units: the assistant's own path, with the
# name a.exe (256 units), fits in MAX_PATH; "\iesetup.exe" behind the folder
# does not, although a stand-in lies there.
LONG_FOLDER = "L" * (250 - len("C:\\e2e\\"))


CASES = [
    Case("present", version_before=IE8, tail="/quiet", exit_code=MINUS_ONE,
         started=False, welcome=False),
    Case("installs", tail="/quiet /norestart",
         steps=[("delkey", "32", "HKCU", RUNONCE_KEY)]),
    Case("installs_nothing", installs=False, welcome=False),
    Case("no_setup", setup=None, started=False, welcome=False),
    Case("not_a_program", setup="text", started=False, welcome=False),
    Case("folder_with_space", folder="with space", tail="/passive",
         steps=[("set", "32", "HKCU", RUNONCE_KEY, "IE_Welcome", str(REG_SZ),
                 utf16_hex("C:\\old.exe", True))]),
    Case("arguments_verbatim",
         tail='/a  "b c"\t\\\\server\\share\\ "x\\"y"  end  ',
         cwd="C:\\e2e"),
    Case("ie8_only_in_64_bit_view", arches=("win64",),
         steps=[("set", "64", "HKLM", BROWSER_KEY, "Version", str(REG_SZ),
                 utf16_hex(IE8, True))]),
    Case("stored_without_terminator", version_before=None,
         steps=[("set", "32", "HKLM", BROWSER_KEY, "Version", str(REG_SZ),
                 utf16_hex(IE8, False))]),
    Case("setup_starts_child_and_ends",
         env={"STANDIN_SPAWN": "C:\\e2e\\setup_starts_child_and_ends\\child.txt",
              "STANDIN_EVENT": "assistant-e2e-release-child"}),
    Case("setup_runs_a_while", env={"STANDIN_DELAY_MS": "4000"}),
    Case("setup_exit_code_ignored", env={"STANDIN_EXIT": "1603"}),
    Case("no_room_for_setup_name", folder=LONG_FOLDER, assistant="a.exe",
         started=False, welcome=False),
]


def windows_path(linux_path):
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


class Context:
    def __init__(self, arch, case):
        self.arch = arch
        self.case = case
        self.prefix = os.environ["WINEPREFIX"]
        self.build = os.environ["ASSISTANT_WINDOWS_BUILD"]
        self.tools = os.environ["TOOLS"]
        self.failures = []
        folder = case.folder
        self.win_folder = "C:\\e2e\\" + folder
        self.folder = os.path.join(self.prefix, "drive_c", "e2e", folder)
        self.record_win = self.win_folder + "\\record.txt"
        self.record = os.path.join(self.folder, "record.txt")
        bits = "64" if arch == "win64" else "32"
        self.driver = os.path.join(self.tools, "driver%s.exe" % bits)
        self.standin = os.path.join(self.tools, "standin%s.exe" % bits)
        self.program_files = ("C:\\Program Files (x86)" if arch == "win64"
                              else "C:\\Program Files")

    def expect(self, what, actual, expected):
        if actual != expected:
            self.failures.append("%s: got %r, expected %r"
                                 % (what, actual, expected))


def lay_out(ctx):
    case = ctx.case
    if os.path.exists(ctx.folder):
        shutil.rmtree(ctx.folder)
    os.makedirs(ctx.folder)
    shutil.copy(os.path.join(ctx.build, "ie8-setup-assistant.exe"),
                os.path.join(ctx.folder, case.assistant))
    setup = os.path.join(ctx.folder, "iesetup.exe")
    if case.setup == "standin":
        shutil.copy(ctx.standin, setup)
    elif case.setup == "text":
        with open(setup, "w") as f:
            f.write("This is not a program.\r\n")


def case_steps(ctx):
    case = ctx.case
    steps = [
        ("delvalue", "32", "HKLM", BROWSER_KEY, "Version"),
        ("delvalue", "64", "HKLM", BROWSER_KEY, "Version"),
        ("delvalue", "32", "HKCU", RUNONCE_KEY, "IE_Welcome"),
    ]
    if case.version_before:
        steps.append(("set", "32", "HKLM", BROWSER_KEY, "Version",
                      str(REG_SZ), utf16_hex(case.version_before, True)))
    steps += case.steps
    env = {"STANDIN_RECORD": ctx.record_win}
    if case.installs:
        env["STANDIN_VERSION"] = IE8
    env.update(case.env)
    for name, value in sorted(env.items()):
        steps.append(("env", name, value))
    command_line = '"%s\\%s"' % (ctx.win_folder, case.assistant)
    if case.tail:
        command_line += " " + case.tail
    steps.append(("run", case.cwd or "-", utf16_hex(command_line)))
    if "STANDIN_SPAWN" in case.env:
        steps.append(("exists", case.env["STANDIN_SPAWN"]))
        steps.append(("signal", case.env["STANDIN_EVENT"]))
        steps.append(("waitfile", case.env["STANDIN_SPAWN"], "600"))
    steps.append(("get", "32", "HKCU", RUNONCE_KEY, "IE_Welcome"))
    steps.append(("get", "32", "HKLM", BROWSER_KEY, "Version"))
    return steps


def run_driver(ctx, steps):
    case_file = os.path.join(ctx.folder, "case.txt")
    out_file = os.path.join(ctx.folder, "out.txt")
    with open(case_file, "w", encoding="utf-8", newline="\n") as f:
        for step in steps:
            f.write("\t".join(step) + "\n")
    # Wine's output goes to a file, never to a pipe of the caller's: a Wine
    # service started by this run would hold that open while the server runs.
    log_file = os.path.join(ctx.folder, "wine.log")
    with open(log_file, "wb") as log:
        status = subprocess.run(["wine", ctx.driver, windows_path(case_file),
                                 windows_path(out_file)],
                                stdin=subprocess.DEVNULL, stdout=log,
                                stderr=log).returncode
    if status != 0:
        with open(log_file, errors="replace") as log:
            sys.stdout.write(log.read())
        raise SystemExit("driver failed with status %d" % status)
    report = {}
    with open(out_file, encoding="utf-8") as f:
        for line in f.read().splitlines():
            fields = line.split("\t")
            report[(fields[0], fields[1]) if fields[0] != "exit"
                   else ("exit",)] = fields
    return report


def read_record(ctx):
    if not os.path.exists(ctx.record):
        return None
    record = {}
    with open(ctx.record, encoding="ascii") as f:
        for line in f.read().splitlines():
            label, _, value = line.partition("\t")
            record[label] = from_unit_hex(value)
    return record


def check(ctx, report):
    case = ctx.case
    exit_fields = report.get(("exit",))
    ctx.expect("exit code", int(exit_fields[1]) if exit_fields else None,
               case.exit_code)

    record = read_record(ctx)
    ctx.expect("installer started", record is not None, case.started)
    if record is not None:
        setup_path = ctx.win_folder + "\\iesetup.exe"
        path_part = ('"%s"' % setup_path) if " " in setup_path else setup_path
        expected = case.command_line or (
            path_part + (" " + case.tail if case.tail else ""))
        ctx.expect("installer command line", record["cmdline"], expected)
        # The installer runs in the assistant's current directory, never
        # in its own folder unless the assistant was started there.
        if case.cwd:
            ctx.expect("installer current directory",
                       record["cwd"].rstrip("\\"), case.cwd.rstrip("\\"))

    welcome = report.get(("get", "IE_Welcome"))
    if case.welcome:
        quoted = '"%s\\Internet Explorer\\iexplore.exe"' % ctx.program_files
        ctx.expect("IE_Welcome", welcome[2:] if welcome else None,
                   [str(REG_SZ), utf16_hex(quoted, True)])
    else:
        ctx.expect("IE_Welcome", welcome[2] if welcome else None, "missing")

    if "STANDIN_SPAWN" in case.env:
        # When the assistant ended, the installer's child was still
        # waiting to be released; it was, later.
        spawned = case.env["STANDIN_SPAWN"]
        ctx.expect("child done before the assistant ended",
                   report.get(("exists", spawned), [None] * 3)[2], "0")
        ctx.expect("child released after the assistant ended",
                   report.get(("waitfile", spawned), [None] * 3)[2], "1")
    if case.check:
        case.check(ctx)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--arch")
    parser.add_argument("--case")
    args = parser.parse_args()
    if args.list:
        for case in CASES:
            print("%s:%s" % (case.name, ",".join(case.arches)))
        return 0
    case = next(c for c in CASES if c.name == args.case)
    ctx = Context(args.arch, case)
    lay_out(ctx)
    report = run_driver(ctx, case_steps(ctx))
    check(ctx, report)
    for failure in ctx.failures:
        print("FAIL %s/%s: %s" % (args.arch, case.name, failure))
    if ctx.failures:
        return 1
    print("ok %s/%s" % (args.arch, case.name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
