#!/usr/bin/env bash
# Memory of the voice side's services (bench/link_server in services mode, SDL's
# dummy device) before, while and after a long queue is spoken: idle, with
# 2,000 announcements of 12,101 queued, once the queue has run dry, and 5 s
# later. The clips are 20 ms tones under the recorded clips' names, so the
# queue is spoken in minutes rather than hours.
#
#   bench/drain.sh BIN_DIR [COUNT]    (BIN_DIR holds link_server and loadgen)
#
# Prints a Markdown table; exit 1 when the queue did not run dry in 30 minutes.
set -uo pipefail

bin=${1:?usage: drain.sh BIN_DIR [COUNT]}
count=${2:-2000}
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/tone_services.sh
source "$root/bench/tone_services.sh"
last_state() { grep '^queue=' "$work/out" | tail -1; }
start_tone_services

sleep 5
idle=$(rss "$pid")
start=$SECONDS
line=$("$bin/loadgen" --port "$port" --conns 1 --seconds 60 --max-messages "$count" \
    --message 12,101)
queued=$(rss "$pid")
while [ "$(last_state)" != "queue=0 busy=0" ] && [ $((SECONDS - start)) -lt 1800 ]; do
    sleep 2
done
spent=$((SECONDS - start))
drained=$(rss "$pid")
stop_tone_services

echo "| figure | value |"
echo "|---|---|"
echo "| announcements sent / answered | $(echo "$line" | tr ' ' '\n' | sed -n 's/^sent=//p') / $(echo "$line" | tr ' ' '\n' | sed -n 's/^answered=//p') |"
echo "| resident memory idle (KiB) | $idle |"
echo "| resident memory with them queued (KiB) | $queued |"
echo "| queue spoken to its end after (s) | $spent |"
echo "| resident memory once spoken (KiB) | $drained |"
echo "| resident memory 5 s later (KiB) | $later |"
echo "| at the end | $(tail -1 "$work/out") (exit status $rc) |"
[ "$(last_state)" = "queue=0 busy=0" ]
