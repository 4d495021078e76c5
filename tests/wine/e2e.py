#!/usr/bin/python3
"""End-to-end cases of the finished executable under Wine.

Each case lays out a folder inside the prefix's C: drive with the assistant
and, where the case wants one, a stand-in iesetup.exe; then one run of the
Windows-side driver prepares the registry, starts the assistant with an exact
command line, reads its full 32-bit exit code and reports the registry
afterwards. Some cases change how Wine runs the driver and all it starts:
library overrides, or a trace of the libraries each process loads.

    e2e.py --list
    e2e.py --arch win64|win32 --case NAME

WINEPREFIX names a prefix made by make_prefix.sh; ASSISTANT_WINDOWS_BUILD the
Windows build with the executable; TOOLS the folder with the driver and the
stand-in (driver32.exe, driver64.exe, standin32.exe, standin64.exe), the
library that leaves a mark (mark32.dll) and its control (control32.exe).
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys

BROWSER_KEY = "SOFTWARE\\Microsoft\\Internet Explorer"
RUNONCE_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
IE8 = "8.0.6001.18702"
IE7 = "7.0.5730.13"
SESSION_MANAGER = "System\\CurrentControlSet\\Control\\Session Manager"
REG_SZ = 1
REG_DWORD = 4
MINUS_ONE = 0xFFFFFFFF
# How long the end of a pipe may take once the process it was given to ended.
PIPE_SECONDS = "5"

# Names of system libraries that Windows does not count as known ones, so
# that it looks for them in a program's own folder first. Wine's SHELL32
# pulls in version (through USER32) and shcore (through SHLWAPI) by name.
PLANTED = ("version", "profapi", "propsys", "cryptbase", "uxtheme", "dwmapi",
           "shcore", "userenv")
# Native first: Wine would otherwise load its own copy wherever one lies.
PLANTED_FIRST = ",".join(PLANTED) + "=n,b"


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
                 welcome=True, command_line=None, plant=None,
                 overrides=None, trace=False, pipe=None, check=None):
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
        # Copies of mark32.dll under the PLANTED names: "beside" the
        # assistant, or in its current directory ("cwd").
        self.plant = plant
        self.overrides = overrides    # added to WINEDLLOVERRIDES
        self.trace = trace            # Wine logs every library loaded
        # The driver passes the assistant an inheritable pipe, as its
        # standard output and error ("output") or only as a handle it could
        # inherit ("handle"); the pipe must reach its end once the assistant
        # ends, while a child its installer started still runs.
        self.pipe = pipe
        self.check = check            # further checks: fn(ctx)


# C:\e2e\ plus this folder is 250 units: the assistant's own path, with the
# name a.exe (256 units), fits in MAX_PATH; "\iesetup.exe" behind the folder
# does not, although a stand-in lies there.
LONG_FOLDER = "L" * (250 - len("C:\\e2e\\"))

# IE8 is there: the assistant starts nothing, writes nothing and ends with -1.
PRESENT = dict(version_before=IE8, exit_code=MINUS_ONE, started=False,
               welcome=False)


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
    # The installer's "restart needed" is not passed on either.
    Case("setup_restart_code_ignored", env={"STANDIN_EXIT": "3010"}),
    # A newer browser (IE11 here, as a new prefix has it) does not count as
    # IE8: the installer runs, refuses, and the run ends with 0.
    Case("newer_browser", version_before="9.11.9600.18376", installs=False,
         welcome=False, env={"STANDIN_EXIT": "1"}),
    Case("no_room_for_setup_name", folder=LONG_FOLDER, assistant="a.exe",
         started=False, welcome=False),
] + [
    # No library planted beside the assistant, or in the folder it runs in,
    # is loaded into it: neither when IE8 is there, nor on a full run, which
    # loads both shell libraries. The same run of the control leaves marks.
    Case("planted_%s_%s" % (where, run), plant=where, overrides=PLANTED_FIRST,
         cwd=(None if where == "beside"
              else "C:\\e2e\\planted_%s_%s\\planted" % (where, run)),
         **(PRESENT if run == "present" else {}))
    for where in ("beside", "cwd") for run in ("present", "installs")
] + [
    # A shell library that cannot be had fails the operation that needs it:
    # without SHLWAPI no installer's path, without SHELL32 no welcome entry.
    Case("without_shlwapi", overrides="shlwapi=", started=False,
         welcome=False),
    Case("without_shell32", overrides="shell32=", welcome=False),
    Case("present_loads_no_shell_library", trace=True, **PRESENT),
] + [
    # The caller's handles stay with the caller: none reaches the installer
    # and what it starts.
    Case("caller_%s_stays_with_caller" % how, pipe=how,
         env={"STANDIN_SPAWN": "C:\\e2e\\caller_%s_stays_with_caller"
                               "\\child.txt" % how,
              "STANDIN_EVENT": "assistant-e2e-release-%s-child" % how})
    for how in ("output", "handle")
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
        # The planted libraries lie beside the assistant, or in the folder
        # it runs in; the control lies beside the assistant.
        self.planted = (self.folder if case.plant == "beside"
                        else os.path.join(self.folder, "planted"))
        self.control_win = self.win_folder + "\\control.exe"
        self.log = os.path.join(self.folder, "wine.log")

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
    if case.plant:
        os.makedirs(ctx.planted, exist_ok=True)
        for name in PLANTED:
            shutil.copy(os.path.join(ctx.tools, "mark32.dll"),
                        os.path.join(ctx.planted, name + ".dll"))
        shutil.copy(os.path.join(ctx.tools, "control32.exe"),
                    os.path.join(ctx.folder, "control.exe"))


def case_steps(ctx):
    case = ctx.case
    steps = [
        ("delvalue", "32", "HKLM", BROWSER_KEY, "Version"),
        ("delvalue", "64", "HKLM", BROWSER_KEY, "Version"),
        ("delvalue", "32", "HKCU", RUNONCE_KEY, "IE_Welcome"),
        ("delvalue", "64", "HKLM", SESSION_MANAGER, "SafeDllSearchMode"),
    ]
    if case.plant == "cwd":
        # The current directory before the system folder, as on Windows
        # before XP SP2: otherwise Wine's loader finds its own copy of every
        # one of these names in the system folder before it looks in the
        # current directory, and the control could leave no mark.
        steps.append(("set", "64", "HKLM", SESSION_MANAGER,
                      "SafeDllSearchMode", str(REG_DWORD), "00000000"))
    if case.version_before:
        steps.append(("set", "32", "HKLM", BROWSER_KEY, "Version",
                      str(REG_SZ), utf16_hex(case.version_before, True)))
    steps += case.steps
    if case.plant:
        steps.append(("run", case.cwd or "-",
                      utf16_hex('"%s"' % ctx.control_win)))
    if case.pipe:
        # The control: the stand-in started straight from the driver, which
        # passes it the pipe, hands it on to its child, so the pipe stays
        # open while that child waits.
        child = ctx.win_folder + "\\control-child.txt"
        event = "assistant-e2e-release-control-child-" + case.pipe
        steps += [
            ("env", "STANDIN_RECORD", ctx.win_folder + "\\control-record.txt"),
            ("env", "STANDIN_SPAWN", child),
            ("env", "STANDIN_EVENT", event),
            ("runpipe", "standin", case.pipe, "-",
             utf16_hex('"%s\\iesetup.exe"' % ctx.win_folder), PIPE_SECONDS),
            ("exists", child), ("signal", event), ("waitfile", child, "600"),
        ]
    env = {"STANDIN_RECORD": ctx.record_win}
    if case.installs:
        env["STANDIN_VERSION"] = IE8
    env.update(case.env)
    for name, value in sorted(env.items()):
        steps.append(("env", name, value))
    command_line = '"%s\\%s"' % (ctx.win_folder, case.assistant)
    if case.tail:
        command_line += " " + case.tail
    if case.pipe:
        steps.append(("runpipe", "assistant", case.pipe, case.cwd or "-",
                      utf16_hex(command_line), PIPE_SECONDS))
    else:
        steps.append(("run", case.cwd or "-", utf16_hex(command_line)))
    if "STANDIN_SPAWN" in case.env:
        steps.append(("exists", case.env["STANDIN_SPAWN"]))
        steps.append(("signal", case.env["STANDIN_EVENT"]))
        steps.append(("waitfile", case.env["STANDIN_SPAWN"], "600"))
    steps.append(("get", "32", "HKCU", RUNONCE_KEY, "IE_Welcome"))
    steps.append(("get", "32", "HKLM", BROWSER_KEY, "Version"))
    if case.plant == "cwd":
        steps.append(("delvalue", "64", "HKLM", SESSION_MANAGER,
                      "SafeDllSearchMode"))
    return steps


def run_driver(ctx, steps):
    case_file = os.path.join(ctx.folder, "case.txt")
    out_file = os.path.join(ctx.folder, "out.txt")
    with open(case_file, "w", encoding="utf-8", newline="\n") as f:
        for step in steps:
            f.write("\t".join(step) + "\n")
    # Wine's output goes to a file, never to a pipe of the caller's: a Wine
    # service started by this run would hold that open while the server runs.
    log_file = ctx.log
    # Wine takes the library overrides from the environment of the Linux
    # process it was started in, and every process of the run inherits
    # them; a WINEDLLOVERRIDES the driver sets for its children is ignored.
    env = dict(os.environ)
    driver = ctx.driver
    if ctx.case.overrides or ctx.case.trace:
        # The first Wine process of a server's life starts the prefix's
        # services, and they keep its environment. Started without SHLWAPI
        # or SHELL32, they leave every later Wine process of that server
        # waiting five minutes before it runs; started with a trace, they
        # would write into this case's log. So the driver, with nothing to
        # do, starts them first with the tests' own environment.
        no_steps = os.path.join(ctx.folder, "no_steps.txt")
        open(no_steps, "w").close()
        with open(os.path.join(ctx.folder, "boot.log"), "wb") as log:
            subprocess.run(["wine", ctx.driver, windows_path(no_steps),
                            windows_path(out_file)],
                           stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                           check=True)
    if ctx.case.overrides:
        env["WINEDLLOVERRIDES"] = ";".join(
            filter(None, [env.get("WINEDLLOVERRIDES"), ctx.case.overrides]))
        # Under win64, Wine starts a 64-bit program through a 32-bit
        # start.exe, which imports SHELL32 and would not start without it;
        # the 32-bit driver starts straight away in both prefixes.
        driver = os.path.join(ctx.tools, "driver32.exe")
    if ctx.case.trace:
        env["WINEDEBUG"] = "+pid,+loaddll"
    for attempt in (1, 2):
        if os.path.exists(out_file):
            os.remove(out_file)
        with open(log_file, "wb") as log:
            status = subprocess.run(["wine", driver, windows_path(case_file),
                                     windows_path(out_file)],
                                    stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=log, env=env).returncode
        with open(log_file, errors="replace") as log:
            said = log.read()
        # Now and then Wine's start.exe, which starts a 64-bit program for
        # `wine`, fails before the driver has run at all ("ShellExecuteEx
        # failed: Internal error"): nothing has happened yet, so once more.
        if (status == 0 or os.path.exists(out_file)
                or "ShellExecuteEx failed" not in said):
            break
        sys.stdout.write("wine could not start the driver; once more\n")
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

    # The installer's own work, or the value as the case left it.
    version = report.get(("get", "Version"))
    expected = IE8 if case.started and case.installs else case.version_before
    if expected:
        ctx.expect("browser Version afterwards",
                   version[2:] if version else None,
                   [str(REG_SZ), utf16_hex(expected, True)])

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
    if case.plant:
        check_marks(ctx)
    if case.trace:
        check_loaded(ctx)
    if case.pipe:
        check_pipe(ctx, report)
    if case.check:
        case.check(ctx)


def read_marks(ctx):
    """{library name: [programs that loaded that copy]}"""
    marks = {}
    for path in sorted(glob.glob(os.path.join(ctx.planted, "*.mark"))):
        with open(path, "rb") as f:
            programs = f.read().decode("utf-16-le").split("\r\n")
        name = os.path.basename(path)[:-len(".mark")]
        marks[name] = [p for p in programs if p]
    return marks


def check_marks(ctx):
    by_control, by_run = [], {}
    for name, programs in read_marks(ctx).items():
        for program in programs:
            if program.lower() == ctx.control_win.lower():
                by_control.append(name)
            else:
                by_run.setdefault(name, []).append(program)
    ctx.expect("planted libraries loaded by the run", by_run, {})
    # Without this the case proves nothing: the planted copies would not
    # have been loaded by anything.
    if not by_control:
        ctx.failures.append("the control, which imports SHELL32, loaded none"
                            " of the planted libraries")


LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)"'
                    r' at [0-9A-Fa-f]+: \w+')


def check_loaded(ctx):
    """The trace of the assistant's process names neither shell library."""
    assistant = (ctx.win_folder + "\\" + ctx.case.assistant).lower()
    loads = []
    with open(ctx.log, errors="replace") as log:
        for line in log:
            match = LOADED.match(line)
            if match:
                loads.append((match.group(1),
                              match.group(2).replace("\\\\", "\\")))
    pids = {pid for pid, path in loads if path.lower() == assistant}
    if len(pids) != 1:
        ctx.failures.append("the trace shows the assistant loaded by %d"
                            " processes, expected 1" % len(pids))
        return
    names = sorted({path.rsplit("\\", 1)[-1].lower()
                    for pid, path in loads if pid in pids})
    ctx.expect("shell libraries in the assistant's trace",
               [n for n in names if n in ("shell32.dll", "shlwapi.dll")], [])


def check_pipe(ctx, report):
    # The control must keep the pipe open, or this case could not fail.
    ctx.expect("pipe held by the child of a stand-in the driver started",
               report.get(("pipe", "standin"), [None] * 3)[2], "open")
    child = ctx.win_folder + "\\control-child.txt"
    ctx.expect("control child done before its pipe was read",
               report.get(("exists", child), [None] * 3)[2], "0")
    ctx.expect("control child released",
               report.get(("waitfile", child), [None] * 3)[2], "1")
    ctx.expect("pipe once the assistant ended, its installer's child still"
               " waiting", report.get(("pipe", "assistant"), [None] * 3)[2],
               "eof")


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
