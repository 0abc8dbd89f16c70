#!/usr/bin/env bash
# Section 4 (message to sound, silence between clips) for two builds of
# bench/sound_probe in one run, against one PulseAudio daemon of our own with a
# null sink: each series runs with the first probe, then at once with the
# second, and one table per measure shows them side by side (markdown on
# stdout, every probe line on stderr).
#
#   bench/sound_before_after.sh BEFORE_PROBE AFTER_PROBE
#
# A probe for a revision from before the play queue took its owner by
# constructor (5f0a8cd and earlier) is this revision's bench/SoundProbe.cpp
# with bench/sound_probe_5f0a8cd.patch applied, built in a worktree of that
# revision, so that both sides are measured the same way:
#   git worktree add --detach ../wt-before 5f0a8cd
#   cp bench/SoundProbe.cpp ../wt-before/bench/
#   git -C ../wt-before apply "$PWD/bench/sound_probe_5f0a8cd.patch"
#   cmake -S ../wt-before -B ../wt-before/build -G Ninja -DCMAKE_BUILD_TYPE=Release \
#       -DVOICE_BUILD_TESTS=OFF && ninja -C ../wt-before/build sound_probe
#
# Environment: SOUND_COUNT (messages per message-to-sound series, default 80;
# the cold-device series gets half), SOUND_JOINS (announcements of the joins
# series, default 30: 240 joins), IDLE_SECONDS (default 60).
set -euo pipefail

