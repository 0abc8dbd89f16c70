#!/usr/bin/env bash
# A cashier peer flooding the port with long dot-form messages: each is
# 12.<505 digits>#6, 510 bytes, which composes to an announcement of 508 clips.
# The voice side's services (bench/link_server in services mode, 20 ms tones
# under the recorded clips' names, SDL's dummy device) must keep answering OK
# while their resident memory stays flat: the play queue drops what does not
# fit under its bound. The flood is sent in slices of 1,000 messages over 10
# connections; after each slice the OK replies and the resident memory are taken.
#
#   bench/flood.sh BIN_DIR [COUNT]    (BIN_DIR holds link_server and loadgen; COUNT 40000)
#
# Prints a Markdown table; exit 1 when a message went unanswered or the server
# did not end cleanly.
set -uo pipefail

bin=${1:?usage: flood.sh BIN_DIR [COUNT]}
count=${2:-40000}
slice=1000
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/tone_services.sh
source "$root/bench/tone_services.sh"
field() { echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
start_tone_services

message="12.$(printf '%0505d' 0 | tr 0 7)#6"
sleep 3
idle=$(rss "$pid")
peak=$idle
sent=0
answered=0
unanswered=0
start=$SECONDS
rows=()
while [ "$sent" -lt "$count" ] && kill -0 "$pid" 2>/dev/null; do
    line=$("$bin/loadgen" --port "$port" --conns 10 --seconds 60 --max-messages "$slice" \
        --message "$message")
    sent=$((sent + $(field sent "$line")))
    answered=$((answered + $(field answered "$line")))
    unanswered=$((unanswered + $(field unanswered "$line")))
    now=$(rss "$pid")
    [ "$now" -gt "$peak" ] && peak=$now
    # Every fifth slice is shown; every one counts towards the peak.
    if [ $((sent % (slice * 5))) -eq 0 ] || [ "$sent" -ge "$count" ]; then
        rows+=("| $sent | $answered | $unanswered | $((SECONDS - start)) | $now |")
    fi
done
stop_tone_services
full=$(grep -c '播报队列已满' "$work/out")
resumed=$(grep -c '播报队列已恢复' "$work/out")

echo "| messages sent | OK replies | unanswered | seconds | resident memory (KiB) |"
echo "|---|---|---|---|---|"
echo "| 0 | 0 | 0 | 0 | $idle |"
printf '%s\n' "${rows[@]}"
echo
echo "Resident memory idle $idle KiB, peak $peak KiB, 5 s after the flood $later KiB;"\
    "\"queue full\" error lines: $full, \"queue has room again\" lines: $resumed;"\
    "at the end: $(tail -1 "$work/out") (exit status $rc)."
[ "$unanswered" -eq 0 ] && [ "$rc" -eq 0 ]
