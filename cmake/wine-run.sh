#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly and without any window: the
# emulator CTest uses for the cross-built tests (see mingw-w64-x86_64.cmake).
#   cmake/wine-run.sh [--prefix DIR] PROGRAM.exe [ARGS...]
# DIR is the prefix of scripts/windows-deps.sh; its DLLs (Qt) and the MinGW
# runtime DLLs are found through WINEPATH, so nothing is copied beside the
# program.
set -euo pipefail
prefix=""
if [ "${1:-}" = --prefix ]; then
  prefix=$2
  shift 2
fi
[ $# -ge 1 ] || { echo "usage: $0 [--prefix DIR] PROGRAM.exe [ARGS...]" >&2; exit 2; }

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64  # Debian's wine64 package has no /usr/bin link
[ -x "$wine" ] || { echo "$0: wine64 not found; install the wine64 package" >&2; exit 1; }

runtime=$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)
[ -f "$runtime" ] || { echo "$0: the MinGW runtime DLLs are missing (g++-mingw-w64-x86-64-posix)" >&2; exit 1; }
dirs=()
[ -z "$prefix" ] || dirs+=("$prefix/bin")
dirs+=("$(dirname "$runtime")" /usr/x86_64-w64-mingw32/lib)
winepath=""
for d in "${dirs[@]}"; do
  d=$(realpath -m "$d")
  winepath+="Z:${d//\//\\};"
done
export WINEPATH="$winepath${WINEPATH:-}"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko download prompts; the tests need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ -z "${WINEPREFIX:-}" ]; then
  if [ -n "$prefix" ]; then
    WINEPREFIX=$(realpath -m "$prefix/../wine")
  else
    WINEPREFIX=${XDG_CACHE_HOME:-$HOME/.cache}/voice-wine
  fi
fi
export WINEPREFIX
# Tests run in parallel: let only one of them create the Wine prefix.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1 || true
    "$(dirname "$(realpath "$wine")")/wineserver" -w || true
  ) 9>"$WINEPREFIX.lock"
  [ -f "$WINEPREFIX/system.reg" ] || { echo "$0: could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
fi
exec "$wine" "$@"
