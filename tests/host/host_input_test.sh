#!/usr/bin/env bash
# The substitute host on input it cannot run: names that are not the
# library's commands (even ones the symbol search would find, like exit),
# the hooks, over-long lines and broken macros each get a one-line error,
# the lines after them still run, and the exit status is 1. A missing
# library is status 2.
#   host_input_test.sh LASTSPOT_HOST
set -uo pipefail
host=$1
failures=0
expect() {  # expect DESCRIPTION EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"
        echo "  expected: $2"
        echo "  actual:   $3"
        failures=$((failures + 1))
    fi
}

long=$(head -c 5000 /dev/zero | tr '\0' 'x')
output=$(printf 'exit\nputs hello\nLoadDll\nUnloadDll 0\nSeenTableAdd %s\n{{99999999999999999999*a}}\nSeenTableCount\n' "$long" |
    "$host" 2>&1)
status=$?
expect "exit status" 1 "$status"
expect "replies and errors" "error: line 1: unknown command 'exit'
error: line 2: unknown command 'puts'
error: line 3: unknown command 'LoadDll'
error: line 4: unknown command 'UnloadDll'
error: line 5: argument line of 5000 bytes does not fit the 4096-byte buffer
error: line 6: repeat count 99999999999999999999 is too large
+OK 0" "$output"

printf '> exit\n< +OK |\n> DllInfo\n< wrong|\n' > "${TMPDIR:-/tmp}/host-input-$$.txt"
output=$("$host" --check "${TMPDIR:-/tmp}/host-input-$$.txt" 2>&1)
status=$?
rm -f "${TMPDIR:-/tmp}/host-input-$$.txt"
expect "transcript exit status" 1 "$status"
expect "transcript summary" "FAILED: 1 transcripts, 2 commands, 2 failures in 1 transcripts" "$(tail -n 1 <<<"$output")"

"$host" --lib /nonexistent/liblastspot.so </dev/null >/dev/null 2>&1
expect "missing library status" 2 "$?"

[ "$failures" -eq 0 ] && echo "host input: all checks passed"
exit $((failures != 0))
