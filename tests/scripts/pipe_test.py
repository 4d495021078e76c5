#!/usr/bin/python3
"""Runs a script the way a caller who keeps its output does, out=$(script)
or script | tee log: with its standard output and error going into one
pipe that is read to its end. Wine's server and the services it starts keep
the output they were given open for as long as the server runs, minutes
after the script has ended; a script that hands its own output to a Wine
program leaves its caller waiting that long.

    pipe_test.py --prefix PREFIX [--fresh DIR | --stop-server]
                 [--expect TEXT]... [--limit SECONDS] -- COMMAND...

PREFIX is the Wine prefix COMMAND uses. Before COMMAND runs:
  --fresh DIR     DIR (which holds PREFIX) is removed, so that COMMAND makes
                  its prefix anew, as on a fresh clone;
  --stop-server   PREFIX's Wine server is stopped, so that COMMAND starts
                  one itself.

Fails when COMMAND does not end within the limit or ends with a status other
than 0, when its output lacks an expected text, when the pipe is still open
a few seconds after COMMAND has ended (the processes holding it are named),
and when no Wine server for PREFIX runs once COMMAND has ended: then nothing
was left that could hold the pipe, and the run could not tell a script that
gives its output back from one that does not. PREFIX's server is stopped
at the end.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

# How long the pipe may stay open after COMMAND has ended: long enough for
# processes that are ending with it, far shorter than a server's life.
GRACE_SECONDS = 20


def server_folder_name(prefix):
    """Wine's server for a prefix works in a folder named after the
    prefix's device and inode."""
    status = os.stat(prefix)
    return "server-%x-%x" % (status.st_dev, status.st_ino)


def processes():
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            yield int(entry)


def read_proc(pid, what):
    try:
        with open("/proc/%d/%s" % (pid, what), "rb") as f:
            return f.read()
    except OSError:
        return b""


def servers_of(prefix):
    if not os.path.isdir(prefix):
        return []
    name = server_folder_name(prefix)
    found = []
    for pid in processes():
        if not read_proc(pid, "comm").startswith(b"wineserver"):
            continue
        try:
            cwd = os.readlink("/proc/%d/cwd" % pid)
        except OSError:
            continue
        if os.path.basename(cwd) == name:
            found.append(pid)
    return found


def holders_of(pipe_inode):
    """The processes, other than this one, with the pipe open."""
    link = "pipe:[%d]" % pipe_inode
    found = []
    for pid in processes():
        if pid == os.getpid():
            continue
        try:
            fds = os.listdir("/proc/%d/fd" % pid)
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == link:
                    command = read_proc(pid, "cmdline").replace(b"\0", b" ")
                    found.append("%d %s" % (pid, command.decode(
                        "utf-8", "replace").strip()))
                    break
            except OSError:
                continue
    return found


def stop_server(prefix):
    if not os.path.isdir(prefix):
        return
    env = dict(os.environ, WINEPREFIX=prefix)
    subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 30
    while servers_of(prefix) and time.monotonic() < deadline:
        time.sleep(0.2)


class PipeReader(threading.Thread):
    """Reads the pipe to its end; notes when the end came."""

    def __init__(self, pipe):
        super().__init__(daemon=True)
        self.pipe = pipe
        self.chunks = []
        self.ended_at = None

    def run(self):
        while True:
            chunk = os.read(self.pipe.fileno(), 65536)
            if not chunk:
                break
            self.chunks.append(chunk)
        self.ended_at = time.monotonic()

    def text(self):
        return b"".join(self.chunks).decode("utf-8", "replace")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    before = parser.add_mutually_exclusive_group()
    before.add_argument("--fresh")
    before.add_argument("--stop-server", action="store_true")
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("--limit", type=float, default=900)
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()
    prefix = os.path.abspath(args.prefix)

    if args.fresh:
        fresh = os.path.abspath(args.fresh)
        if os.path.commonpath([fresh, prefix]) != fresh:
            parser.error("--fresh must name a folder that holds the prefix")
        stop_server(prefix)
        shutil.rmtree(fresh, ignore_errors=True)
    elif args.stop_server:
        stop_server(prefix)

    failures = []
    started = time.monotonic()
    script = subprocess.Popen(args.command, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              start_new_session=True)
    pipe_inode = os.fstat(script.stdout.fileno()).st_ino
    reader = PipeReader(script.stdout)
    reader.start()
    try:
        status = script.wait(timeout=args.limit)
    except subprocess.TimeoutExpired:
        os.killpg(script.pid, signal.SIGKILL)
        status = script.wait()
        failures.append("the script did not end within %d s" % args.limit)
    ended = time.monotonic()
    print("script ended after %.1f s with status %d" % (ended - started, status))

    reader.join(GRACE_SECONDS)
    servers = servers_of(prefix)
    if reader.is_alive():
        holders = holders_of(pipe_inode)
        failures.append(
            "the script's output was still open %d s after the script had "
            "ended, held by:\n  %s" % (GRACE_SECONDS, "\n  ".join(
                holders or ["(no process found)"])))
    else:
        print("its output ended %.1f s after the script" %
              max(0.0, reader.ended_at - ended))
    if servers:
        print("Wine server for %s still running: %s" % (
            prefix, ", ".join(str(pid) for pid in servers)))
    else:
        failures.append("no Wine server for %s was running after the script "
                        "had ended, so this run cannot tell whether the "
                        "script gives its output back" % prefix)

    stop_server(prefix)
    reader.join(30)
    output = reader.text()
    if status != 0:
        failures.append("the script ended with status %d" % status)
    for text in args.expect:
        if text not in output:
            failures.append("the script's output lacks %r" % text)

    if failures:
        print("--- the script's output ---")
        print(output)
        print("---")
        for failure in failures:
            print("FAIL: " + failure)
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
