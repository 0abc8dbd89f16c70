#!/usr/bin/env bash
# Audio faults against the voice side's services (bench/link_server in services
# mode, speaking the recorded clips of audio/clips): the audio server missing at
# start, killed in the middle of an announcement, and frozen (SIGSTOP) in the
# middle of one. Each time the cashier link must keep answering every message
# with OK and the process must stay up; the play queue must run dry and the
# process end cleanly when told to, with a frozen server within 5 s.
#
#   bench/faults.sh BIN_DIR        (BIN_DIR holds link_server and loadgen)
#
# Prints one line per check and "faults: N passed, M failed"; exit 1 on a failure.
set -uo pipefail

bin=${1:?usage: faults.sh BIN_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
export BENCH_CLIPS=$root/audio/clips
work=$(mktemp -d)
pids=()
passed=0
failed=0
cleanup() {
    for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

check() {  # check NAME CONDITION-RESULT DETAIL
    if [ "$2" = yes ]; then
        passed=$((passed + 1))
        echo "PASS $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1 ($3)"
    fi
}

field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }

start_link() {  # start_link NAME: sets link_pid, link_port, link_out
    for _ in 1 2 3 4 5 6; do
        link_port=$((20000 + RANDOM % 20000))
        link_out=$work/$1.out
        "$bin/link_server" "$link_port" services >"$link_out" 2>"$work/$1.err" &
        link_pid=$!
        for _ in $(seq 50); do
            grep -q '^listening' "$link_out" 2>/dev/null && { pids+=("$link_pid"); return 0; }
            kill -0 "$link_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$link_pid" 2>/dev/null
        wait "$link_pid" 2>/dev/null
    done
    return 1
}

# Gives the play queue until $deadline (bash SECONDS) to run dry (the server
# prints "queue=0 busy=0" then), ends the server, which prints how many
# announcements were still waiting.
finish_link() {  # finish_link NAME
    local rc=0
    sleep 0.5
    while [ "$SECONDS" -lt "$deadline" ] && kill -0 "$link_pid" 2>/dev/null &&
        [ "$(grep '^queue=' "$link_out" | tail -1)" != "queue=0 busy=0" ]; do
        sleep 0.2
    done
    kill -TERM "$link_pid" 2>/dev/null
    wait "$link_pid" || rc=$?
    check "$1: process ends cleanly when told" "$([ $rc -eq 0 ] && echo yes || echo no)" \
        "exit status $rc"
    local queued
    queued=$(sed -n 's/.*queued=\([0-9]*\).*/\1/p' "$link_out")
    check "$1: the play queue ran dry" "$([ "${queued:-x}" = 0 ] && echo yes || echo no)" \
        "queued=${queued:-unknown}"
}

answers_all() {  # answers_all NAME SECONDS MESSAGE...
    local name=$1 secs=$2
    shift 2
    local args=() m
    for m in "$@"; do args+=(--message "$m"); done
    local line
    line=$("$bin/loadgen" --port "$link_port" --conns 20 --seconds "$secs" "${args[@]}")
    local sent unans
    sent=$(field sent "$line")
    unans=$(field unanswered "$line")
    check "$name: every message answered OK" \
        "$([ "${unans:-1}" = 0 ] && [ "${sent:-0}" -gt 0 ] && echo yes || echo no)" "$line"
}

alive() {  # alive NAME
    check "$1: process still up" "$(kill -0 "$link_pid" 2>/dev/null && echo yes || echo no)" \
        "$(tail -3 "$work"/*.err 2>/dev/null | tr '\n' ' ')"
}

# ---- 1. no audio server at start ------------------------------------------------
export SDL_AUDIODRIVER=pulseaudio
export PULSE_SERVER=unix:$work/no-such-server
if start_link missing; then
    answers_all "no audio server" 2 x,download
    "$bin/loadgen" --port "$link_port" --conns 1 --seconds 5 --max-messages 3 \
        --message 12,101 >/dev/null
    alive "no audio server"
    deadline=$((SECONDS + 4))
    finish_link "no audio server"
else
    check "no audio server: starts without one" no "$(tail -3 "$work/missing.err")"
fi

# ---- 2. audio server killed mid-announcement --------------------------------------
. "$root/scripts/private-pulse.sh"
# start_pulse DIR: a daemon of its own for one case; sets $pulse_pid.
start_pulse() {
    pulse_pid=
    private_pulse_start "$1" faults_null || return 1
    pulse_pid=$PRIVATE_PULSE_PID
    pids+=("$pulse_pid")
}
if start_pulse "$work/pulse" && start_link killed; then
    "$bin/loadgen" --port "$link_port" --conns 1 --seconds 5 --max-messages 1 \
        --message 12,101 >/dev/null
    sleep 1.5  # the play thread has started speaking by now
    kill -9 "$pulse_pid"
    wait "$pulse_pid" 2>/dev/null
    PRIVATE_PULSE_PID=
    answers_all "audio server killed" 3 x,download
    # One more announcement after the loss: it must not get stuck either.
    "$bin/loadgen" --port "$link_port" --conns 1 --seconds 5 --max-messages 1 \
        --message 13,102 >/dev/null
    alive "audio server killed"
    deadline=$((SECONDS + 60))
    finish_link "audio server killed"
else
    check "audio server killed: set-up" no "pulseaudio or link_server did not start"
fi

# ---- 3. audio server frozen mid-announcement ----------------------------------------
# SIGSTOP: the server keeps its socket and never answers. Told to end, the
# process must still leave within 5 s; the time it took is printed.
if start_pulse "$work/pulse-frozen" && start_link frozen; then
    "$bin/loadgen" --port "$link_port" --conns 1 --seconds 5 --max-messages 1 \
        --message 12,101 >/dev/null
    sleep 1.5
    kill -STOP "$pulse_pid"
    answers_all "audio server frozen" 2 x,download
    alive "audio server frozen"
    asked=$(date +%s%N)
    kill -TERM "$link_pid"
    for _ in $(seq 300); do kill -0 "$link_pid" 2>/dev/null || break; sleep 0.1; done
    took_ms=$((($(date +%s%N) - asked) / 1000000))
    rc=0
    if kill -0 "$link_pid" 2>/dev/null; then
        check "audio server frozen: process ends within 5 s when told" no \
            "still running after ${took_ms} ms"
        kill -9 "$link_pid"
        wait "$link_pid" 2>/dev/null
    else
        wait "$link_pid" 2>/dev/null || rc=$?
        check "audio server frozen: process ends within 5 s when told" \
            "$([ "$took_ms" -le 5000 ] && [ $rc -eq 0 ] && echo yes || echo no)" \
            "took ${took_ms} ms, exit status $rc"
        echo "     (ended ${took_ms} ms after SIGTERM, exit status $rc)"
    fi
    kill -CONT "$pulse_pid"
    kill -9 "$pulse_pid"
    wait "$pulse_pid" 2>/dev/null
else
    check "audio server frozen: set-up" no "pulseaudio or link_server did not start"
fi

echo "faults: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
