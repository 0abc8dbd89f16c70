# A PulseAudio daemon of our own, for the demo, the benchmarks and the fault
# scripts: its own runtime and state folders, no configuration file (-n), a
# null sink as its only output, the native protocol on a socket of its own and
# module-stream-restore, which a desktop loads too (it remembers stream
# volumes, so the program meets what it meets on a real desktop).
#
# Source it, then:
#   private_pulse_start DIR SINK [ARG...]
#                                  starts it under DIR (runtime/, state/, native,
#                                  daemon.log), with any further daemon arguments
#                                  (--log-level=debug); sets PRIVATE_PULSE_PID and
#                                  exports PULSE_SERVER; returns 1 when it did not come up
#   private_pulse_stop             ends it (SIGTERM, then waits) and unsets PULSE_SERVER
#
# The daemon runs in a session of its own, so Ctrl-C in a terminal reaches only
# the calling script, which then stops what it started in its own order.

private_pulse_start() {
    local dir=${1:?private_pulse_start DIR SINK} sink=${2:?private_pulse_start DIR SINK}
    shift 2
    mkdir -p "$dir/runtime" "$dir/state"
    chmod 0700 "$dir" "$dir/runtime" "$dir/state"
    PULSE_RUNTIME_PATH=$dir/runtime PULSE_STATE_PATH=$dir/state HOME=$dir \
        setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
        --use-pid-file=no --system=false --realtime=no --high-priority=no --log-target=stderr \
        -L "module-null-sink sink_name=$sink" \
        -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
        -L "module-stream-restore" "$@" \
        2>"$dir/daemon.log" &
    PRIVATE_PULSE_PID=$!
    export PULSE_SERVER=unix:$dir/native
    # Ready once it answers on its socket, not merely once the socket exists.
    local _
    for _ in $(seq 100); do
        pactl info >/dev/null 2>&1 && return 0
        kill -0 "$PRIVATE_PULSE_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "private-pulse: the daemon did not start (see $dir/daemon.log)" >&2
    private_pulse_stop
    return 1
}

private_pulse_stop() {
    if [ -n "${PRIVATE_PULSE_PID:-}" ]; then
        kill -TERM "$PRIVATE_PULSE_PID" 2>/dev/null || true
        wait "$PRIVATE_PULSE_PID" 2>/dev/null || true
        PRIVATE_PULSE_PID=
    fi
    unset PULSE_SERVER
}
