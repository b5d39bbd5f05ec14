#!/usr/bin/env bash
# Installs what the native build, tests, sanitizer and valgrind runs, fuzzers,
# benchmarks, release archives, formatter and linter need on a Debian machine
# (SQLite and abseil only for the comparison benchmark, gnuplot only for its
# chart; the library never links them). Quick when everything is there.
#
#   setup-tools.sh [demo|test]
#
# With `demo` or `test`, only what `make demo` or `make test` needs
# (scripts/check-tools.sh runs it so when a build finds something missing).
set -euo pipefail

case ${1:-all} in
demo) packages=(g++ cmake make) ;;
test) packages=(g++ cmake make python3 libgtest-dev binutils) ;;
all) packages=(g++ cmake make python3 libgtest-dev libbenchmark-dev libsqlite3-dev libabsl-dev gnuplot-nox valgrind clang
               libclang-rt-14-dev clang-format clang-tidy binutils zip unzip) ;;
*) echo "usage: setup-tools.sh [demo|test]" >&2; exit 2 ;;
esac
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
case ${1:-all} in
all) echo "setup-tools: native build and test tools are ready" ;;
*) echo "setup-tools: what make $1 needs is ready" ;;
esac