if [ $# -ne 2 ] || [ ! -x "$1" ] || [ ! -x "$2" ]; then
    echo "usage: $0 BEFORE_PROBE AFTER_PROBE" >&2
    exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
probes=(before after)
declare -A binary=([before]=$1 [after]=$2)
count=${SOUND_COUNT:-80}
joins=${SOUND_JOINS:-30}
idle=${IDLE_SECONDS:-60}
sink=bench_null

. "$root/scripts/private-pulse.sh"
work=$(mktemp -d)
other_pid=
cleanup() {
    [ -z "$other_pid" ] || kill "$other_pid" 2>/dev/null || true
    private_pulse_stop
    rm -rf "$work"
}
trap cleanup EXIT
log() { echo "sound: $*" >&2; }

load0=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M')
private_pulse_start "$work/pulse" "$sink" --log-level=debug || exit 1

# The 20-minute clips, as a shop's long recordings would be: a wav and an mp3
# encoded from it by lame.
sox -n -r 44100 -c 1 -b 16 "$work/long.wav" synth 1200 sine 440 vol 0.5
lame --quiet -b 64 "$work/long.wav" "$work/long.mp3"
# The other program's sound: a long tone at -40 dB (peaks near 330), under the
# recorder's threshold of 1000, so the monitor hears only the voice side.
sox -n -r 44100 -c 2 -b 16 "$work/other.wav" synth 900 sine 440 gain -40

start_other() {
    paplay --client-name=other-program --stream-name=other-tone "$work/other.wav" &
    other_pid=$!
    sleep 1
}
stop_other() {
    kill "$other_pid" 2>/dev/null || true
    wait "$other_pid" 2>/dev/null || true
    other_pid=
}

# run NAME SERIES [VAR=VALUE...]: the series with each probe in turn; the
# probe's lines go to $work/NAME.<probe>, the server's log lines of that run
# to $work/NAME.<probe>.log.
run() {
    local name=$1 series=$2 p from
    shift 2
    for p in "${probes[@]}"; do
        [ "$name" != other ] || start_other
        from=$(wc -l <"$work/pulse/daemon.log")
        env PROBE_SERIES="$series" "$@" SDL_AUDIODRIVER=pulseaudio "${binary[$p]}" "$sink" \
            "$count" "$joins" >"$work/$name.$p" 2>"$work/$name.$p.err" || true
        tail -n +"$((from + 1))" "$work/pulse/daemon.log" >"$work/$name.$p.log"
        [ "$name" != other ] || stop_other
        sed "s/^/$name $p: /" "$work/$name.$p" >&2
    done
}

# One series at a time, so that the two probes of a series run minutes apart
# at most on a machine whose load comes and goes.
run quiet road PROBE_SHIELD=0
run device player,reference PROBE_SHIELD=0
run joins joins PROBE_SHIELD=0
run steady steady PROBE_SHIELD=0
run shield road PROBE_SHIELD=1
run other road PROBE_SHIELD=1
run cold cold PROBE_SHIELD=0
run mp3 memory PROBE_LONG="$work/long.mp3"
run wav memory PROBE_LONG="$work/long.wav"
start_other
run idle idle PROBE_SHIELD=1 PROBE_IDLE_SECONDS="$idle"
stop_other

# field KEY LINE: the value of key=value in a probe line.
field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
# line NAME PROBE PATTERN: the probe's first line that starts with PATTERN.
line() { grep -m1 "^$3" "$work/$1.$2" || true; }
# underruns NAME PROBE STREAM: the server's underrun lines for the stream, and
# in brackets those it logs as the stream closes (its last data played out,
# then "Freeing input" within a few lines), which are no gap in the sound.
underruns() {
    awk -v s="$3" '
        index($0, "underrun of '"'"'" s "'"'"'") { n++; at[n] = NR }
        index($0, "Freeing input") && index($0, "\"" s "\"") { freed[NR] = 1 }
        END {
            for (i = 1; i <= n; i++)
                for (k = at[i] + 1; k <= at[i] + 4; k++)
                    if (k in freed) { c++; break }
            printf "%d (%d at close)", n, c
        }' "$work/$1.$2.log"
}
# lowered LINE: Play() to the end of a lowering after it, or "-" where none followed it.
lowered() {
    local n
    n=$(field lowered "$1")
    if [ -z "$n" ] || [ "$n" = 0 ]; then echo "-"; return; fi
    echo "$(field lowered_p50 "$1") / $(field lowered_p99 "$1") ($(field lowered_late "$1") of $n)"
}
mb() { awk -v k="$1" 'BEGIN { if (k == "") print "-"; else printf "%.1f", k / 1024 }'; }

chosen=$(field chosen "$(line quiet after clips)")
echo "Run on $started UTC; $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores;"\
    "load average at the start $load0; device buffer $chosen frames."
echo
echo "**Silence added at the joins of one announcement** (\`1234,101\`, nine tone clips of"
echo "100 to 160 ms, shield off), and a 20 s tone played whole:"
echo
echo "| revision | next clip | announcements | joins | p50 ms | p90 ms | p99 ms | max ms | underruns on the monitor (announcements) | server's underrun lines |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for p in "${probes[@]}"; do
    for ahead in 1 0; do
        r=$(line joins "$p" "joins buffer=$chosen ahead=$ahead ")
        stream=joins-$chosen-$([ $ahead = 1 ] && echo ahead || echo due)
        echo "| $p | $([ $ahead = 1 ] && echo opened ahead || echo opened when due) |"\
            "$(field announcements "$r") | $(field joins "$r") | $(field p50 "$r") |"\
            "$(field p90 "$r") | $(field p99 "$r") | $(field max "$r") |"\
            "$(field underruns "$r") ($(field spoiled "$r")) | $(underruns joins "$p" "$stream") |"
    done
done
echo
echo "| revision | 20 s tone by the player: underruns on the monitor / server's lines | by a bare SDL device |"
echo "|---|---|---|"
for p in "${probes[@]}"; do
    sp=$(line steady "$p" "steady kind=player buffer=$chosen ")
    sr=$(line steady "$p" "steady kind=reference buffer=$chosen ")
    echo "| $p | $(field underruns "$sp") / $(underruns steady "$p" "steady-player-$chosen") |"\
        "$(field underruns "$sr") / $(underruns steady "$p" "steady-reference-$chosen") |"
done
echo
echo "**Message to first sound** (\`12,101\` sent on a cashier connection; *queue to Open* is"
echo "waking the play thread, and lowering other programs where that comes first; *queue to"
echo "Play()* adds opening and starting the first clip; *others lowered* is from Play() to the"
echo "end of a lowering that follows it, with the messages whose first sound came before it):"
echo
echo "| series | revision | heard / missed | p50 ms | p99 ms | max ms | queue to Open p50 / p99 ms | queue to Play() p50 / p99 ms | Play() to sound p50 / p99 ms | others lowered p50 / p99 ms (after the sound) |"
echo "|---|---|---|---|---|---|---|---|---|---|"
for name in quiet shield other cold; do
    case $name in
    quiet) label="shield off, nothing else playing" mode=warm ;;
    shield) label="shield on, nothing else playing" mode=warm ;;
    other) label="shield on, another program playing" mode=warm ;;
    cold) label="shield off, 2.5 s after the last sound" mode=cold ;;
    esac
    for p in "${probes[@]}"; do
        r=$(line "$name" "$p" "road mode=$mode ")
        echo "| $label | $p | $(field heard "$r") / $(field missed "$r") | $(field p50 "$r") |"\
            "$(field p99 "$r") | $(field max "$r") | $(field open_p50 "$r") / $(field open_p99 "$r") |"\
            "$(field play_p50 "$r") / $(field play_p99 "$r") |"\
            "$(field sound_p50 "$r") / $(field sound_p99 "$r") | $(lowered "$r") |"
    done
