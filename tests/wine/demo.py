#!/usr/bin/python3
"""Shows the assistant at work under Wine: once on a machine without
Internet Explorer 8, with the stand-in installer, and once more now that it
is "installed". Prints what happened in plain words."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402


def describe(title, case, arch="win64", before=None):
    ctx = e2e.Context(arch, case)
    e2e.lay_out(ctx)
    steps = e2e.case_steps(ctx)
    if case.version_before is None:
        # Keep what the first run installed and registered.
        steps = [s for s in steps if s[0] != "delvalue"]
    report = e2e.run_driver(ctx, steps)
    code = int(report[("exit",)][1])
    record = e2e.read_record(ctx)
    welcome = report.get(("get", "IE_Welcome"))
    version = report.get(("get", "Version"))

    print(title)
    print("  started as:   %s\\%s %s" % (ctx.win_folder, case.assistant,
                                        case.tail))
    print("  exit code:    %d (0x%08X, %d as a signed number)"
          % (code, code, code - (1 << 32) if code >= 1 << 31 else code))
    if record is None:
        print("  installer:    not started")
    else:
        print("  installer:    started with the command line %s"
              % record["cmdline"])
    if welcome and before and welcome == before:
        print("  IE_Welcome:   unchanged: this run wrote nothing")
    elif welcome and welcome[2] != "missing":
        text = bytes.fromhex(welcome[3]).decode("utf-16-le").rstrip("\0")
        print("  IE_Welcome:   %s (type %s, %d bytes)"
              % (text, welcome[2], len(welcome[3]) // 2))
    else:
        print("  IE_Welcome:   not written")
    if version and version[2] != "missing":
        print("  Version now:  %s"
              % bytes.fromhex(version[3]).decode("utf-16-le").rstrip("\0"))
    print()
    return welcome


def main():
    welcome = describe("Run 1: Internet Explorer 7 installed, the installer installs 8",
             e2e.Case("demo_absent", folder="Demo Package",
                      tail="/quiet /norestart"))
    describe("Run 2: Internet Explorer 8 is now installed",
             e2e.Case("demo_present", folder="Demo Package",
                      version_before=None, tail="/quiet /norestart"),
             before=welcome)
    return 0


if __name__ == "__main__":
    sys.exit(main())
