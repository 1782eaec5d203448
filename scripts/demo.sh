#!/usr/bin/env bash
# The tool's main job without hardware: backs up the bundled simulator (a
# controller of interface version 107 with three finger print modules) into
# demo/site.bak, shows the inspector's report of it, restores the file into a
# second simulator whose modules are blank, and shows that the CRC check
# passed and the modules now hold the file's templates. Real time, with the
# tool's fixed pauses (a progress line shows them on a terminal): about four
# minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target TursaBackupCmd tursa-sim tursa-inspect

password=service
site=$(mktemp -d)
spare=$(mktemp -d)
mkdir -p demo
trap 'kill "${SITE_PID:-}" "${SPARE_PID:-}" 2>/dev/null || true; rm -rf "$site" "$spare"' EXIT
source scripts/sim.sh
start_sim build 127.0.0.1 "$site" --password "$password" --fpms 1,2,3 --seed 1
SITE_PID=$SIM_PID

echo "== backup of the site at 127.0.0.1 into demo/site.bak (verbosity 3)"
status=0
build/TursaBackupCmd --backup --ip-address 127.0.0.1 --password "$password" \
    --file-name demo/site.bak --verbose 3 || status=$?
echo "exit status $status"
echo "== the inspector's report of demo/site.bak"
build/tursa-inspect demo/site.bak || true

start_sim build 127.0.0.251 "$spare" --password "$password" --fpms 1,2,3 --seed 2 --blank-fpms
SPARE_PID=$SIM_PID
echo "== restore of demo/site.bak into the replacement at 127.0.0.251 (blank modules)"
status=0
build/TursaBackupCmd --restore --ip-address 127.0.0.251 --password "$password" \
    --file-name demo/site.bak --verbose 3 || status=$?
echo "exit status $status (0: every module passed its CRC check)"
kill "$SPARE_PID" "$SITE_PID"
wait "$SPARE_PID" "$SITE_PID" 2>/dev/null || true
echo "== the replacement's modules against demo/site.bak"
for n in 1 2 3; do
    if grep "^FPM$n.Data=" demo/site.bak | cut -d= -f2- | base64 -d | cmp -s - "$spare/fpm$n.bin"; then
        echo "FPM $n: templates equal the file's"
    else
        echo "FPM $n: templates DIFFER from the file's"
    fi
done
