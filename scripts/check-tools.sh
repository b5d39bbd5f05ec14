#!/usr/bin/env bash
# Checks, before `make demo` or `make test` builds anything, that what it
# needs is installed: CMake and a C++ compiler for the demo; for the tests
# also GoogleTest (its header and library where the compiler finds them),
# nm (the export check) and python3 (the function-length check). Silent when everything is there. Otherwise, as
# root, installs what is missing through scripts/setup-tools.sh; as anyone
# else, stops with one line naming the command to run.
#
#   check-tools.sh demo|test
set -uo pipefail
purpose=${1:-}
case $purpose in demo | test) ;; *) echo "usage: check-tools.sh demo|test" >&2; exit 2 ;; esac
setup=$(dirname "$0")/setup-tools.sh
cxx=${CXX:-c++}

# The names of what is missing, one a line.
missing() {
    command -v cmake >/dev/null || echo CMake
    if ! command -v "$cxx" >/dev/null; then
        echo "a C++ compiler ($cxx)"
        return
    fi
    [ "$purpose" = test ] || return
    command -v nm >/dev/null || echo nm
    command -v python3 >/dev/null || echo python3
    if ! echo '#include <gtest/gtest.h>' | "$cxx" -std=c++20 -x c++ -E - >/dev/null 2>&1 ||
        { [ "$("$cxx" -print-file-name=libgtest.a)" = libgtest.a ] &&
          [ "$("$cxx" -print-file-name=libgtest.so)" = libgtest.so ]; }; then
        echo GoogleTest
    fi
}

lacking=$(missing)
[ -z "$lacking" ] && exit 0
names=$(paste -sd, <<<"$lacking" | sed 's/,/, /g')
if [ "$(id -u)" -eq 0 ]; then
    echo "make $purpose: installing $names (scripts/setup-tools.sh $purpose)"
    "$setup" "$purpose" || exit 1
    lacking=$(missing)
    [ -z "$lacking" ] && exit 0
    echo "make $purpose: still missing after scripts/setup-tools.sh: $(paste -sd, <<<"$lacking")" >&2
    exit 1
fi
echo "make $purpose needs $names: run 'sudo scripts/setup-tools.sh $purpose' (or make $purpose as root), then make $purpose again" >&2
exit 1
