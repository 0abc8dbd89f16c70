#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a
# bounded number of inputs, starting from its seed corpus in fuzz/corpus/<target>.
# Kept crash inputs in fuzz/regressions/<target> are replayed first and must pass.
# Exit status: 0 when every target ran clean, 1 otherwise (the crash input is
# left in the artifacts folder named at the end).
#
# Environment: FUZZ_RUNS (inputs per target, default 10000), FUZZ_SECONDS (cap per
# target, default 8), FUZZ_BUILD_DIR (default build/fuzz), FUZZ_JOBS (default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${FUZZ_RUNS:-10000}
cap=${FUZZ_SECONDS:-8}
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
jobs=${FUZZ_JOBS:-2}
artifacts=$build/artifacts
mkdir -p "$build" "$artifacts"

if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is missing (apt-get install clang)" >&2
    exit 1
fi

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
    { tail -30 "$build/configure.log"; exit 1; }
grep 'fuzz:' "$build/configure.log" || true
read -r -a targets <<<"$(tr ';' ' ' <"$build/fuzz_targets.txt")"
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no target can be built yet"
    exit 0
fi
ninja -C "$build" -j"$jobs" "${targets[@]}" >"$build/build.log" 2>&1 ||
    { tail -40 "$build/build.log"; exit 1; }

# Debug lines of the program go to standard output; keep them out of the way.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
passed=0
failed=0
for t in "${targets[@]}"; do
    log=$build/$t.log
    status=ok
    work=$(mktemp -d)
    mkdir -p "$work.tmp"
    if [ -d "$root/fuzz/regressions/$t" ] && [ -n "$(ls -A "$root/fuzz/regressions/$t")" ]; then
        if ! TMPDIR="$work.tmp" "$build/$t" -runs=1 "$root/fuzz/regressions/$t"/* >"$log.regressions" 2>&1; then
            status="regression input fails (see $log.regressions)"
        fi
    fi
    if [ "$status" = ok ]; then
        cp "$root/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
        if ! TMPDIR="$work.tmp" "$build/$t" -runs="$runs" -max_total_time="$cap" -max_len=4096 -timeout=10 \
            -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
            -artifact_prefix="$artifacts/$t-" "$work" >"$log" 2>&1; then
            status="crash or leak (see $log; input in $artifacts)"
        fi
    fi
    rm -rf "$work" "$work.tmp"
    if [ "$status" = ok ]; then
        passed=$((passed + 1))
        done_runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
        echo "fuzz: $t ok ($done_runs inputs)"
    else
        failed=$((failed + 1))
        echo "fuzz: $t FAILED: $status"
        grep -a -h -E '^==[0-9]+==|^SUMMARY|runtime error' "$log"* | head -5 || true
    fi
done
echo "fuzz: targets passed $passed, failed $failed"
[ "$failed" -eq 0 ]
