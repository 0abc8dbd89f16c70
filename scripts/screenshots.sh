#!/usr/bin/env bash
# Renders every window of the voice side to docs/screenshots/*.png on a real
# Wayland compositor (weston, headless), where the windows show their rounded
# corners and shadows; `--x11` renders on Xvfb instead (the square look of a
# desktop without a compositing manager). Builds what it needs first; needs
# the packages of scripts/packages.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_BUILD_DIR:-$root/build/screenshots}"
out="$root/docs/screenshots"
cmake -S "$root" -B "$build" -G Ninja -DVOICE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" --target voice_screenshots
unset QT_QPA_PLATFORM
export SDL_AUDIODRIVER=dummy
if [[ "${1:-}" == "--x11" ]]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/src/ui/voice_screenshots" "$out"
    exit
fi
runtime=$(mktemp -d /tmp/voice-screens-XXXXXX)
chmod 700 "$runtime"
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --use-pixman \
    --socket=wayland-screens --idle-time=0 --width=1280 --height=800 \
    --log="$runtime/weston.log" &
weston_pid=$!
trap 'kill "$weston_pid" 2>/dev/null; wait "$weston_pid" 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 300); do
    [[ -S "$runtime/wayland-screens" ]] && break
    sleep 0.1
done
XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY=wayland-screens QT_QPA_PLATFORM=wayland QT_IM_MODULE=none \
    "$build/src/ui/voice_screenshots" "$out"
