#!/usr/bin/env bash
# The project's end-to-end figures in one run, printed as a table at the end
# (progress goes to standard error). About three minutes: the pauses of (a)
# and (b) are real.
#   bash bench/run.sh [build-dir]
#
# (e) micro-benchmarks: build/micro_* (Google Benchmark) and build/store_keys.
# (c) CPU time per bus exchange and peak resident memory of a backup of
#     eight modules (7,760 template exchanges and their neighbours), with the
#     tool's pauses compressed twentyfold by libfaketime so that the
#     exchanges dominate; median of three runs. CPU per exchange is the
#     tool's whole CPU time (start, controller half, file writes included)
#     over the telegrams the simulator received on the bus port.
# (d) connection attempts per second at a refused port: the tool against an
#     address where nothing listens, over its whole 20 s connect time-out,
#     under strace; an attempt is a connect() that starts a connection on a
#     fresh socket.
# (a) CPU share of the controller half of a backup in real time against a
#     simulator that delays every controller reply by 1 s: the tool's CPU
#     time (/proc/PID/schedstat) while its data connection is open, over the
#     time from the connection's opening to its end in the simulator's
#     events.log. The CPU time of the process start (with the shell's fork)
#     is shown apart. The tool is then ended in its 70 s pause; the bus
#     waits are (b).
# (b) CPU share of the module half of a restore in real time: the 70 s and
#     5 s pauses, the programming-mode pauses, the 10 s after a clean, the
#     2 s after the templates, and five time-outs of a module that does not
#     answer (about 100 s).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

SIM_ADDRESS=127.0.0.252
REFUSED_ADDRESS=127.0.0.253 # nothing may listen here
PASSWORD=service
FAKETIME_LIB=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1

for program in TursaBackupCmd tursa-sim measure store_keys; do
    if [ ! -x "$build/$program" ]; then
        echo "$build/$program is missing: build first (see README.md)" >&2
        exit 1
    fi
done
for needed in "$FAKETIME_LIB" /usr/bin/strace; do
    if [ ! -e "$needed" ]; then
        echo "$needed is missing: run bash scripts/install-deps.sh" >&2
        exit 1
    fi
done

loadStart=$(cut -d' ' -f1-3 /proc/loadavg)
work=$(mktemp -d)
TOOL_PID=
cleanup() {
    if [ -n "$TOOL_PID" ]; then
        kill "$TOOL_PID" 2>/dev/null || true
    fi
    stop_sim
    rm -rf "$work"
}
trap cleanup EXIT
source scripts/sim.sh

rows=()
# row LABEL MEASURED TARGET
row() {
    rows+=("$(printf '%-46s | %-60s | %s' "$1" "$2" "$3")")
}
progress() {
    echo "== $*" >&2
}

# A fresh simulator in a fresh state directory; sets STATE.
fresh_sim() {
    stop_sim
    STATE=$(mktemp -d "$work/sim.XXXXXX")
    start_sim "$build" "$SIM_ADDRESS" "$STATE" --password "$PASSWORD" "$@"
}

# tool_run TIME-FILE [env assignments...] -- tool arguments...
# Runs the tool through measure (wall, CPU, peak memory into TIME-FILE) and
# returns its exit status.
tool_run() {
    local timeFile=$1
    shift
    local environment=()
    while [ "$1" != "--" ]; do
        environment+=("$1")
        shift
    done
    shift
    local status=0
    "$build/measure" "$timeFile" env "${environment[@]}" "$build/TursaBackupCmd" \
        --ip-address "$SIM_ADDRESS" --password "$PASSWORD" "$@" || status=$?
    return "$status"
}

# expect WHAT STATUS EXPECTED: stops the run when a tool run ended otherwise.
expect() {
    if [ "$2" != "$3" ]; then
        echo "$1 ended with status $2 instead of $3" >&2
        exit 1
    fi
}

