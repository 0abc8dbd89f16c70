#!/usr/bin/env bash
# Runs every benchmark and writes the figures, with machine and date, to
# bench/results.md (or the file named by BENCH_RESULTS).
#
#   bench/run.sh [--quick]
#   bench/run.sh --sound     only section 4 (message to sound, silence between
#                            clips), put in place of that section of the results
#
# Environment: BENCH_BUILD_DIR (default build/bench), BENCH_SECONDS (per load run,
# default 5; --quick makes it 2), BENCH_JOBS (default 2), SOUND_COUNT (announcements
# per message-to-sound series, default 50), SOUND_JOINS (announcements of the
# silence-between-clips series, default 30: 240 joins).
# Every server listens on 127.0.0.1 only and is stopped before the script ends.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build/bench}
results=${BENCH_RESULTS:-$root/bench/results.md}
seconds=${BENCH_SECONDS:-5}
jobs=${BENCH_JOBS:-2}
only_sound=no
if [ "${1:-}" = "--quick" ]; then seconds=2; fi
if [ "${1:-}" = "--sound" ]; then only_sound=yes; fi

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

log() { echo "bench: $*" >&2; }

# ---- build -------------------------------------------------------------------
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOICE_BUILD_TESTS=OFF \
    >"$work/configure.log" 2>&1 || { tail -20 "$work/configure.log"; exit 1; }
targets=(loadgen ref_server bench_compose link_server sound_probe voice_save_login Voice)
if [ "$only_sound" = yes ]; then targets=(sound_probe); fi
ninja -C "$build" -j"$jobs" "${targets[@]}" >"$work/build.log" 2>&1 ||
    { tail -40 "$work/build.log"; exit 1; }
bin=$build/bench
has() { [ -x "$bin/$1" ]; }

# ---- helpers -------------------------------------------------------------------
# start_server NAME CMD...: starts a server on a free loopback port, sets
# $server_pid and $server_port. The command gets the port as its first argument.
start_server() {
    local name=$1
    shift
    local cmd=$1
    shift
    for attempt in 1 2 3 4 5 6 7 8; do
        local port=$((20000 + (RANDOM % 20000)))
        local out=$work/$name.$port.out
        SDL_AUDIODRIVER=dummy "$cmd" "$port" "$@" >"$out" 2>"$work/$name.$port.err" &
        local pid=$!
        for _ in $(seq 50); do
            if grep -q "^listening" "$out" 2>/dev/null; then
                server_pid=$pid
                server_port=$port
                server_out=$out
                pids+=("$pid")
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    log "cannot start $name"
    return 1
}

stop_server() {
    kill -TERM "$server_pid" 2>/dev/null || true
    local rc=0
    wait "$server_pid" || rc=$?
    return $rc
}

