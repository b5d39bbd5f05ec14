#!/usr/bin/env bash
# Writes seed inputs for the command fuzzer from the transcripts: the
# command lines and file writes of each transcript, in pieces of at most 64
# lines.
#   fuzz-seeds.sh OUTPUT_DIRECTORY
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1
mkdir -p "$out"
for transcript in "$root"/tests/transcripts/*.txt; do
    stem=$(basename "$transcript" .txt)
    grep -E '^(> |@write |@append )' "$transcript" | sed 's/^> //' | split -l 64 -d -a 3 - "$out/$stem-"
done
echo "fuzz-seeds: $(ls "$out" | wc -l) seeds in $out"
