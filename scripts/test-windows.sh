#!/usr/bin/env bash
# Builds the Windows x64 libraries and tests with MinGW-w64 against the
# dependency cache of scripts/windows-deps.sh (built first when missing) and
# runs the tests under Wine through CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_WINDOWS_BUILD_DIR:-$root/build/windows}"
"$root/scripts/windows-deps.sh" >/dev/null
prefix=$("$root/scripts/windows-deps.sh" --print-prefix)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DVOICE_WINDOWS_PREFIX="$prefix"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 600
