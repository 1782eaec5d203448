#!/usr/bin/env bash
# CPU time per bus exchange and peak memory of the tool over a backup of
# eight modules (7,760 template exchanges and their neighbours), with the
# tool's pauses compressed by libfaketime so that the exchanges dominate.
#   bash bench/bus_backup.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
address=127.0.0.1
state=$(mktemp -d)
trap 'kill "${SIM_PID:-}" 2>/dev/null || true; rm -rf "$state"' EXIT
source scripts/sim.sh
start_sim "$build" "$address" "$state" --password service --fpms "${FPMS:-1,2,3,4,5,6,7,8}"

LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 FAKETIME="+0 x20" \
FAKETIME_NO_CACHE=1 /usr/bin/time -f '%e %U %S %M' -o "$state/time" \
    "$build/TursaBackupCmd" --backup --ip-address "$address" --password service \
    --file-name "$state/bench.bak"
read -r wall user sys peak <"$state/time"
exchanges=$(grep -c '^11575 ' "$state/frames.log")
awk -v w="$wall" -v u="$user" -v s="$sys" -v m="$peak" -v n="$exchanges" 'BEGIN {
    printf "wall %.2f s, cpu %.3f s (user %.3f, sys %.3f), %d bus telegrams, %.1f us cpu per telegram, peak resident %.1f MB\n",
        w, u + s, u, s, n, 1e6 * (u + s) / n, m / 1024 }'
