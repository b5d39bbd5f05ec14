#!/usr/bin/env bash
# Prints the exports of the command table (src/host/commands.def), one a
# line in its order: the name and the bytes of arguments a 32-bit caller
# pushes (a hook's from its line; a command takes six 32-bit arguments).
# With --commands, only the command names.
#
#   export-list.sh [--commands] [COMMANDS_DEF]   (default: the one in src/host)
set -euo pipefail
only_commands=
[ "${1:-}" = --commands ] && { only_commands=yes; shift; }
table=${1:-$(cd "$(dirname "$0")/.." && pwd)/src/host/commands.def}
[ -f "$table" ] || { echo "export-list: no command table at $table" >&2; exit 1; }
sed -nE 's/^LASTSPOT_HOOK\(([A-Za-z0-9_]+), *([0-9]+)\).*/hook \1 \2/p;
         s/^LASTSPOT_COMMAND\(([A-Za-z0-9_]+),.*/command \1 24/p' "$table" |
    if [ -n "$only_commands" ]; then awk '$1 == "command" {print $2}'; else awk '{print $2, $3}'; fi
