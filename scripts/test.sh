#!/usr/bin/env bash
# Installs what the build and the tests need (Debian, as root), builds the
# tool, the simulator and the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test with ctest.
#   scripts/test.sh          sanitizer build in build-asan/
#   scripts/test.sh --plain  the same suite on a normal build in build/
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=ON
builddir=build-asan
if [ "${1:-}" = "--plain" ]; then
    sanitize=OFF
    builddir=build
fi

bash scripts/install-deps.sh

cmake -S . -B "$builddir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTURSA_SANITIZE="$sanitize" \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build "$builddir" -j"$(nproc)"
# The end-to-end tests mostly wait on sockets and (compressed) pauses, so
# more of them run at once than there are cores.
cd "$builddir"
ctest --output-on-failure -j8