done
for p in "${probes[@]}"; do
    r=$(line device "$p" "player buffer=$chosen ")
    echo "| the player alone, Play() to sound | $p | $(field heard "$r") / - | $(field p50 "$r") |"\
        "$(field p99 "$r") | | | | | |"
done
for p in "${probes[@]}"; do
    r=$(line device "$p" "reference buffer=$chosen ")
    echo "| bare SDL device, same buffer (the limit) | $p | $(field heard "$r") / - |"\
        "$(field p50 "$r") | $(field p99 "$r") | | | | | |"
done
echo
echo "**A 20-minute clip** (44.1 kHz mono; the mp3 at 64 kbit/s by lame) opened, the same"
echo "clip opened ahead, then played for 2 s by the player, each in a fresh probe process:"
echo
echo "| clip | revision | Open ms | OpenAhead ms | resident MB before / after | peak (VmHWM) MB before / after |"
echo "|---|---|---|---|---|---|"
for name in mp3 wav; do
    for p in "${probes[@]}"; do
        r=$(line "$name" "$p" "memory ")
        if [ "$(field opened "$r")" != 1 ]; then
            echo "| $name | $p | not opened: $(tail -1 "$work/$name.$p.err") | | | |"
            continue
        fi
        echo "| $name | $p | $(field open_ms "$r") | $(field ahead_ms "$r") |"\
            "$(mb "$(field rss_before_kb "$r")") / $(mb "$(field rss_after_kb "$r")") |"\
            "$(mb "$(field hwm_before_kb "$r")") / $(mb "$(field hwm_after_kb "$r")") |"
    done
done
echo
echo "**Idle after five announcements** (shield on, another program playing): the threads"
echo "the sound side brought, over $idle s with nothing to play (CPU from schedstat, and from"
echo "the stat ticks; wake-ups are voluntary plus involuntary context switches):"
echo
echo "| revision | CPU % of a core | ticks (CPU %) | voluntary / involuntary switches | wake-ups per second | from 5 s on: CPU ms, wake-ups per second | threads at the end (ended meanwhile) |"
echo "|---|---|---|---|---|---|---|"
for p in "${probes[@]}"; do
    r=$(line idle "$p" "idle seconds=")
    echo "| $p | $(field cpu_pct "$r") | $(field ticks "$r") ($(field cpu_ticks_pct "$r")) |"\
        "$(field voluntary "$r") / $(field involuntary "$r") | $(field switches_per_s "$r") |"\
        "$(field late_run_ms "$r"), $(field late_switches_per_s "$r") |"\
        "$(field threads_left "$r") ($(field threads_ended "$r")) |"
done
echo
echo "| revision | thread | CPU ms | voluntary / involuntary switches | switches from 5 s on |"
echo "|---|---|---|---|---|"
for p in "${probes[@]}"; do
    grep '^idle_thread ' "$work/idle.$p" | while read -r t; do
        echo "| $p | $(field name "$t")$([ "$(field ended "$t")" = 1 ] && echo " (ended)") |"\
            "$(field run_ms "$t") | $(field voluntary "$t") / $(field involuntary "$t") |"\
            "$(field late_switches "$t") |"
    done
done
echo
