#!/usr/bin/env bash
# Renders every window of the voice side under Xvfb to docs/screenshots/*.png.
# Builds what it needs first; needs the packages of scripts/packages.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VOICE_BUILD_DIR:-$root/build/screenshots}"
cmake -S "$root" -B "$build" -G Ninja -DVOICE_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" --target voice_screenshots
unset QT_QPA_PLATFORM
export SDL_AUDIODRIVER=dummy
xvfb-run -a -s "-screen 0 1280x800x24" "$build/src/ui/voice_screenshots" "$root/docs/screenshots"
