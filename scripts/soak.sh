#!/usr/bin/env bash
# Soak of the real tool against the simulator playing a hostile peer: RUNS
# runs (default 500), a backup and a restore for each seed from
# TURSA_SOAK_FIRST_SEED (default 1) on, TURSA_SOAK_JOBS (default 8) at a
# time, each run the test tests/e2e/SoakTest.cpp makes of it in a process
# of its own. Prints how many runs ended with each exit status, and every
# run that crashed, hung, ended with an undocumented status, damaged a file
# or reported a success that is not the whole site, with the seed to repeat it:
#   TURSA_SOAK_FIRST_SEED=SEED TURSA_SOAK_SEEDS=1 build/tursa_tests \
#       --gtest_filter='Hostile/HostileSoak.*'
# Builds in build/ (TURSA_SOAK_BUILD_DIR to change it); the log of every run
# is kept in <build>/soak/. Exits 1 when a run failed.
#   scripts/soak.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-500}
first=${TURSA_SOAK_FIRST_SEED:-1}
jobs=${TURSA_SOAK_JOBS:-8}
builddir=${TURSA_SOAK_BUILD_DIR:-build}
if ! [[ "$runs" =~ ^[0-9]+$ && "$first" =~ ^[0-9]+$ && "$jobs" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/soak.sh [RUNS], RUNS, TURSA_SOAK_FIRST_SEED and TURSA_SOAK_JOBS numbers" >&2
    exit 2
fi

bash scripts/install-deps.sh
cmake -S . -B "$builddir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$builddir" -j"$(nproc)" --target tursa_tests >/dev/null

outdir="$builddir/soak"
rm -rf "$outdir"
mkdir -p "$outdir"
log="$outdir/runs.log"
: >"$log"
tests=$(cd "$builddir" && pwd)/tursa_tests
seeds=$(((runs + 1) / 2))

start=$(date +%s)
for ((seed = first; seed < first + seeds; ++seed)); do
    printf '%s Backup\n%s Restore\n' "$seed" "$seed"
done | head -n "$runs" |
    TESTS=$tests LOG=$(cd "$outdir" && pwd)/runs.log OUT=$(cd "$outdir" && pwd) \
        xargs -P "$jobs" -n 2 sh -c '
        TURSA_SOAK_FIRST_SEED=$0 TURSA_SOAK_SEEDS=1 TURSA_SOAK_LOG=$LOG \
            "$TESTS" --gtest_filter="Hostile/HostileSoak.$1/*" >"$OUT/$0-$1.txt" 2>&1 ||
            echo "$0 $1" >>"$OUT/failed-processes"'
wall=$(($(date +%s) - start))

logged=$(wc -l <"$log")
echo "Soak against tursa-sim --hostile: $runs runs over $seeds seeds from seed $first," \
    "$jobs at a time, in ${wall} s"
echo "Runs logged: $logged"
echo
echo "Exit statuses (task status count):"
sed -E 's/.* task=([a-z]+) status=([^ ]+) .*/\1 \2/' "$log" | sort | uniq -c |
    awk '{printf "  %-8s %-5s %5d\n", $2, $3, $1}'
echo
seedsOf() {
    sed -E 's/seed=([0-9]+) task=([a-z]+) .*/\1 \2/' | tr '\n' ',' | sed 's/,$//; s/,/, /g'
}
unfaithful=$(grep ' status=0 ' "$log" | grep 'faithful=no' | grep -v 'controller_damage=1' || true)
echo "Successful runs whose result is not what the site (backup) or the file (restore)"
echo "holds: $(grep -c . <<<"$unfaithful" || true) ($(seedsOf <<<"$unfaithful"))"
damaged=$(grep 'controller_damage=1' "$log" || true)
echo "Successful backups whose data sets hold bytes the peer replaced (controller frames carry"
echo "no checksum; every module right): $(grep -c . <<<"$damaged" || true) ($(seedsOf <<<"$damaged"))"
changed=$(grep ' task=backup ' "$log" | grep -v 'modules_changed=0' || true)
echo "Backups after which a module's template area differs from before:" \
    "$(grep -c . <<<"$changed" || true) ($(seedsOf <<<"$changed"))"
echo
bad=$(grep -v ' verdict=ok ' "$log" || true)
missing=$(((runs - logged)))
echo "Verdicts:"
sed -E 's/.* verdict=([a-z]+) .*/\1/' "$log" | sort | uniq -c | awk '{printf "  %-10s %5d\n", $2, $1}'
if [ -n "$bad" ] || [ "$missing" -gt 0 ]; then
    echo
    echo "Runs that failed (seed task status verdict; the test's output in $outdir/SEED-Task.txt):"
    if [ -n "$bad" ]; then
        sed -E 's/seed=([0-9]+) task=([a-z]+) status=([^ ]+) verdict=([a-z]+) .*/  \1 \2 \3 \4/' <<<"$bad"
    fi
    if [ "$missing" -gt 0 ]; then
        echo "  $missing runs logged nothing (the test failed before the tool ran):"
        sed 's/^/  /' "$outdir/failed-processes" 2>/dev/null || true
    fi
    exit 1
fi
echo "No run crashed, hung, ended with an undocumented status or damaged a file."
