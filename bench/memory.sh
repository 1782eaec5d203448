#!/usr/bin/env bash
# Peak resident memory of the tool against large controller data sets, under
# libfaketime (the 70 s and 5 s pauses compressed twentyfold):
#   (m1) a backup of a controller whose first data set holds 256 MiB,
#   (m2) a restore of a backup file of about 100 MB (one 75 MiB data set).
# Targets: a backup at most three times its data sets plus a few MB, a
# restore at most three times the file's size.
#   bash bench/memory.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

SIM_ADDRESS=127.0.0.252
PASSWORD=service
FAKETIME_ENV=(LD_PRELOAD=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
    FAKETIME="+0 x20" FAKETIME_NO_CACHE=1)
MIB=$((1024 * 1024))

for program in TursaBackupCmd tursa-sim measure; do
    if [ ! -x "$build/$program" ]; then
        echo "$build/$program is missing: build first (see README.md)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'stop_sim; rm -rf "$work"' EXIT
source scripts/sim.sh

# controller_with_set BYTES: a simulator whose first data set holds BYTES
# random bytes (the other three are empty) and one module.
controller_with_set() {
    stop_sim
    rm -rf "$work/data" "$work/state"
    mkdir -p "$work/data" "$work/state"
    head -c "$1" /dev/urandom >"$work/data/UserManagerConfig.bin"
    start_sim "$build" "$SIM_ADDRESS" "$work/state" --password "$PASSWORD" \
        --data-dir "$work/data" --fpms 1
}

# tool WHAT MODE FILE: runs the tool through measure, prints its peak in kB.
tool() {
    local status=0
    "$build/measure" "$work/time" env "${FAKETIME_ENV[@]}" "$build/TursaBackupCmd" \
        --ip-address "$SIM_ADDRESS" --password "$PASSWORD" --verbose 1 "$2" \
        --file-name "$3" || status=$?
    if [ "$status" != 0 ]; then
        echo "$1 ended with status $status" >&2
        exit 1
    fi
    read -r _ _ _ peak _ <"$work/time"
    echo "$peak"
}

ratio() {
    awk -v p="$1" -v b="$2" 'BEGIN { printf "%.2f", p * 1024 / b }'
}

echo "== (m1) backup of a 256 MiB data set" >&2
controller_with_set $((256 * MIB))
peak=$(tool "the backup" --backup "$work/m1.bak")
sets=$((256 * MIB))
printf '(m1) backup, data sets %d MiB: peak %d MiB = %s x the data sets (target <= 3 x + a few MB)\n' \
    $((sets / MIB)) $((peak / 1024)) "$(ratio "$peak" "$sets")"

echo "== (m2) restore of a file of about 100 MB" >&2
controller_with_set $((75 * MIB))
tool "the backup for the restore" --backup "$work/m2.bak" >/dev/null
size=$(stat -c %s "$work/m2.bak")
controller_with_set 16
peak=$(tool "the restore" --restore "$work/m2.bak")
printf '(m2) restore, file %d MB: peak %d MiB = %s x the file (target <= 3 x)\n' \
    $((size / 1000000)) $((peak / 1024)) "$(ratio "$peak" "$size")"
