#!/usr/bin/env bash
# Installs what the native build, tests, sanitizer and valgrind runs, fuzzers,
# benchmarks and release archives need on a Debian machine (SQLite and
# abseil only for the comparison benchmark, gnuplot only for its chart; the
# library never links them). Quick when everything is there.
set -euo pipefail

packages=(g++ cmake make python3 libgtest-dev libbenchmark-dev libsqlite3-dev libabsl-dev gnuplot-nox valgrind clang
          libclang-rt-14-dev binutils zip unzip)
missing=()
for pkg in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ "${#missing[@]}" -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup-tools: must run as root to install ${missing[*]}" >&2
        exit 1
    fi
    "$(dirname "$0")/apt-install.sh" "${missing[@]}"
fi
echo "setup-tools: native build and test tools are ready"