FAKETIME_ENV=(LD_PRELOAD="$FAKETIME_LIB" FAKETIME="+0 x20" FAKETIME_NO_CACHE=1)

# verdict VALUE LIMIT UNIT: the target and whether the value keeps to it.
verdict() {
    awk -v v="$1" -v l="$2" -v u="$3" 'BEGIN { printf "<= %s %s: %s", l, u, (v <= l ? "met" : "MISSED") }'
}

# CPU share in percent of CPU seconds over wall seconds.
share() {
    awk -v c="$1" -v w="$2" 'BEGIN { printf "%.3f", 100 * c / w }'
}

# ---- (e) micro-benchmarks, first, before any simulator runs --------------
micro_found=0
for program in "$build"/micro_*; do
    [ -x "$program" ] || continue
    micro_found=1
    progress "(e) $(basename "$program")"
    "$program" --benchmark_color=false >"$work/micro.txt" 2>/dev/null
    # Name, time, unit, CPU time, unit, iterations, counters.
    while read -r name _ _ cpu unit _ counters; do
        case $name in BM_*) ;; *) continue ;; esac
        row "(e) $name" "$cpu $unit CPU per call ${counters:-}" ""
    done <"$work/micro.txt"
done
if [ "$micro_found" = 0 ]; then
    row "(e) Google Benchmark programs" "not built (libbenchmark-dev missing)" ""
fi
progress "(e) store_keys"
while read -r line; do
    row "(e) store_keys" "$line" ""
done < <("$build/store_keys")

# ---- (c) CPU per bus exchange and peak memory, eight modules -------------
results=()
for run in 1 2 3; do
    progress "(c) eight-module backup under libfaketime, run $run of 3"
    fresh_sim --fpms 1,2,3,4,5,6,7,8
    status=0
    tool_run "$work/c.time" "${FAKETIME_ENV[@]}" -- --backup --file-name "$work/c.bak" || status=$?
    expect "(c) the backup" "$status" 0
    read -r wall user sys peak _ <"$work/c.time"
    telegrams=$(grep -c '^11575 ' "$STATE/frames.log")
    results+=("$(awk -v w="$wall" -v u="$user" -v s="$sys" -v m="$peak" -v n="$telegrams" \
        'BEGIN { printf "%.2f %.3f %d %.2f %.2f", 1e6 * (u + s) / n, u + s, n, m / 1024, w }')")
done
stop_sim
mapfile -t sorted < <(printf '%s\n' "${results[@]}" | sort -n)
read -r perExchange cpu telegrams peakMb wall <<<"${sorted[1]}"
lowest=${sorted[0]%% *}
highest=${sorted[2]%% *}
peakMax=$(printf '%s\n' "${results[@]}" | awk '$4 > m { m = $4 } END { printf "%.2f", m }')
row "(c) CPU per bus exchange, 8 modules" \
    "$perExchange us ($cpu s / $telegrams telegrams; runs $lowest..$highest)" \
    "$(verdict "$perExchange" 20 us)"
row "(c) peak resident memory, 8 modules" "$peakMb MB (highest of the runs $peakMax MB)" \
    "$(verdict "$peakMax" 8 MB)"

# ---- (d) connection attempts at a refused port ---------------------------
progress "(d) refused connects at $REFUSED_ADDRESS for the 20 s time-out, under strace"
status=0
"$build/measure" "$work/d.time" strace -f -ttt -e trace=connect -o "$work/connect.log" \
    "$build/TursaBackupCmd" --backup --ip-address "$REFUSED_ADDRESS" --password "$PASSWORD" \
    --file-name "$work/d.bak" 2>/dev/null || status=$?
read -r wall _ _ _ _ <"$work/d.time"
attempts=$(grep -cE 'connect\(.*= (0|-1 EINPROGRESS)' "$work/connect.log" || true)
refused=$(grep -c 'ECONNREFUSED' "$work/connect.log" || true)
expect "(d) the tool at the refused port" "$status" 1
if [ "$refused" = 0 ]; then
    echo "(d) no connect was refused: does something listen at $REFUSED_ADDRESS?" >&2
    exit 1
