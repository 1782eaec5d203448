#!/usr/bin/env bash
# The fleet runner side by side: 100 simulated controllers (three modules
# each) on 127.0.2.1 to 127.0.2.100, backed up by one `tursa-fleet run
# --jobs 100`, against one controller's run alone, both with the tools'
# pauses compressed twentyfold by libfaketime (in tursa-fleet's environment,
# so every tool it starts inherits it; the simulators run in real time).
# Prints one table: the wall time of both runs and their ratio (goal: at
# most 1.3), the CPU time of every process (tursa-fleet, its tools and the
# simulators, from the kernel's account of the ended run and /proc of the
# simulators), and the peak of the resident memory of all those processes
# together (their RSS summed every 0.2 s), each also per controller.
# Compressed, the 100 runs' bus transfers all fall into a few seconds and
# the two cores, not the pauses, set the wall time, so the goal is reached
# in real time only (SPEEDUP 1: no libfaketime).
# About a minute; in real time about four.
#   bash bench/fleet.sh [build-dir [SPEEDUP]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
speedup=${2:-20}

CONTROLLERS=100
ADDRESS_PREFIX=127.0.2 # no test uses 127.0.2.0/24
PASSWORD=service
FAKETIME_LIB=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
FAKETIME_ENV=()
[ "$speedup" = 1 ] || FAKETIME_ENV=(LD_PRELOAD="$FAKETIME_LIB" FAKETIME="+0 x$speedup" FAKETIME_NO_CACHE=1)

for program in TursaBackupCmd tursa-sim tursa-fleet measure; do
    if [ ! -x "$build/$program" ]; then
        echo "$build/$program is missing: build first (see README.md)" >&2
        exit 1
    fi
done
if [ ! -e "$FAKETIME_LIB" ]; then
    echo "$FAKETIME_LIB is missing: run bash scripts/install-deps.sh" >&2
    exit 1
fi

