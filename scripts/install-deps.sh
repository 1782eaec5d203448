#!/usr/bin/env bash
# Installs the Debian packages the build, the demo, the tests and the
# benchmarks need, when missing.
set -euo pipefail
packages=(cmake make g++ ccache libgtest-dev libbenchmark-dev libfaketime coreutils time strace groff-base
          nlohmann-json3-dev libcli11-dev libssl-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    apt-get update
    apt-get install -y "${missing[@]}"
fi
