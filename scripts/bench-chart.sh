#!/usr/bin/env bash
# Draws docs/performance.svg: the comparison benchmark at 10,000, 100,000
# and 1,000,000 records (CHART_SIZES overrides them), one panel per command,
# time per call (point commands) or per record (the others) against table
# size, lastspot beside each store that answers the same command. The
# figures are kept in FIGURES; with CHART_REDRAW=1 the chart is drawn again
# from them without running the benchmark.
#   bench-chart.sh COMPARE_BENCH ROUNDS OUT_SVG FIGURES
set -euo pipefail
bench=$1 rounds=$2 out=$3 figures=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "${CHART_REDRAW:-0}" != 1 ]; then
    rm -f "$figures"
    for records in ${CHART_SIZES:-10000 100000 1000000}; do
        echo "bench-chart: $records records" >&2
        "$bench" "$records" "$rounds" --figures "$figures" >&2
    done
fi
[ -s "$figures" ] || { echo "bench-chart: no figures in $figures" >&2; exit 1; }

# One file per operation and store, of "records value" lines by size; the
# index file maps "operation|store" to its number.
awk -F'\t' -v dir="$work" '
    { key = $2 "|" $3
      if (!(key in id)) { id[key] = ++files; print files "\t" key > (dir "/index") }
      print $1, $4 > (dir "/" id[key] ".dat") }' "$figures"

panels=("Get hit" "Get miss" "Add new" "Add replace" "Del"
        "MatchCount, selective (random adds)" "MatchSort, every record (random adds)"
        "DelMatch, selective (random adds)" "Expire t, half by age (random adds)"
        "Expire n, keep half (random adds)" "Save (random adds)" "Load (over the full table)")
stores=(lastspot hash btree map vector sqlite stdio)
declare -A label=([lastspot]="lastspot" [hash]="absl::flat_hash_map" [btree]="absl::btree_map"
                  [map]="std::map" [vector]="vector scan" [sqlite]="SQLite in memory" [stdio]="stdio")
declare -A style=([lastspot]="lw 3 lc rgb '#c0392b'" [hash]="lc rgb '#2980b9'" [btree]="lc rgb '#27ae60'"
                  [map]="lc rgb '#8e44ad'" [vector]="lc rgb '#d35400'" [sqlite]="lc rgb '#7f8c8d'"
                  [stdio]="lc rgb '#2c3e50'")

{
    echo "set terminal svg size 1500,1300 dynamic font 'sans,11'"
    echo "set output '$out'"
    echo "set multiplot layout 4,3 title 'lastspot beside the best containers for each command (ns per call or per record; lower is better)'"
    echo "set logscale xy"
    echo "set xtics ('10k' 10000, '100k' 100000, '1M' 1000000)"
    echo "set xrange [7000:1400000]"
    # The legend beside each panel, where no line runs under it.
    echo "set key outside right top noenhanced font ',9' samplen 2"
    echo "set termoption noenhanced"
    echo "set grid ytics"
    for panel in "${panels[@]}"; do
        plots=()
        for store in "${stores[@]}"; do
            index=$(awk -F'\t' -v key="$panel|$store" '$2 == key { print $1 }' "$work/index")
            [ -n "$index" ] || continue
            plots+=("'$work/$index.dat' using 1:2 with linespoints ${style[$store]} pt 7 ps 0.6 title '${label[$store]}'")
        done
        echo "set title '$panel' noenhanced"
        (IFS=,; echo "plot ${plots[*]}")
    done
    echo "unset multiplot"
} >"$work/chart.gp"
gnuplot "$work/chart.gp"
echo "bench-chart: wrote $out" >&2
