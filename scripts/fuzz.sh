#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/ and runs each of them.
#   scripts/fuzz.sh [SECONDS [RUNS]]   each target runs SECONDS (default 30),
#                                      or until RUNS executions if sooner
# Every target starts from a copy of its corpus in fuzz/corpus/, so the
# committed corpus never grows. Crashing inputs are kept in
# build-fuzz/artifacts/. The exit status is non-zero when a target crashed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
runs_limit="${2:--1}"
case "$seconds$runs_limit" in
*[!0-9-]* | -*)
    echo "usage: $0 [SECONDS [RUNS]]" >&2
    exit 2
    ;;
esac
targets=(fuzz_backup_file fuzz_base64 fuzz_controller_frame fuzz_bus_telegram)

missing=()
command -v clang++-14 >/dev/null || missing+=(clang-14)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "ok installed" ||
    missing+=(libclang-rt-14-dev)
command -v cmake >/dev/null || missing+=(cmake)
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTURSA_FUZZ=ON \
    -DCMAKE_CXX_COMPILER=clang++-14
cmake --build build-fuzz -j"$(nproc)" --target fuzz_targets

artifacts="$PWD/build-fuzz/artifacts"
mkdir -p "$artifacts"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failed=0
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    cp -R "fuzz/corpus/$target/." "$work/$target/"
    log="$work/$target.log"
    status=0
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -runs="$runs_limit" -print_final_stats=1 \
        -artifact_prefix="$artifacts/$target-" "$work/$target" >"$log" 2>&1 || status=$?
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
    if [ -z "$runs" ]; then
        runs="$(sed -n 's/^#\([0-9]*\).*/\1/p' "$log" | tail -n 1)"
    fi
    if [ "$status" -eq 0 ]; then
        echo "$target: ${runs:-?} executions, no crash"
    else
        failed=1
        echo "$target: ${runs:-?} executions, CRASHED (status $status)"
        grep -E "^(==[0-9]+==ERROR|SUMMARY|.*runtime error|artifact_prefix|Test unit written)" "$log" |
            head -n 8 | sed 's/^/    /'
        cp "$log" "$artifacts/$target.log"
    fi
done
exit "$failed"
