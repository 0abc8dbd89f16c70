#!/usr/bin/env bash
# Runs the whole test suite on a fresh Debian 12 machine: installs the packages,
# builds, runs every test, runs each fuzz target for a bounded number of
# inputs (fuzz/run.sh; skip it with VOICE_SKIP_FUZZ=1), then builds the tests
# again with AddressSanitizer and UndefinedBehaviorSanitizer, and those of the
# threaded parts with ThreadSanitizer, and runs them (scripts/test-sanitized.sh;
# skip both with VOICE_SKIP_SANITIZED=1).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_BUILD_DIR:-$root/build/test}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 600
if [ "${VOICE_SKIP_FUZZ:-0}" != 1 ]; then
    "$root/fuzz/run.sh"
fi
if [ "${VOICE_SKIP_SANITIZED:-0}" != 1 ]; then
    "$root/scripts/test-sanitized.sh"
    "$root/scripts/test-sanitized.sh" thread
fi
