#!/usr/bin/env bash
# Makes a fresh Wine prefix for the end-to-end tests.
#   make_prefix.sh DIR win64|win32
# A win64 prefix runs the 32-bit assistant under WoW64; a win32 prefix is a
# 32-bit Windows. Mono and Gecko are not installed: nothing here needs them.
set -euo pipefail
dir=$1
arch=$2
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ -x "$root/scripts/wine-i386" ]; then
  eval "$("$root/scripts/wine-i386")"
fi

export WINEPREFIX=$dir WINEARCH=$arch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -d "$dir" ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$dir"
fi
mkdir -p "$(dirname "$dir")"
wineboot -i
wineserver -w
# Keep the server warm for the tests that follow.
wineserver -p300