# field KEY LINE: the value of key=value in a loadgen line.
field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
fd_count() { ls "/proc/$1/fd" | wc -l; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

machine() {
    local cpu mem
    cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -1)
    mem=$(awk '/^MemTotal:/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)
    echo "- Date (UTC): $(date -u '+%Y-%m-%d %H:%M')"
    echo "- Machine: ${cpu:-unknown CPU}, $(nproc) cores, $mem, Linux $(uname -r)"
    echo "- Load average at start: $(cut -d' ' -f1-3 /proc/loadavg) (the machine is shared;"\
        "figures move with what else runs)"
    echo "- Build: Release, $(c++ --version | head -1)"
}

# ---- 1. cashier link throughput and latency -------------------------------------
declare -A tput p50 p99 unans
run_link_series() {
    local label=$1
    shift
    start_server "$label" "$@" || return 1
    for c in 1 10 100 1000; do
        local line
        line=$("$bin/loadgen" --port "$server_port" --conns "$c" --seconds "$seconds" \
            --message x,download || true)
        log "$label $line"
        tput[$label,$c]=$(field msgs_per_s "$line")
        p50[$label,$c]=$(field p50_us "$line")
        p99[$label,$c]=$(field p99_us "$line")
        unans[$label,$c]="$(field unanswered "$line")/$(field sent "$line")"
    done
    # Latency below saturation: the same 100 connections held to 10,000 messages/s.
    local line
    line=$("$bin/loadgen" --port "$server_port" --conns 100 --seconds "$seconds" \
        --rate 10000 --message x,download || true)
    log "$label paced $line"
    tput[$label,paced]=$(field msgs_per_s "$line")
    p50[$label,paced]=$(field p50_us "$line")
    p99[$label,paced]=$(field p99_us "$line")
    unans[$label,paced]="$(field unanswered "$line")/$(field sent "$line")"
    stop_server || true
}

link_section() {
    run_link_series reference "$bin/ref_server"
    if has link_server; then run_link_series voice "$bin/link_server" count; fi
    echo "## 1. Cashier link: throughput and OK latency"
    echo
    echo "Each connection sends \`x,download\` (composes nothing) and the next message as soon"
    echo "as its OK is back; ${seconds} s per run, loopback. \`reference\` is bench/ref_server"
    echo "(one epoll thread, OK to every read); \`voice\` is the program's SocketHelper and"
    echo "MessageReader on the Qt event loop (bench/link_server)."
    echo
    echo "| server | connections | messages/s | p50 µs | p99 µs | unanswered/sent | vs reference |"
    echo "|---|---|---|---|---|---|---|"
    for label in reference voice; do
        for c in 1 10 100 1000 paced; do
            [ -n "${tput[$label,$c]:-}" ] || continue
            local shown=$c
            [ "$c" = paced ] && shown="100, held to 10,000/s"
            local ratio="-"
            if [ "$label" = voice ] && [ -n "${tput[reference,$c]:-}" ] &&
                [ "${tput[reference,$c]}" != 0 ]; then
                ratio=$(awk -v a="${tput[voice,$c]}" -v b="${tput[reference,$c]}" \
                    'BEGIN {printf "%.0f %%", 100 * a / b}')
            fi
            echo "| $label | $shown | ${tput[$label,$c]} | ${p50[$label,$c]} | ${p99[$label,$c]} |"\
                "${unans[$label,$c]} | $ratio |"
        done
    done
    echo
    if [ -n "${tput[voice,100]:-}" ]; then
        local verdict
        verdict=$(awk -v a="${tput[voice,100]}" -v b="${tput[reference,100]}" \
            -v p="${p99[voice,100]}" 'BEGIN {
                t = (a >= 0.8 * b) ? "met" : "missed"; l = (p < 1000) ? "met" : "missed";
                printf "throughput goal (>= 80 %% of reference at 100 connections): %s; " \
                       "p99 goal (< 1 ms at 100 connections): %s", t, l }')
        echo "Goals: $verdict."
        echo
        echo "With the connections waiting for each OK, latency at saturation is the number of"
        echo "connections divided by the throughput (100 at 80,000 messages/s wait 1.25 ms each), for the"
        echo "reference as much as for the voice side: the load tool and the server share the two"
        echo "cores. The held-down row shows latency below saturation."
        echo
    else
        echo "The voice side's link is not measured yet: SocketHelper/MessageReader are not in"
        echo "the tree."
        echo
    fi
    if has link_server; then
        start_server composing "$bin/link_server" queue || return 0
        local line
        line=$("$bin/loadgen" --port "$server_port" --conns 100 --seconds "$seconds" \
            --max-messages 20000 --message 12,101 --message A12.5#7 --message CX_START,99 \
            --message 108,103 || true)
        stop_server || true
        log "composing $line"
        echo "Composing messages (\`12,101\`, \`A12.5#7\`, \`CX_START,99\`, \`108,103\`), 100"
        echo "connections, at most 20,000 messages, announcements queued in the real play queue"
        echo "with no play thread: $(field msgs_per_s "$line") messages/s, p50"\
            "$(field p50_us "$line") µs, p99 $(field p99_us "$line") µs, unanswered"\
            "$(field unanswered "$line") of $(field sent "$line"); server: $(tail -1 "$server_out")."
        echo
    fi
}

# ---- 2. load: churning connections, random bytes -----------------------------------
load_section() {
    echo "## 2. Load: 1,000 churning connections, half sending random bytes"
    echo
    if ! has link_server; then
        echo "Not run yet: bench/link_server needs SocketHelper and MessageReader."
        echo
        return
    fi
    start_server churn "$bin/link_server" count || return 0
    local pid=$server_pid fd0 rss0 fd1 rss1 line alive=yes
    # A short warm-up first, so that what the server opens once (its log file) is
    # counted before as well as after.
    "$bin/loadgen" --port "$server_port" --conns 100 --seconds 1 --churn --random-half \
        >/dev/null || true
    sleep 0.5
    fd0=$(fd_count "$pid")
    rss0=$(rss_kib "$pid")
    line=$("$bin/loadgen" --port "$server_port" --conns 1000 --seconds $((seconds * 2)) --churn \
        --random-half --seed 7 || true)
    log "churn $line"
    sleep 1
    if kill -0 "$pid" 2>/dev/null; then
        fd1=$(fd_count "$pid")
        rss1=$(rss_kib "$pid")
    else
        alive=no
        fd1="-"
        rss1="-"
    fi
    stop_server || alive="exited with an error"
    echo "Each of 1,000 connections sends 1 to 5 messages (odd ones random bytes, 1 to 512),"
    echo "closes and connects again, for $((seconds * 2)) s; announcements are only counted."
    echo
    echo "| figure | value |"
    echo "|---|---|"
    echo "| connections opened | $(field connects "$line") |"
    echo "| reads sent / answered / unanswered | $(field sent "$line") /"\
        "$(field answered "$line") / $(field unanswered "$line") |"
    echo "| replies that were not OK | $(field bad_replies "$line") |"
    echo "| connect errors | $(field connect_errors "$line") |"
    echo "| server alive afterwards | $alive |"
    echo "| open descriptors before / after | $fd0 / $fd1 |"
    echo "| resident memory before / after (KiB) | $rss0 / $rss1 |"
    echo
}

# ---- 3. composition ------------------------------------------------------------------
compose_section() {
    echo "## 3. Composition"
    echo
    if ! has bench_compose; then
        echo "Not run yet: the composer is not in the tree."
        echo
        return
    fi
    "$bin/bench_compose" --benchmark_min_time=0.5 --benchmark_format=console \
        >"$work/compose.txt" 2>"$work/compose.err" || true
    echo "Cutting and composing one cashier text (Google Benchmark; the sink only counts)."
    echo "\`BM_ComposeMix\` cycles through a mix of 18 texts; \`BM_ComposeOne/N\` is one text."
    echo
    echo '```'
    grep -E '^(BM_|Benchmark|-)' "$work/compose.txt" | grep -v '^-' || cat "$work/compose.err"
    echo '```'
    echo
}

# ---- 4. message to sound -----------------------------------------------------------
. "$root/scripts/private-pulse.sh"

sound_section() {
    echo "## 4. Message to sound, and silence between clips"
    echo
    if ! has sound_probe || ! command -v pulseaudio >/dev/null; then
        echo "Not run: bench/sound_probe or pulseaudio is missing."
        echo
        return
    fi
    private_pulse_start "$work/pulse" bench_null --log-level=debug ||
        { echo "Not run: PulseAudio did not start."; echo; return; }
    pids+=("$PRIVATE_PULSE_PID")
    local out=$work/sound.out count=${SOUND_COUNT:-50} joins=${SOUND_JOINS:-30} started load0
    started=$(date -u '+%Y-%m-%d %H:%M')
    load0=$(cut -d' ' -f1-3 /proc/loadavg)
    # The shield switch off: nothing else plays here, and its goal is set without it.
    PROBE_SHIELD=0 SDL_AUDIODRIVER=pulseaudio "$bin/sound_probe" bench_null "$count" "$joins" \
        512 768 1024 2048 >"$out" 2>"$work/sound.err" || true
    private_pulse_stop
    log "sound $(tr '\n' ' ' <"$out")"
    # The server's own count: it logs each time a playback stream runs dry
    # while the sink needs its data.
    server_underruns() { grep -c "underrun of '$1'" "$work/pulse/daemon.log" || true; }
    local chosen warm cold player ref ahead noahead memory idle
    chosen=$(field chosen "$(grep '^clips ' "$out")")
    warm=$(grep '^road mode=warm ' "$out" || true)
    cold=$(grep '^road mode=cold ' "$out" || true)
    if [ -z "$chosen" ] || [ -z "$warm" ]; then
        echo "The probe failed: $(tail -3 "$work/sound.err")"
        echo
        return
    fi
    player=$(grep "^player buffer=$chosen " "$out" || true)
    ref=$(grep "^reference buffer=$chosen " "$out" || true)
    ahead=$(grep "^joins buffer=$chosen ahead=1 " "$out" || true)
    noahead=$(grep "^joins buffer=$chosen ahead=0 " "$out" || true)
    memory=$(grep '^memory ' "$out" || true)
    idle=$(grep '^idle seconds=' "$out" || true)
    local ms
    ms=$(awk -v f="$chosen" 'BEGIN {printf "%.1f", 1000 * f / 44100}')
    echo "Run on $started UTC; $(machine | sed -n 's/^- Machine: //p'); load average at the"\
        "start $load0 (the machine is shared)."
    echo
    echo "All series in one run of bench/sound_probe on the same machine: the program's own"
    echo "pieces in one process against a PulseAudio daemon of our own with a null sink, SDL"
    echo "on PulseAudio, sound found on the sink's monitor (recorded at 48 kHz; the first"
    echo "sample above 1000), the shield switch off. Clips are 1 kHz tones with no silence of"
    echo "their own (wave data under every name, as an mp3 encoder adds silence at both ends)."
    echo "Device buffer: $chosen frames ($ms ms at 44.1 kHz), the player's own."
    echo "bench/sound_before_after.sh compares two revisions side by side, the shield on too."
    echo
    echo "**Message to first sound.** From sending \`12,101\` on a cashier connection, 0.3 to"
    echo "0.4 s after the last sound (*warm*), or 2.5 to 2.6 s after it (*cold*: the player has"
    echo "closed its idle device and opens it again)."
    echo
    echo "| series | heard / missed | p50 ms | p99 ms | max ms | queue to Play() p50 / p99 ms | Play() to sound p50 / p99 ms |"
    echo "|---|---|---|---|---|---|---|"
    local row
    for row in "$warm" "$cold"; do
        [ -n "$row" ] || continue
        echo "| $(field mode "$row") | $(field heard "$row") / $(field missed "$row") |"\
            "$(field p50 "$row") | $(field p99 "$row") | $(field max "$row") |"\
            "$(field play_p50 "$row") / $(field play_p99 "$row") |"\
            "$(field sound_p50 "$row") / $(field sound_p99 "$row") |"
    done
    echo "| the player alone: Play() to sound (the device's share) | $(field heard "$player") / - |"\
        "$(field p50 "$player") | $(field p99 "$player") | | | |"
    echo "| bare SDL device, same buffer, same tone queued (the limit) | $(field heard "$ref") / - |"\
        "$(field p50 "$ref") | $(field p99 "$ref") | | | |"
    echo
    echo "**Silence added between two clips of one announcement.** Announcements of"
    echo "\`1234,101\` (nine clips, eight joins) through the play queue and thread, each clip a tone"
    echo "of 100 to 160 ms drawn anew for every announcement. In the recorded samples, a quiet"
    echo "stretch of 0.25 ms or more at a clip boundary (in sounding time) is that join's silence,"
    echo "a join without one counts 0; any other quiet stretch inside the sound is an underrun,"
    echo "and an announcement with one adds no joins (the server drops what comes late, so the"
    echo "joins after it cannot be placed)."
    echo
    echo "| next clip | announcements | joins | p50 ms | p90 ms | p99 ms | max ms | underruns on the monitor (announcements) | server's underrun lines |"
    echo "|---|---|---|---|---|---|---|---|---|"
    local label stream
    for row in "$ahead" "$noahead"; do
        [ -n "$row" ] || continue
        label="opened ahead"
        stream="joins-$chosen-ahead"
        if [ "$(field ahead "$row")" = 0 ]; then
            label="opened when due"
            stream="joins-$chosen-due"
        fi
        echo "| $label | $(field announcements "$row") | $(field joins "$row") |"\
            "$(field p50 "$row") | $(field p90 "$row") | $(field p99 "$row") | $(field max "$row") |"\
            "$(field underruns "$row") ($(field spoiled "$row")) | $(server_underruns "$stream") |"
    done
    echo
    echo "**A 20-minute mp3 and the idle sound side.** The mp3 (made with sox and lame) opened,"
    echo "opened ahead and played for 2 s by the player: $(field open_ms "$memory") ms to open,"\
        "resident memory $(field rss_before_kb "$memory") KiB before and"\
        "$(field rss_after_kb "$memory") KiB after, peak $(field hwm_after_kb "$memory") KiB."
    echo "Then the play queue and thread after five announcements, idle for"\
        "$(field seconds "$idle") s: $(field cpu_pct "$idle") % of a core,"\
        "$(field switches_per_s "$idle") wake-ups per second"\
        "($(field voluntary "$idle") voluntary, $(field involuntary "$idle") involuntary"\
        "context switches of its threads), $(field late_switches_per_s "$idle") per second"\
        "from $(field late_from_s "$idle") s on, once the device has closed."
    echo
    echo "**Device buffer.** The same player, reference and joins (opened ahead) series at each"
    echo "buffer (buffers other than the chosen one get half the rounds), and a 20 s tone played"
    echo "whole by the player and by the bare SDL device. Underruns are counted two ways: quiet"
    echo "stretches inside the sound on the monitor, and the server's own log line each time a"
    echo "playback stream runs dry while the sink needs its data (\"underrun of '<stream>'\", the"
    echo "daemon at debug level; each series names its stream; a stream may also log one as it"
    echo "closes)."
    echo
    echo "| buffer frames (ms) | player p50 / p99 ms | reference p50 / p99 ms | joins | joins p50 / p99 ms | joins: underruns on the monitor (announcements) | 20 s tone: underruns on the monitor, player / bare device | server's underrun lines: player, reference, joins, 20 s tone by player / by bare device |"
    echo "|---|---|---|---|---|---|---|---|"
    local frames p r j sp sr
    for frames in 512 768 1024 2048; do
        p=$(grep "^player buffer=$frames " "$out" || true)
        r=$(grep "^reference buffer=$frames " "$out" || true)
        j=$(grep "^joins buffer=$frames ahead=1 " "$out" || true)
        sp=$(grep "^steady kind=player buffer=$frames " "$out" || true)
        sr=$(grep "^steady kind=reference buffer=$frames " "$out" || true)
        [ -n "$p" ] || continue
        echo "| $frames ($(awk -v f="$frames" 'BEGIN {printf "%.1f", 1000 * f / 44100}'))$(
            [ "$frames" = "$chosen" ] && echo ", chosen") |"\
            "$(field p50 "$p") / $(field p99 "$p") | $(field p50 "$r") / $(field p99 "$r") |"\
            "$(field joins "$j") | $(field p50 "$j") / $(field p99 "$j") |"\
            "$(field underruns "$j") ($(field spoiled "$j")) |"\
            "$(field underruns "$sp") / $(field underruns "$sr") |"\
            "$(server_underruns "player-$frames"), $(server_underruns "reference-$frames"),"\
            "$(server_underruns "joins-$frames-ahead"), $(server_underruns "steady-player-$frames") /"\
            "$(server_underruns "steady-reference-$frames") |"
    done
    echo
    local verdict steady_row
    steady_row=$(grep "^steady kind=player buffer=$chosen " "$out" || true)
    verdict=$(awk -v rp="$(field p50 "$warm")" -v rq="$(field p99 "$warm")" \
        -v jq="$(field p99 "$ahead")" -v u="$(field underruns "$ahead")" \
        -v t="$(field underruns "$steady_row")" -v sj="$(server_underruns "joins-$chosen-ahead")" \
        -v hwm="$(field hwm_after_kb "$memory")" -v cpu="$(field cpu_pct "$idle")" \
        -v wake="$(field late_switches_per_s "$idle")" 'BEGIN {
            m = (rp <= 27 && rq <= 34) ? "met" : "missed";
            j = (jq <= 1 && u == 0 && t == 0 && sj == 0) ? "met" : "missed";
            k = (hwm != "" && hwm < 60 * 1024) ? "met" : "missed";
            i = (cpu != "" && cpu < 0.05 && wake == 0) ? "met" : "missed";
            printf "message to first sound (warm) p50 <= 27 ms and p99 <= 34 ms: %s; silence " \
                   "at a join p99 <= 1 ms with no underruns (joins and 20 s tone on the monitor, " \
                   "the joins stream in the server'"'"'s log): %s; peak memory with the " \
                   "20-minute mp3 under 60 MB: %s; idle under 0.05 %% of a core with no " \
                   "wake-ups once the device has closed: %s", m, j, k, i }')
    echo "Goals: $verdict."
    echo
    echo "What limits them now. The message reaches Play() in about a millisecond (the play"
    echo "thread is woken, the first clip's decoder opened); the rest is the device's share,"
    echo "Play() to sound, which the bare SDL device with the same buffer matches: SDL mixes a"
    echo "buffer ahead and the server adds its own latency, so the buffer sets it. The clips of"
    echo "an announcement feed one continuous stream, so a join adds no silence of its own; a"
    echo "quiet stretch there is an underrun, as it is anywhere else. A smaller buffer shortens"
    echo "the first sound until SDL's audio thread is not scheduled in time and the stream"
    echo "underruns; compare the player with the bare device on the 20 s tone: where both"
    echo "underrun alike, the limit is the machine's, not the player's."
    echo
}