fi
row "(d) connect attempts at a refused port" \
    "$(awk -v n="$attempts" -v w="$wall" 'BEGIN { printf "%.2f per s (%d in %.2f s, one per %.0f ms)", n / w, n, w, 1000 * w / n }')" \
    "retry after 200 ms"

# ---- (a) CPU share of the controller half, replies 1 s late --------------
# wait_event PATTERN: waits up to 30 s for a line of the simulator's events.log.
wait_event() {
    for _ in $(seq 1500); do
        grep -qE "$1" "$STATE/events.log" && return 0
        sleep 0.02
    done
    echo "(a) no '$1' in the simulator's events.log within 30 s" >&2
    exit 1
}
# The CPU nanoseconds the tool has used so far.
tool_cpu_ns() {
    local ns
    read -r ns _ <"/proc/$TOOL_PID/schedstat"
    echo "$ns"
}
progress "(a) controller half against a simulator with 1 s reply delay"
fresh_sim --delay 1000 --fpms 1
"$build/TursaBackupCmd" --backup --ip-address "$SIM_ADDRESS" --password "$PASSWORD" \
    --file-name "$work/a.bak" &
TOOL_PID=$!
# Both samples fall into sleeps of the tool: the 2 s after it connected and
# the 70 s after it closed the data connection.
wait_event '^[0-9]+ 11574 open$'
cpuOpen=$(tool_cpu_ns)
wait_event '^[0-9]+ 11574 close$'
cpuClose=$(tool_cpu_ns)
kill "$TOOL_PID"
wait "$TOOL_PID" 2>/dev/null || true
TOOL_PID=
wall=$(awk '$2 == 11574 && $3 == "open" && !o { o = $1 }
            $2 == 11574 && $3 == "close" { c = $1; exit }
            END { printf "%.3f", (c - o) / 1000 }' "$STATE/events.log")
cpu=$(awk -v a="$cpuOpen" -v b="$cpuClose" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
startup=$(awk -v a="$cpuOpen" 'BEGIN { printf "%.1f", a / 1e6 }')
percent=$(share "$cpu" "$wall")
row "(a) CPU share, controller half, 1 s delays" \
    "$percent % (CPU $cpu s over $wall s; start $startup ms)" \
    "$(verdict "$percent" 2 %)"
stop_sim

# ---- (b) CPU share over the bus waits of a restore -----------------------
progress "(b) module restore in real time with five time-outs (about 100 s)"
fresh_sim --fpms 1
status=0
tool_run "$work/b-backup.time" "${FAKETIME_ENV[@]}" -- --backup --file-name "$work/b.bak" ||
    status=$?
expect "(b) the backup before the restore" "$status" 0
fresh_sim --fpms 1 --bus-fault noreply:4:100:5
status=0
tool_run "$work/b.time" -- --restore --fpm-only --file-name "$work/b.bak" || status=$?
expect "(b) the restore" "$status" 0
read -r wall user sys _ _ <"$work/b.time"
cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.4f", u + s }')
percent=$(share "$cpu" "$wall")
row "(b) CPU share, bus waits of a restore" \
    "$percent % (CPU $cpu s over $(printf '%.2f' "$wall") s)" \
    "$(verdict "$percent" 2 %)"
stop_sim

# ---- the table -------------------------------------------------------------
echo "Machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), Linux $(uname -r)"
echo "Load average at the start: $loadStart; at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-46s | %-60s | %s\n' "figure" "measured" "target"
printf '%s\n' "$(printf '%.0s-' $(seq 120))"
# Sorted by their letters: (a) to (e).
printf '%s\n' "${rows[@]}" | sort -s -k1,1
