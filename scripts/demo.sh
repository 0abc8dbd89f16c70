#!/usr/bin/env bash
# Runs the voice side for real on this machine: installs the packages, builds,
# lays out a program folder, starts the fake web API (at the program's built-in
# default address, so no settings are needed to find it) and a simulated
# cashier, starts the program, and once it listens has the cashier send a run
# of messages so that they are heard. Everything it started is stopped when the
# program exits or on Ctrl-C.
#
#   scripts/demo.sh [--auto] [--dir FOLDER] [--port N] [--no-messages]
#
#   --auto         log in by itself (writes a saved login with automatic login)
#   --dir FOLDER   program folder to lay out and run (default: build/demo/program)
#   --port N       the port the program listens on for the cashier (default 5001)
#   --no-messages  send nothing; use tools/cashier_sim.py yourself
#
# Without a display the program runs off-screen and logs in by itself; without
# an audio server a private one with a null sink is started and what is spoken
# is recorded to FOLDER/demo-sound.wav.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_BUILD_DIR:-$root/build/demo}"
dir=""
auto=0
port=5001
send=1
# The built-in default web API address of the program (VOICE_DEFAULT_API_URL).
api_port=18080
cashier_port=6001
account=demo
password=demo123

usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; }

while [ $# -gt 0 ]; do
    case "$1" in
        --auto) auto=1 ;;
        --dir) dir="${2:?--dir needs a folder}"; shift ;;
        --port) port="${2:?--port needs a number}"; shift ;;
        --no-messages) send=0 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "demo: unknown option $1" >&2; usage >&2; exit 2 ;;
    esac
    shift
done
case "$port" in
    ''|*[!0-9]*) echo "demo: --port wants a number from 1 to 65535" >&2; exit 2 ;;
esac
if [ "$port" -lt 1 ] || [ "$port" -gt 65535 ]; then
    echo "demo: --port wants a number from 1 to 65535" >&2
    exit 2
fi
dir="${dir:-$build/program}"

say() { printf '\033[1mdemo:\033[0m %s\n' "$*"; }

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target Voice audio_pack voice_save_login

# A port someone else holds would only show up later as a login refusal.
port_taken() { ss -Hltn "sport = :$1" | grep -q .; }
for p in "$api_port" "$cashier_port" "$port"; do
    if port_taken "$p"; then
        echo "demo: port $p on this machine is taken (ss -ltnp 'sport = :$p' shows by what); stop that program first" >&2
        exit 1
    fi
done

# --- the program folder --------------------------------------------------
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
# One copy of the program runs on a machine at a time; a second leaves at once.
if ss -Hxl | grep -q '@qbnt_Voice '; then
    echo "demo: the program is already running on this machine (one copy at a time); end it first" >&2
    exit 1
fi
install -m 0755 "$build/src/ui/Voice" "$dir/Voice"
install -m 0755 "$root/tools/AutoUpdate.exe" "$dir/AutoUpdate.exe"
# The program unpacks the pack at its next start and deletes it.
install -m 0644 "$build/Audio.zip" "$dir/Audio.zip"
# Keep the volume and shield switch of an earlier run; point at the fake web
# API and log every clip played.
volume=$(sed -n "s/^volume=//p" "$dir/Setting.ini" 2>/dev/null | tail -1 || true)
shield=$(sed -n "s/^shield=//p" "$dir/Setting.ini" 2>/dev/null | tail -1 || true)
{
    echo "[WebSetting]"
    echo "Url=http://127.0.0.1:$api_port"
    echo "debug=1"
    [ -z "$volume" ] || echo "volume=$volume"
    [ -z "$shield" ] || echo "shield=$shield"
} >"$dir/Setting.ini"

