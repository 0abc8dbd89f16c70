#!/usr/bin/env bash
# Runs the whole test suite on a fresh Debian 12 machine: installs the packages,
# builds, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_BUILD_DIR:-$root/build/test}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 600
