#!/usr/bin/env bash
# Checks that every C++ file under src/, tests/, tools/, bench/ and fuzz/ is
# laid out as clang-format 14 lays it out with the .clang-format at the
# root. Prints each file that is not, with the number of its lines that
# would change, and exits 1 when there is one; nothing is rewritten.
#
#   format-check.sh [ROOT]     (default: the checkout around this script)
#
# CLANG_FORMAT names the program (default clang-format-14): another version
# lays some lines out differently.
set -uo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
format=${CLANG_FORMAT:-clang-format-14}
command -v "$format" >/dev/null || {
    echo "format-check: $format is missing: run 'sudo scripts/setup-tools.sh' (package clang-format)" >&2
    exit 2
}
cd "$root" || exit 2

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' 'tools/*.h' \
        'tools/*.cpp' 'bench/*.h' 'bench/*.cpp' 'fuzz/*.h' 'fuzz/*.cpp')
else
    mapfile -t files < <(find src tests tools bench fuzz -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
fi

failures=0
changed=0
for file in "${files[@]}"; do
    lines=$("$format" --style=file "$file" | diff "$file" - | grep -c '^[<>]')
    if [ "$lines" -gt 0 ]; then
        echo "$file: $lines line(s) differ from clang-format's layout"
        failures=$((failures + 1))
        changed=$((changed + lines))
    fi
done
if [ "$failures" -gt 0 ]; then
    echo "format-check: $failures of ${#files[@]} files, $changed lines; '$format -i FILE' lays a file out" >&2
    exit 1
fi
echo "format-check: ${#files[@]} files as clang-format lays them out"
