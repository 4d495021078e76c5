#!/usr/bin/env bash
# Runs clang-tidy on the project's own code and fails on any finding.
#   run_clang_tidy.sh CLANG_TIDY MINGW_CXX SOURCE_DIR -- HOST_FILES... -- WINDOWS_FILES...
# The host files are analysed as the host build compiles them. The Windows
# build's files (windows_platform.cpp and the entry point need the mingw-w64
# headers) are analysed for the 32-bit mingw-w64 target, with the include
# folders that the mingw-w64 compiler itself uses, so that <windows.h> and
# its C++ library are the ones the shipped executable is built against.
set -euo pipefail
tidy=$1
mingw=$2
root=$3
shift 3
[ "$1" = "--" ] && shift
host=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do host+=("$root/$1"); shift; done
[ $# -gt 0 ] && shift
windows=()
for f in "$@"; do windows+=("$root/$f"); done

config="$root/tests/analysis/clang-tidy.yaml"
flags=(-std=c++17 -I"$root")

echo "== host files"
"$tidy" --quiet --config-file="$config" "${host[@]}" -- "${flags[@]}"

# The mingw-w64 compiler's own search list, less its fixed-up headers (GCC's
# fixes for GCC's own use, which clang does not need).
mapfile -t includes < <("$mingw" -xc++ -E -v /dev/null 2>&1 |
  sed -n '/#include <...> search starts here/,/End of search list/p' |
  sed '1d;$d' | sed 's/^ *//' | grep -v 'include-fixed')
[ ${#includes[@]} -gt 0 ] || { echo "no include folders from $mingw" >&2; exit 1; }
isystem=()
for dir in "${includes[@]}"; do isystem+=(-isystem "$dir"); done

echo "== Windows build files"
"$tidy" --quiet --config-file="$config" "${windows[@]}" -- \
  --target=i686-w64-mingw32 -nostdinc++ -nostdlibinc "${isystem[@]}" \
  "${flags[@]}" -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN
