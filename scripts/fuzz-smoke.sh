#!/usr/bin/env bash
# Runs each fuzzer for a bounded time from its seeds (the committed corpus,
# plus the transcripts' command lines for the command fuzzer) and reports
# how many inputs each ran, and how many a second. Any crash or failed check fails the run; the
# input is saved under BUILD/fuzz-artifacts.
#   fuzz-smoke.sh BUILD_DIR SECONDS
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd) seconds=$2
work=$build/fuzz-run
artifacts=$build/fuzz-artifacts
mkdir -p "$work" "$artifacts"
failures=0
for fuzzer in commands_fuzzer seen_file_fuzzer wild_match_fuzzer; do
    corpus=$work/$fuzzer
    mkdir -p "$corpus"
    cp -r "$root/fuzz/corpus/$fuzzer/." "$corpus/"
    [ "$fuzzer" = commands_fuzzer ] && "$root/scripts/fuzz-seeds.sh" "$corpus" >/dev/null
    options=(-max_total_time="$seconds" -print_final_stats=1 -max_len=8192 -timeout=10
             -rss_limit_mb=4096 -artifact_prefix="$artifacts/$fuzzer-")
    case $fuzzer in
    commands_fuzzer)
        # The tokens, and every command name from the command table.
        { cat "$root/fuzz/commands.dict"
          "$root/scripts/export-list.sh" --commands | sed 's/.*/"& "/'; } >"$work/commands.dict"
        options+=(-dict="$work/commands.dict") ;;
    seen_file_fuzzer) options+=(-dict="$root/fuzz/seen_file.dict") ;;
    esac
    log=$work/$fuzzer.log
    "$build/bin/$fuzzer" "${options[@]}" "$corpus" >"$log" 2>&1
    status=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    if [ "$status" -ne 0 ]; then
        echo "$fuzzer: FAILED (exit $status) after ${runs:-?} inputs"
        grep -E 'fuzz check failed|ERROR|SUMMARY|Test unit written' "$log" | head -n 20 | sed 's/^/    /'
        failures=$((failures + 1))
    else
        echo "$fuzzer: ${runs} inputs in ${seconds}s ($((runs / seconds)) inputs/s), no failures" \
             "(corpus $(ls "$corpus" | wc -l) inputs)"
    fi
done
exit $((failures != 0))
