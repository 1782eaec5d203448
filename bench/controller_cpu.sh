#!/usr/bin/env bash
# CPU share of the tool over a complete backup in real time (controller and
# one module) against a simulator that delays every controller reply by one
# second. A tool that waits by sleeping scores near 0 %; one that polls in a
# loop scores about 100 %. Takes about 100 s (the bus waits are real too).
#   bash bench/controller_cpu.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
address=127.0.0.1
state=$(mktemp -d)
trap 'kill "${SIM_PID:-}" 2>/dev/null || true; rm -rf "$state"' EXIT
source scripts/sim.sh
start_sim "$build" "$address" "$state" --password service --delay 1000 --fpms 1

TIMEFORMAT='%R %U %S'
times=$( { time "$build/TursaBackupCmd" --backup --ip-address "$address" --password service \
    --file-name "$state/bench.bak" >/dev/null; } 2>&1 )
read -r wall user sys <<<"$times"
awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "wall %.2f s, cpu %.3f s (user %.3f, sys %.3f), cpu share %.2f %%\n", w, u + s, u, s, 100 * (u + s) / w }'
