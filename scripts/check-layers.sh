#!/usr/bin/env bash
# Checks that the folders under src/ form one line, each including only
# folders below it:
#
#   platform, text, index  <  protocol  <  seen  <  store  <  host
#
# platform, text and index share the bottom rank in that order, so text may
# use platform and index may use both, but never the other way round.
# Prints every include of a folder above its own, with its file and line,
# and exits 1 when there is one.
#
#   check-layers.sh [SRC_DIR]     (default: the src/ beside this script)
set -uo pipefail

src=${1:-$(cd "$(dirname "$0")/../src" && pwd)}
order=(platform text index protocol seen store host)

rank_of() {
    local i
    for i in "${!order[@]}"; do
        [ "${order[$i]}" = "$1" ] && { echo "$i"; return; }
    done
    echo -1
}

failures=0
while IFS= read -r -d '' file; do
    folder=${file#"$src"/}
    folder=${folder%%/*}
    own=$(rank_of "$folder")
    if [ "$own" -lt 0 ]; then
        echo "$file: folder '$folder' has no place in the line (${order[*]})"
        failures=$((failures + 1))
        continue
    fi
    while IFS=: read -r line target; do
        used=${target%%/*}
        rank=$(rank_of "$used")
        if [ "$rank" -gt "$own" ]; then
            echo "$file:$line: $folder/ includes $target, from $used/ above it"
            failures=$((failures + 1))
        elif [ "$rank" -lt 0 ] && [[ "$target" == */* ]]; then
            echo "$file:$line: includes $target, from a folder outside the line"
            failures=$((failures + 1))
        fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
             sed -E 's/^([0-9]+):[^"]*"([^"]*)".*/\1:\2/')
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures include(s) against the folder order" >&2
    exit 1
fi
echo "check-layers: every folder includes only folders below it"
