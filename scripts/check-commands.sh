#!/usr/bin/env bash
# Checks that the README and the tests keep up with the command table
# (src/host/commands.def) and the error codes (src/protocol/error_codes.def):
#
#   - the README's command table lists exactly the commands, in their order;
#   - its error table lists exactly the codes and messages, in their order;
#   - some transcript (tests/transcripts/) runs every command.
#
# Prints every difference and exits 1 when there is one.
#
#   check-commands.sh [ROOT]     (default: the checkout around this script)
set -uo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
failures=0
fail() { echo "check-commands: $*" >&2; failures=$((failures + 1)); }

# Fails when the library's list and the README's differ, showing both.
compare() {
    [ "$2" = "$3" ] && return
    fail "the README's $1 differ from the library's (< library, > README):"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /' >&2
}

# The first COLUMNS cells, backticks and padding dropped, of each row of the
# README table whose header row begins "| HEADER |".
readme_rows() {
    awk -v header="| $1 |" -v columns="$2" '
        index($0, header) == 1 { on = 1; next }
        on && !/^\|/ { on = 0 }
        on && !/^\|[-| ]*$/ {
            split($0, cell, "|")
            row = ""
            for (i = 2; i < 2 + columns; i++) {
                gsub(/^ +| +$|`/, "", cell[i])
                row = row (i == 2 ? "" : " ") cell[i]
            }
            print row
        }' "$root/README.md"
}

commands=$("$root/scripts/export-list.sh" --commands "$root/src/host/commands.def")
compare commands "$commands" "$(readme_rows Command 1)"

codes=$(sed -nE 's/^LASTSPOT_ERROR\([A-Za-z]+, *"([^"]*)", *"(.*)"\)$/\1 \2/p' \
    "$root/src/protocol/error_codes.def")
compare "error codes" "$codes" "$(readme_rows Code 2)"

for command in $commands; do
    grep -qE "^> $command( |$)" "$root"/tests/transcripts/*.txt ||
        fail "no transcript runs $command (tests/transcripts/)"
done

if [ "$failures" -ne 0 ]; then
    echo "check-commands: $failures problem(s)" >&2
    exit 1
fi
echo "check-commands: $(wc -w <<<"$commands") commands and $(wc -l <<<"$codes") error codes as the README lists them, each in a transcript"
