#!/usr/bin/env bash
# Builds the test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# into build/asan and runs it. Only the test executables are built (no
# benchmarks); -O1 keeps the instrumented build and run short on small machines.
# The window and end-to-end tests are left out: they drive the whole program
# through Qt and a real audio server, take several times longer under ASan and
# exercise no code the subsystem tests do not already reach.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_ASAN_BUILD_DIR:-$root/build/asan}"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DVOICE_SANITIZE=address,undefined \
    -DVOICE_BUILD_TESTS=ON
exclude='^(ui|e2e)/'
mapfile -t targets < <(ctest --test-dir "$build" -N -E "$exclude" |
    sed -n 's|^ *Test *#[0-9]*: [a-z0-9]*/||p')
cmake --build "$build" --target "${targets[@]}"
# Leaks inside third-party libraries only; see the file for each entry.
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
ctest --test-dir "$build" --output-on-failure --timeout 900 -E "$exclude"
