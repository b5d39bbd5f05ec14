#!/usr/bin/env bash
# Checks a built library against the command table (src/host/commands.def).
#
#   check-exports.sh linux LIBRARY.so COMMANDS_DEF
#   check-exports.sh win32 LIBRARY.dll COMMANDS_DEF
#   check-exports.sh win64 LIBRARY.dll COMMANDS_DEF
#
# Every build: the library exports exactly the listed names, undecorated,
# and nothing else. Windows builds: the DLL imports only system DLLs.
# 32-bit Windows: each export is the stdcall function that pops exactly the
# listed number of argument bytes (every "ret" in it is "ret $N"; in a
# stripped DLL, the first "ret" from its export address).
set -euo pipefail

kind=$1 library=$2 list=$3
failures=0
fail() { echo "check-exports: $*" >&2; failures=$((failures + 1)); }

[ -f "$library" ] || { echo "check-exports: no library at $library" >&2; exit 1; }
exports=$("$(dirname "$0")/export-list.sh" "$list")  # "name bytes" lines
expected=$(awk '{print $1}' <<<"$exports" | sort)

case $kind in
linux)
    actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBb]$/ {print $3}' | sort) ;;
win32 | win64)
    objdump=$([ "$kind" = win32 ] && echo i686-w64-mingw32-objdump || echo x86_64-w64-mingw32-objdump)
    headers=$("$objdump" -p "$library")
    # The name pointer table: lines "[   0] Name" after its heading.
    actual=$(printf '%s\n' "$headers" |
        awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && /^[[:space:]]*\[ *[0-9]+\]/ {print $NF; next} on && NF == 0 {on = 0}' |
        sort)
    imports=$(printf '%s\n' "$headers" | awk '/DLL Name:/ {print $3}' | sort -u)
    for dll in $imports; do
        case ${dll,,} in
        kernel32.dll | user32.dll | msvcrt.dll) ;;
        *) fail "imports from $dll, which is not a system DLL" ;;
        esac
    done ;;
*)
    echo "usage: check-exports.sh linux|win32|win64 LIBRARY COMMANDS_DEF" >&2
    exit 2 ;;
esac

if [ "$actual" != "$expected" ]; then
    fail "export table differs from $list"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed 's/^/    /' >&2 || true
fi

if [ "$kind" = win32 ]; then
    disassembly=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$library")
    # A stripped DLL (as released) has no symbols: each export is then read
    # from its address in the export table up to its first ret.
    stripped=$(grep -q '<_[A-Za-z]*@[0-9]*>:' <<<"$disassembly" || echo yes)
    if [ -n "$stripped" ]; then
        image_base=$(awk '$1 == "ImageBase" {print $2}' <<<"$headers")
        # "[   2] +base[   3] 15b0 Export RVA" and "[   2] SeenAdd": index, address, name.
        addresses=$(printf '%s\n' "$headers" |
            awk '/^Export Address Table -- Ordinal Base/ {on = 1; next} on && NF == 0 {on = 0}
                 on {gsub(/[][]/, " "); print $1, $4}')
        indexes=$(printf '%s\n' "$headers" |
            awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0}
                 on {gsub(/[][]/, " "); print $2, $1}')
    fi
    while read -r name bytes; do
        hex=$(printf '0x%x' "$bytes")
        if [ -z "$stripped" ]; then
            # The function's instructions: from its label to the next blank line.
            body=$(awk -v label="<_${name}@${bytes}>:" \
                'index($0, label) {on = 1; next} on && NF == 0 {exit} on {print}' <<<"$disassembly")
            missing="no stdcall function _${name}@${bytes} (wrong argument size?)"
        else
            slot=$(awk -v name="$name" '$1 == name {print $2}' <<<"$indexes")
            rva=$(awk -v slot="$slot" '$1 == slot {print $2}' <<<"$addresses")
            body=
            if [ -n "$slot" ] && [ -n "$rva" ]; then
                start=$((0x$image_base + 0x$rva))
                body=$(i686-w64-mingw32-objdump -d --no-show-raw-insn --start-address=$start \
                    --stop-address=$((start + 512)) "$library" |
                    awk 'done {next} /^ *[0-9a-f]+:/ {print} /^ *[0-9a-f]+:[[:space:]]+ret/ {done = 1}')
            fi
            missing="no code found at its export address"
        fi
        if [ -z "$body" ]; then
            fail "$name: $missing"
            continue
        fi
        rets=$(grep -E '[[:space:]]ret' <<<"$body" || true)
        if [ -z "$rets" ] || grep -vqE "ret +\\\$${hex}\$" <<<"$rets"; then
            fail "$name: does not return with ret \$${hex}: $(printf '%s' "$rets" | tr '\n' ';')"
        fi
    done <<<"$exports"
fi

if [ "$failures" -ne 0 ]; then
    echo "check-exports: $kind: $failures problem(s) in $library" >&2
    exit 1
fi
echo "check-exports: $kind: $(printf '%s\n' "$expected" | wc -l) exports as listed in $library"
