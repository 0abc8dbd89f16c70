#!/usr/bin/env bash
# Builds tests with sanitizers and runs them.
#
#   scripts/test-sanitized.sh          AddressSanitizer + UndefinedBehaviorSanitizer
#                                      over the subsystem tests, in build/asan
#   scripts/test-sanitized.sh thread   ThreadSanitizer over the tests of the threaded
#                                      parts only, in build/tsan
#
# Only test executables are built (no benchmarks); -O1 keeps the instrumented
# build and run short on small machines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode="${1:-address,undefined}"
case "$mode" in
address,undefined)
    build="${VOICE_ASAN_BUILD_DIR:-$root/build/asan}"
    # The window and end-to-end tests are left out: they drive the whole
    # program through Qt and a real audio server, take several times longer
    # under ASan and exercise no code the subsystem tests do not already reach.
    # The layering check (build/) compiles a plain copy of the sources and
    # has no executable of its own to instrument.
    select=(-E '^(ui|e2e|build)/')
    # Leaks inside third-party libraries only; see the file for each entry.
    export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
    ;;
thread)
    build="${VOICE_TSAN_BUILD_DIR:-$root/build/tsan}"
    # Only the code that shares data between threads: the play sequence
    # (play thread, player's clip-end thread, SDL's audio thread, libpulse's
    # threads), the link check, the socket road, the clip downloads and the
    # update check with their aborts; the rest is
    # single-threaded. The login worker's test is left out: its hand-over goes
    # through Qt's event queue, whose locks TSan cannot see in the
    # uninstrumented Qt, so every login reports a race inside Qt.
    select=(-R '^(voice/Test(PlayHelper|PlayThread|SdlAudioPlayer|SpeakingOnPulse|ShieldOthers|OthersComeBack)|link/Test(LinkChecker|SocketHelper|MessageReader)|api/Test(ClipDownloader|UpdateCheck))$')
    # Races inside third-party libraries only; see the file for each entry.
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
    ;;
*)
    echo "usage: $0 [address,undefined|thread]" >&2
    exit 2
    ;;
esac
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
    -DVOICE_SANITIZE="$mode" \
    -DVOICE_BUILD_TESTS=ON
mapfile -t targets < <(ctest --test-dir "$build" -N "${select[@]}" |
    sed -n 's|^ *Test *#[0-9]*: [a-z0-9]*/||p')
# Two jobs: the machine is small and shared.
cmake --build "$build" --parallel 2 --target "${targets[@]}"
ctest --test-dir "$build" --output-on-failure --timeout 900 "${select[@]}"