# ---- 5. resources ------------------------------------------------------------------
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

resources_section() {
    echo "## 5. Resources of the voice side's services"
    echo
    if ! has link_server; then
        echo "Not run: bench/link_server is missing."
        echo
        return
    fi
    start_server services "$bin/link_server" services || return 0
    local pid=$server_pid idle=$((seconds * 4)) hz rss_idle t0 t1 cpu rss_q rss_later line
    hz=$(getconf CLK_TCK)
    sleep 2
    rss_idle=$(rss_kib "$pid")
    t0=$(cpu_ticks "$pid")
    sleep "$idle"
    t1=$(cpu_ticks "$pid")
    cpu=$(awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$idle" 'BEGIN {printf "%.2f", 100 * d / hz / s}')
    line=$("$bin/loadgen" --port "$server_port" --conns 10 --seconds 120 --max-messages 10000 \
        --message 12,101 --message A7,102 --message 12.5#7 || true)
    rss_q=$(rss_kib "$pid")
    sleep "$seconds"
    rss_later=$(rss_kib "$pid")
    stop_server || true
    log "services $line"
    echo "bench/link_server in \`services\` mode: the listening socket, the reader and composer on"
    echo "the Qt event loop, the play queue with its play thread (SDL's dummy driver, no clips"
    echo "in the audio folder) and the link check probing its own port every 10 s."
    echo
    echo "| figure | value |"
    echo "|---|---|"
    echo "| resident memory idle (KiB) | $rss_idle |"
    echo "| CPU idle over ${idle} s (play thread's poll, link check) | ${cpu} % of one core |"
    echo "| announcements sent (10,000 bound) / answered | $(field sent "$line") /"\
        "$(field answered "$line") |"
    echo "| resident memory right after queueing (KiB) | $rss_q |"
    echo "| resident memory ${seconds} s later (KiB) | $rss_later |"
    echo "| at the end | $(tail -1 "$server_out") |"
    echo
    local goal
    goal=$(awk -v c="$cpu" 'BEGIN { print (c < 1) ? "met" : "missed" }')
    echo "Goal (idle CPU under 1 % of one core): $goal."
    echo
}

# ---- 6. audio faults ---------------------------------------------------------------
faults_section() {
    echo "## 6. Audio faults"
    echo
    if ! has link_server || ! command -v pulseaudio >/dev/null; then
        echo "Not run: bench/link_server or pulseaudio is missing."
        echo
        return
    fi
    echo "bench/faults.sh: the services speaking the recorded clips, with no audio server at"
    echo "start, with the audio server killed (SIGKILL) during an announcement, and with it"
    echo "frozen (SIGSTOP) during one."
    echo
    echo '```'
    "$root/bench/faults.sh" "$bin" 2>&1 || true
    echo '```'
    echo
}

# tone_section HEADING SCRIPT LINE...: a section whose table comes from a script
# of bench/ that runs the services on short tones; the lines describe it.
tone_section() {
    local heading=$1 script=$2
    shift 2
    echo "## $heading"
    echo
    if ! has link_server || ! command -v sox >/dev/null; then
        echo "Not run: bench/link_server or sox is missing."
        echo
        return
    fi
    printf '%s\n' "$@"
    echo
    "$root/bench/$script" "$bin" 2>&1 || true
    echo
}

drain_section() {
    tone_section "8. Memory once a long queue has been spoken" drain.sh \
        "bench/drain.sh: the services of section 5 speaking 2,000 queued announcements" \
        "of 12,101 (five clips each, 20 ms tones under the recorded clips' names, SDL's" \
        "dummy device) until the queue runs dry."
}

flood_section() {
    tone_section "9. A flood of long dot-form messages" flood.sh \
        "bench/flood.sh: the services of section 5 flooded with 40,000 messages of" \
        "\`12.<505 digits>#6\` (510 bytes, 508 clips each) over 10 connections, in slices" \
        "of 1,000; the play queue is bounded at 20,000 clips and drops the rest."
}

# ---- 7. the whole program ------------------------------------------------------------
listens_on() { ss -ltn "sport = :$1" | grep -q LISTEN; }

program_section() {
    echo "## 7. The whole program after login"
    echo
    local voice=$build/src/ui/Voice
    local save_login=$build/tools/voice_save_login
    if [ ! -x "$voice" ] || [ ! -x "$save_login" ] || ! command -v ss >/dev/null; then
        echo "Not run: the program Voice or tools/voice_save_login is missing."
        echo
        return
    fi
    local dir=$work/program api cash vport=$((20000 + RANDOM % 20000)) pid i
    mkdir -p "$dir/Audio"
    cp "$voice" "$dir/Voice"
    # The cashier side, for the link check: any listener will do.
    start_server cashier "$bin/ref_server" || return 0
    cash=$server_port
    api=$((vport + 1))
    python3 "$root/tools/fake_web_api.py" --port "$api" --account store01:pw \
        --service "127.0.0.1:$cash" >"$work/api.out" 2>&1 &
    pids+=("$!")
    for i in $(seq 50); do grep -q LISTENING "$work/api.out" && break; sleep 0.1; done
    printf '[WebSetting]\r\nUrl=http://127.0.0.1:%s\r\nTimeOut=5\r\n' "$api" >"$dir/Setting.ini"
    "$save_login" "$dir" store01 pw "$vport" || return 0
    (cd "$dir" && QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy exec ./Voice) \
        >"$work/voice.out" 2>&1 &
    pid=$!
    pids+=("$pid")
    for i in $(seq 100); do listens_on "$vport" && break; sleep 0.1; done
    if ! listens_on "$vport"; then
        echo "Not run: the program did not log in and listen ($(tail -2 "$work/voice.out"))."
        echo
        return
    fi
    sleep 3
    local hz idle=30 rss0 fd0 t0 t1 cpu line1 rss1 line2 rss2 fd2 alive=yes
    hz=$(getconf CLK_TCK)
    rss0=$(rss_kib "$pid")
    fd0=$(fd_count "$pid")
    t0=$(cpu_ticks "$pid")
    sleep "$idle"
    t1=$(cpu_ticks "$pid")
    cpu=$(awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$idle" 'BEGIN {printf "%.2f", 100 * d / hz / s}')
    line1=$("$bin/loadgen" --port "$vport" --conns 10 --seconds 60 --max-messages 10000 \
        --message 12,101 --message A7,102 --message 12.5#7 || true)
    sleep 1
    rss1=$(rss_kib "$pid")
    line2=$("$bin/loadgen" --port "$vport" --conns 1000 --seconds $((seconds * 2)) --churn \
        --random-half --seed 11 || true)
    sleep 1
    kill -0 "$pid" 2>/dev/null || alive=no
    rss2=$(rss_kib "$pid" 2>/dev/null || echo -)
    fd2=$(fd_count "$pid" 2>/dev/null || echo -)
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    stop_server || true
    log "program queue $line1"
    log "program churn $line2"
    echo "The program Voice in a folder of its own, logged in by itself from a saved login"
    echo "against tools/fake_web_api.py, with a listener as the cashier side (so the link"
    echo "check reports reachable and the link animation runs), Qt's offscreen platform, SDL's"
    echo "dummy driver and no clips in its audio folder."
    echo
    echo "| figure | value |"
    echo "|---|---|"
    echo "| resident memory idle after login (KiB) | $rss0 |"
    echo "| CPU idle over ${idle} s | ${cpu} % of one core |"
    echo "| 10,000 announcements sent / answered | $(field sent "$line1") / $(field answered "$line1") |"
    echo "| resident memory with them queued (KiB) | $rss1 |"
    echo "| then 1,000 churning connections, half random bytes: reads sent / unanswered |"\
        "$(field sent "$line2") / $(field unanswered "$line2") |"
    echo "| program alive afterwards | $alive |"
    echo "| open descriptors idle / after the churn | $fd0 / $fd2 |"
    echo "| resident memory after the churn (KiB) | $rss2 |"
    echo
    local goal
    goal=$(awk -v c="$cpu" 'BEGIN { print (c < 1) ? "met" : "missed" }')
    echo "Goal (idle CPU under 1 % of one core): $goal."
    echo
}

network_section() {
    echo "## 10. A stalled web API"
    echo
    local voice=$build/src/ui/Voice save_login=$build/tools/voice_save_login
    if [ ! -x "$voice" ] || [ ! -x "$save_login" ]; then
        echo "Not run: the program Voice or tools/voice_save_login is missing."
        echo
        return
    fi
    echo "bench/network_stall.py: the program Voice logged in by itself against"
    echo "tools/fake_web_api.py (TimeOut 0), which holds the update answer back for 20 s,"
    echo "or stalls a clip download (a code-200 message) in the middle of the body. A"
    echo "cashier sends 12,101 on a fresh connection every 0.2 s for 8 s and times each OK;"
    echo "in a second run the program gets SIGTERM one second into the fault."
    echo
    python3 "$root/bench/network_stall.py" --voice "$voice" --save-login "$save_login" 2>&1 ||
        true
    echo
}

if [ "$only_sound" = yes ]; then
    sound_section >"$work/section.md"
    # In place of the old section 4, up to the next section's heading.
    awk -v new="$work/section.md" '
        /^## 4\. / { while ((getline line < new) > 0) print line; skip = 1; next }
        /^## / { skip = 0 }
        !skip' "$results" >"$work/results.md"
    cp "$work/results.md" "$results"
    log "wrote section 4 of $results"
    exit 0
fi

{
    echo "# Benchmark results"
    echo
    echo "Written by bench/run.sh; run it again to refresh."
    echo
    machine
    echo
    link_section
    load_section
    compose_section
    sound_section
    resources_section
    faults_section
    program_section
    drain_section
    flood_section
    network_section
} >"$work/results.md"
cp "$work/results.md" "$results"
log "wrote $results"
