#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the C++ files of src/
# and tools/ that BUILD_DIR's compile database names (and the headers of
# src/ and tools/ they include), several files at a time. Prints each
# finding once, then how many there are, and exits 1 when there is one.
#
#   lint.sh BUILD_DIR [PATH...]
#
# With PATHs (folders or files, relative to the checkout), only the files of
# the database under them.
#
# CLANG_TIDY names the program (default clang-tidy-14), JOBS the number of
# files at a time (default the number of processors).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: lint.sh BUILD_DIR [PATH...]}
shift
paths=("$@")
[ $# -gt 0 ] || paths=(src tools)
tidy=${CLANG_TIDY:-clang-tidy-14}
jobs=${JOBS:-$(nproc)}
command -v "$tidy" >/dev/null || {
    echo "lint: $tidy is missing: run 'sudo scripts/setup-tools.sh' (package clang-tidy)" >&2
    exit 2
}
database=$build/compile_commands.json
[ -f "$database" ] || {
    echo "lint: no $database: configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2
    exit 2
}

pattern=$(printf '|%s' "${paths[@]%/}")
mapfile -t files < <(sed -nE 's/^ *"file": *"(.*)",?$/\1/p' "$database" | grep -E "^$root/(${pattern#|})(/|$)" | sort -u)
[ "${#files[@]}" -gt 0 ] || { echo "lint: $database names no file under ${paths[*]}" >&2; exit 2; }

# Each file's findings into a file of their own, so that parallel runs do
# not interleave; the lines naming a finding are then gathered once each
# (a header's finding comes from every file that includes it), with the
# note that gives a function's length.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "${files[@]}" |
    xargs -P "$jobs" -I{} sh -c '"$0" -p "$1" --quiet "$2" >"$3/$(echo "$2" | tr / _).out" 2>/dev/null' \
        "$tidy" "$build" {} "$work"
findings=$(cat "$work"/*.out | grep -E '^[^ ]+:[0-9]+:[0-9]+: ((warning|error): |note: .*threshold)' | sed "s|^$root/||" | sort -u)
if [ -n "$findings" ]; then
    printf '%s\n' "$findings"
    echo "lint: $(grep -cE ': (warning|error): ' <<<"$findings") finding(s) in ${#files[@]} files" >&2
    exit 1
fi
echo "lint: ${#files[@]} files, no finding"
