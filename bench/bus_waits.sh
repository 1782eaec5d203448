#!/usr/bin/env bash
# CPU share of the tool over the module half of a restore in real time:
# the 70 s and 5 s pauses, the programming-mode pauses, the 10 s after a
# clean, the 2 s after the templates, and five time-outs of a module that
# does not answer. A tool that waits by sleeping scores near 0 %.
#   bash bench/bus_waits.sh [build-dir]      (takes about 100 s)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
address=127.0.0.1
state=$(mktemp -d)
trap 'kill "${SIM_PID:-}" 2>/dev/null || true; rm -rf "$state"' EXIT
source scripts/sim.sh
start_sim "$build" "$address" "$state" --password service --fpms 1
LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 FAKETIME="+0 x20" \
FAKETIME_NO_CACHE=1 "$build/TursaBackupCmd" --backup --ip-address "$address" \
    --password service --file-name "$state/bench.bak"
kill "$SIM_PID"
wait "$SIM_PID" 2>/dev/null || true
start_sim "$build" "$address" "$state" --password service --fpms 1 --bus-fault noreply:4:100:5

/usr/bin/time -f '%e %U %S' -o "$state/time" "$build/TursaBackupCmd" --restore --fpm-only \
    --ip-address "$address" --password service --file-name "$state/bench.bak"
read -r wall user sys <"$state/time"
awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "wall %.2f s, cpu %.3f s (user %.3f, sys %.3f), cpu share %.3f %%\n", w, u + s, u, s, 100 * (u + s) / w }'
