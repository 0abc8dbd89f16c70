# Sourced by bench/drain.sh and bench/flood.sh: the voice side's services
# (bench/link_server in services mode) speaking 20 ms tones under the recorded
# clips' names on SDL's dummy device, so that a queue is spoken in minutes.
# Needs $bin (holding link_server) and $root set by the caller; sets up $work,
# a scratch folder removed at exit together with the server.
#
#   start_tone_services    sets $pid and $port; the server's output goes to
#                          $work/out and $work/err. Exits 1 when it cannot start.
#   stop_tone_services     5 s after the last load, sets $later (resident memory
#                          then, KiB), ends the server and sets $rc (its exit status)
#   rss PID                resident memory in KiB

work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

rss() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

start_tone_services() {
    mkdir -p "$work/clips"
    local clip
    for clip in "$root"/audio/clips/*; do
        sox -q -n -r 44100 -c 1 -b 16 -t wav "$work/clips/$(basename "$clip")" synth 0.02 sine 800
    done
    export BENCH_CLIPS=$work/clips SDL_AUDIODRIVER=dummy
    pid=
    for _ in 1 2 3 4 5 6; do
        port=$((20000 + RANDOM % 20000))
        "$bin/link_server" "$port" services >"$work/out" 2>"$work/err" &
        pid=$!
        for _ in $(seq 50); do
            grep -q '^listening' "$work/out" && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        grep -q '^listening' "$work/out" && return 0
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        pid=
    done
    echo "Not run: link_server did not start ($(tail -1 "$work/err"))."
    exit 1
}

stop_tone_services() {
    sleep 5
    later=$(rss "$pid")
    kill -TERM "$pid"
    wait "$pid"
    rc=$?
    pid=
}
