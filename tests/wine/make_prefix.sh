#!/usr/bin/env bash
# Makes a fresh Wine prefix for the end-to-end tests.
#   make_prefix.sh DIR win64|win32
# A win64 prefix runs the 32-bit assistant under WoW64; a win32 prefix is a
# 32-bit Windows. Mono and Gecko are not installed: nothing here needs them.
#
# Wine's services outlive the command that started them and keep its output
# open for as long as the server runs, so every Wine command here writes to a
# log file, never to the caller's output: a caller that reads this script's
# output to its end (CTest does) would otherwise wait for the server.
set -euo pipefail
dir=$1
arch=$2
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ -x "$root/scripts/wine-i386" ]; then
  eval "$("$root/scripts/wine-i386")"
fi

export WINEPREFIX=$dir WINEARCH=$arch WINEDEBUG=-all
# No debugger either: under qemu an emulated service crashes now and then,
# and the debugger Wine would start for it can hang the boot.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
log=$dir.log
mkdir -p "$(dirname "$dir")"
: > "$log"

boot() {
  wineserver -k </dev/null >>"$log" 2>&1 || true
  rm -rf "$dir"
  if ! timeout 300 wineboot -i </dev/null >>"$log" 2>&1 ||
    ! timeout 300 wineserver -w </dev/null >>"$log" 2>&1; then
    wineserver -k </dev/null >>"$log" 2>&1 || true
    return 1
  fi
  grep -q "^#arch=$arch" "$dir/system.reg" 2>/dev/null
}

# Emulated 32-bit services crash now and then while a prefix is first made;
# a second attempt starts from nothing again.
if ! boot && ! boot; then
  echo "make_prefix: could not make a $arch prefix in $dir:" >&2
  cat "$log" >&2
  exit 1
fi
# Keep the server warm for the tests that follow.
wineserver -p900 </dev/null >>"$log" 2>&1
echo "made a $arch prefix in $dir"
