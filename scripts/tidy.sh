#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the tool and the
# simulator; any finding fails. Uses the compile commands of BUILDDIR
# (default build/, configured and built here if needed, so that a source
# that does not compile stops with the compiler's own message); installs
# clang-tidy on Debian when missing.
#   scripts/tidy.sh [BUILDDIR]
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v run-clang-tidy-14 >/dev/null; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang-tidy-14
fi
builddir=${1:-build}
cmake -S . -B "$builddir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$builddir" -j"$(nproc)" >/dev/null

log=$(mktemp)
trap 'rm -f "$log"' EXIT
run-clang-tidy-14 -quiet -p "$builddir" -j"$(nproc)" "$PWD/src/" "$PWD/sim/" >"$log" 2>&1 || true
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E "(warning|error):" | sort -u || true)
if [ -n "$findings" ]; then
    echo "$findings"
    echo "clang-tidy: $(echo "$findings" | wc -l) findings"
    exit 1
fi
echo "clang-tidy: no findings in src/ and sim/"
