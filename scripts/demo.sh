#!/usr/bin/env bash
# Backs up the bundled controller simulator into demo/site.bak and restores
# that file into it: the tool's main job, without hardware.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
status=0
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target TursaBackupCmd tursa-sim

address=127.0.0.1
password=service
state=$(mktemp -d)
mkdir -p demo
trap 'kill "${SIM_PID:-}" 2>/dev/null || true; rm -rf "$state"' EXIT
source scripts/sim.sh
start_sim build "$address" "$state" --password "$password"

echo "== backup of the controller at $address into demo/site.bak"
build/TursaBackupCmd --backup --ip-address "$address" --password "$password" \
    --file-name demo/site.bak --verbose 3 || status=$?
echo "exit status ${status:-0}"
echo "== demo/site.bak (values cut at 60 characters)"
cut -c1-60 demo/site.bak

status=0
echo "== restore of demo/site.bak into the controller"
build/TursaBackupCmd --restore --ip-address "$address" --password "$password" \
    --file-name demo/site.bak --verbose 3 || status=$?
echo "exit status ${status:-0}"