# --- what the program meets ----------------------------------------------
pids=()
program_pid=""
cleanup() {
    trap - EXIT INT TERM
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        # The program leaves on SIGTERM as on its tray's exit: settings saved.
        kill -TERM "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    # Last started first: the recorder ends before its audio server.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    [ -z "${pulse:-}" ] || rm -rf "$pulse"
    say "stopped everything the demo started"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Where there is no screen, the window runs off-screen and nobody can type.
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-}"
if [ -z "$QT_QPA_PLATFORM" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    auto=1
    say "no display: the windows run off-screen and the program logs in by itself"
fi
[ -n "$QT_QPA_PLATFORM" ] || unset QT_QPA_PLATFORM

# Without an audio server there is nothing to hear: run a private one whose
# only output is recorded to a file.
recording=""
pulse=""
if ! pactl info >/dev/null 2>&1; then
    pulse="$dir/demo-pulse"
    # In sessions of their own, so that Ctrl-C reaches only this script, which
    # stops the recorder before its server and the recording ends cleanly.
    . "$root/scripts/private-pulse.sh"
    if ! private_pulse_start "$pulse" demo_null; then
        echo "demo: no audio server and a private one did not start" >&2
        exit 1
    fi
    pids+=("$PRIVATE_PULSE_PID")
    recording="$dir/demo-sound.wav"
    setsid parec --device=demo_null.monitor --file-format=wav "$recording" &
    pids+=($!)
    say "no audio server: a private one records what is spoken to $recording"
fi

python3 "$root/tools/cashier_sim.py" --listen --port "$cashier_port" >"$dir/demo-cashier.log" 2>&1 &
pids+=($!)
python3 "$root/tools/fake_web_api.py" --port "$api_port" \
    --account "$account:$password" --service "127.0.0.1:$cashier_port" \
    --update-url "http://127.0.0.1:$api_port/update/Voice.zip" \
    --record "$dir/demo-api-requests.jsonl" >"$dir/demo-api.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do port_taken "$api_port" && port_taken "$cashier_port" && break; sleep 0.1; done
if ! port_taken "$api_port" || ! port_taken "$cashier_port"; then
    echo "demo: the fake web API or the cashier simulator did not start (see $dir/demo-*.log)" >&2
    exit 1
fi

if [ "$auto" -eq 1 ]; then
    "$build/tools/voice_save_login" "$dir" "$account" "$password" "$port"
else
    "$build/tools/voice_save_login" "$dir" --logout
fi

# --- the program -----------------------------------------------------------
"$dir/Voice" >"$dir/demo-program.log" 2>&1 &
program_pid=$!
say "program folder: $dir (logs in $dir/log/, program output in $dir/demo-program.log)"
if [ "$auto" -eq 1 ]; then
    say "the program logs in by itself as '$account' on port $port"
else
    say "in the login window type: account '$account', password '$password', port $port (boss login), then 登录"
fi

if [ "$send" -eq 1 ]; then
    while kill -0 "$program_pid" 2>/dev/null && ! port_taken "$port"; do
        sleep 0.3
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        say "the program listens on port $port; the cashier sends its messages"
        messages=(
            "12,101|seat 12 needs a waiter"
            "7,102|seat 7 needs a cleaner"
            "5.12#7|seat 5 paid 12 online"
            "CX_START,99|a promotion starts"
            "x,98|meal time"
            "1234,101|seat 1234 needs a waiter"
        )
        for entry in "${messages[@]}"; do
            text=${entry%%|*}
            reply=$(python3 "$root/tools/cashier_sim.py" --port "$port" "$text" 2>&1) || true
            say "sent $text (${entry#*|}), reply: $reply"
            sleep 1
        done
        if [ -n "$recording" ]; then
            say "announcements queued; they are recorded to $recording"
        fi
        say "close the program (tray menu 退出, or Ctrl-C here) to end the demo"
    fi
fi

status=0
wait "$program_pid" || status=$?
say "the program has exited (status $status)"
if ! grep -q 'PlayHelper::Play' "$dir/demo-program.log" 2>/dev/null; then
    say "it spoke nothing; the end of its output ($dir/demo-program.log):"
    tail -n 5 "$dir/demo-program.log" >&2 || true
fi
program_pid=""