work=$(mktemp -d)
SIM_PIDS=()
SAMPLER_PID=
MEASURED_PID=
cleanup() {
    [ -z "$SAMPLER_PID" ] || kill "$SAMPLER_PID" 2>/dev/null || true
    # tursa-fleet (the child of measure) passes SIGTERM on to its tools.
    [ -z "$MEASURED_PID" ] || pkill -TERM -P "$MEASURED_PID" 2>/dev/null || true
    for pid in "${SIM_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${SIM_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

progress() {
    echo "== $*" >&2
}

# ---- the simulators and the inventory ------------------------------------
progress "starting $CONTROLLERS simulators on $ADDRESS_PREFIX.1 to $ADDRESS_PREFIX.$CONTROLLERS"
printf '%s\n' "$PASSWORD" >"$work/password"
chmod 600 "$work/password"
for i in $(seq "$CONTROLLERS"); do
    mkdir "$work/sim$i"
    "$build/tursa-sim" --address "$ADDRESS_PREFIX.$i" --state-dir "$work/sim$i" \
        --password "$PASSWORD" --fpms 1,2,3 --seed "$i" --lifetime 900 &
    SIM_PIDS+=($!)
    printf 'c%03d address=%s.%d password_file=%s\n' "$i" "$ADDRESS_PREFIX" "$i" "$work/password" \
        >>"$work/inventory"
done
head -1 "$work/inventory" >"$work/inventory-one"
for i in $(seq "$CONTROLLERS"); do
    for _ in $(seq 100); do
        [ -f "$work/sim$i/ready" ] && break
        sleep 0.1
    done
    if [ ! -f "$work/sim$i/ready" ]; then
        echo "the simulator on $ADDRESS_PREFIX.$i did not start" >&2
        exit 1
    fi
done

# sims_cpu PID...: CPU seconds these simulators have used so far.
sims_cpu() {
    local ticks
    ticks=$(getconf CLK_TCK)
    for pid in "$@"; do
        # utime and stime: fields 14 and 15, counted after the ")" of the name.
        sed 's/.*) //' "/proc/$pid/stat" | awk '{ print $12 + $13 }'
    done | awk -v t="$ticks" '{ s += $1 } END { printf "%.2f", s / t }'
}

# sample_memory OUT-FILE ROOT-PID SIM-PID...: every 0.2 s the RSS (kB) of
# ROOT-PID, its descendants and these simulators summed; the highest sum
# goes to OUT-FILE.
sample_memory() {
    local out=$1 root=$2 peak=0 sum
    shift 2
    local sims="$*"
    while kill -0 "$root" 2>/dev/null; do
        sum=$(ps -e -o pid=,ppid=,rss= | awk -v root="$root" -v sims="$sims" '
            { parent[$1] = $2; rss[$1] = $3 }
            END {
                n = split(sims, s, " ")
                for (i = 1; i <= n; i++) counted[s[i]] = 1
                counted[root] = 1
                # A process counts when it or an ancestor is a root.
                for (p in rss) {
                    for (q = p; q > 1 && !(q in counted); q = parent[q]) {}
                    if (q in counted) total += rss[p]
                }
                print total + 0
            }')
        [ "$sum" -le "$peak" ] || peak=$sum
        echo "$peak" >"$out"
        sleep 0.2
    done
}

# fleet_run NAME INVENTORY JOBS SIM-PID...: one measured `tursa-fleet run`
# into its own store, against these simulators; sets WALL, CPU (tursa-fleet
# and its tools), SIMS_CPU and PEAK_KB.
fleet_run() {
    local name=$1 inventory=$2 jobs=$3 status=0 before
    shift 3
    local sims=("$@")
    before=$(sims_cpu "${sims[@]}")
    echo 0 >"$work/$name.peak"
    "$build/measure" "$work/$name.time" env "${FAKETIME_ENV[@]}" "$build/tursa-fleet" run \
        "$inventory" --store "$work/$name.store" --jobs "$jobs" --json "$work/$name.json" \
        >"$work/$name.report" 2>"$work/$name.err" &
    MEASURED_PID=$!
    sample_memory "$work/$name.peak" "$MEASURED_PID" "${sims[@]}" &
    SAMPLER_PID=$!
    wait "$MEASURED_PID" || status=$?
    MEASURED_PID=
    wait "$SAMPLER_PID" || true
    SAMPLER_PID=
    if [ "$status" != 0 ]; then
        echo "tursa-fleet run ($name) ended with status $status:" >&2
        cat "$work/$name.report" "$work/$name.err" >&2
        exit 1
    fi
    local user sys
    read -r WALL user sys _ _ <"$work/$name.time"
    CPU=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
    SIMS_CPU=$(awk -v a="$before" -v b="$(sims_cpu "${sims[@]}")" 'BEGIN { printf "%.2f", b - a }')
    PEAK_KB=$(cat "$work/$name.peak")
    ATTEMPTS=$(grep -oE '"attempts": [0-9]+' "$work/$name.json" | awk '{ s += $2 } END { print s + 0 }')
}

progress "one controller alone"
fleet_run one "$work/inventory-one" 1 "${SIM_PIDS[0]}"
oneWall=$WALL oneCpu=$CPU oneSimsCpu=$SIMS_CPU onePeak=$PEAK_KB oneAttempts=$ATTEMPTS
progress "$CONTROLLERS controllers, --jobs $CONTROLLERS"
fleet_run all "$work/inventory" "$CONTROLLERS" "${SIM_PIDS[@]}"
summary=$(tail -1 "$work/all.report")
if [ "$summary" != "$CONTROLLERS ok, 0 unchanged, 0 failed" ]; then
    echo "the run of $CONTROLLERS controllers ended with '$summary'" >&2
    exit 1
fi

# ---- the table -------------------------------------------------------------
ratio=$(awk -v a="$WALL" -v o="$oneWall" 'BEGIN { printf "%.2f", a / o }')
pace="with the pauses compressed ${speedup}fold"
[ "$speedup" != 1 ] || pace="in real time"
echo "Runs in $pace; machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), Linux $(uname -r)"
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v n="$CONTROLLERS" -v w="$WALL" -v c="$CPU" -v sc="$SIMS_CPU" -v p="$PEAK_KB" \
    -v ow="$oneWall" -v oc="$oneCpu" -v osc="$oneSimsCpu" -v op="$onePeak" -v r="$ratio" \
    -v at="$ATTEMPTS" -v oat="$oneAttempts" '
    function line(a, b, c, d) { printf "%-42s | %-16s | %-16s | %s\n", a, b, c, d }
    BEGIN {
        line("figure", n " controllers", "per controller", "one controller alone")
        line("wall time", sprintf("%.2f s", w), "", sprintf("%.2f s", ow))
        line("ratio of the wall times (goal <= 1.3)", sprintf("%.2f: %s", r, r <= 1.3 ? "met" : "MISSED"), "", "")
        line("attempts (more than one each: retries)", at, "", oat)
        line("CPU time, all processes", sprintf("%.2f s", c + sc), sprintf("%.3f s", (c + sc) / n),
             sprintf("%.2f s", oc + osc))
        line("  tursa-fleet and its tools", sprintf("%.2f s", c), sprintf("%.3f s", c / n), sprintf("%.2f s", oc))
        line("  the simulators", sprintf("%.2f s", sc), sprintf("%.3f s", sc / n), sprintf("%.2f s", osc))
        line("peak memory, all processes (RSS summed)", sprintf("%.1f MB", p / 1024),
             sprintf("%.2f MB", p / 1024 / n), sprintf("%.1f MB", op / 1024))
    }'
