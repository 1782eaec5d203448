# Sourced by the demo and the benchmarks: starts the bundled simulator in the
# background and waits until it listens, and stops it again.
#   start_sim BUILD_DIR ADDRESS STATE_DIR [simulator options...]
# Sets SIM_PID; the simulator ends by itself after five minutes at the latest.
start_sim() {
    local build=$1 address=$2 state=$3
    shift 3
    "$build/tursa-sim" --address "$address" --state-dir "$state" --lifetime 300 "$@" &
    SIM_PID=$!
    for _ in $(seq 50); do
        [ -f "$state/ready" ] && return 0
        sleep 0.1
    done
    echo "the simulator did not start" >&2
    return 1
}

# Ends the simulator that start_sim started last, if it still runs.
stop_sim() {
    if [ -n "${SIM_PID:-}" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=
    fi
}
