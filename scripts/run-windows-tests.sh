#!/usr/bin/env bash
# Runs the Windows checks of one build under Wine:
#
#   run-windows-tests.sh win32|win64 BUILD_DIR
#
# BUILD_DIR is a build directory, whose programs are in its bin/, or a folder
# that holds lastspot.dll and lastspot-host.exe itself (an unpacked release).
# 1. the export contract of lastspot.dll;
# 2. every unit test program (*_tests.exe), each judged by its exit status
#    and the result file it writes;
# 3. every transcript under tests/transcripts, in one run of the Windows
#    lastspot-host.exe against the Windows DLL, judged by its exit status and
#    its report file.
# 64-bit programs run under wine64; 32-bit ones under 32-bit Wine, which this
# machine runs through qemu-user. Wine there can fail for reasons of its own
# (its server has been seen to die and leave the program waiting for ever),
# so every run has a time limit, and a 32-bit run that fails or overruns is
# tried once more after every Wine process of its prefix is ended; both tries
# are reported and a failure is never turned into a pass: the second try
# must pass on its own.
set -uo pipefail

kind=$1 build=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$build/bin
[ -d "$bin" ] || bin=$build
export WINEDEBUG=-all
case $kind in
win32) export WINEPREFIX=/tmp/lastspot-wine32 WINEARCH=win32; wine=(wine); tries=2 ;;
win64) export WINEPREFIX=/tmp/lastspot-wine64; wine=(/usr/lib/wine/wine64); tries=1 ;;
*) echo "usage: run-windows-tests.sh win32|win64 BUILD_DIR" >&2; exit 2 ;;
esac

results=$build/windows-results
rm -rf "$results" && mkdir -p "$results"
failures=0

"$root/scripts/check-exports.sh" "$kind" "$bin/lastspot.dll" "$root/src/host/commands.def" || failures=$((failures + 1))

# Seconds one program may run under Wine: the slowest, under qemu, needs a
# minute at most in a running session, which takes seconds to start.
limit=${WINE_RUN_LIMIT:-300}
start_limit=${WINE_START_LIMIT:-120}

# Ends every Wine process of this prefix. wineserver -k reaches only the
# processes of a live server; the rest are found by their environment.
stop_wine() {
    wineserver -k >/dev/null 2>&1
    local pid
    for pid in $(pgrep -f 'wine'); do
        if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            kill -9 "$pid" 2>/dev/null
        fi
    done
    return 0
}

# One Wine session serves every program of the run. Starting a session
# (wineboot and its services, under qemu for 32-bit) is the slow and fragile
# part: a start has been seen to hang for good, and every program after it
# then waited minutes for it. So the session is started once, under a short
# time limit and up to three times, and its server is kept running (-p)
# until stop_wine ends it.
start_session() {
    local try
    if [ ! -d "$WINEPREFIX" ]; then
        echo "$kind: making the Wine prefix $WINEPREFIX"
        (cd "$bin" && timeout -k 10 "$limit" "${wine[@]}" cmd /c exit 0 >/dev/null 2>&1)
        stop_wine
    fi
    for ((try = 1; try <= 3; try++)); do
        wineserver -p >/dev/null 2>&1
        if (cd "$bin" && timeout -k 10 "$start_limit" "${wine[@]}" cmd /c exit 0 >/dev/null 2>&1); then
            return 0
        fi
        echo "$kind: Wine did not start within $start_limit s (try $try)"
        stop_wine
    done
    return 1
}

# Wine sees this machine's root directory as drive Z:.
windows_path() { printf 'Z:%s' "$1"; }

# run_judged NAME CHECK -- COMMAND...: runs COMMAND under Wine (up to $tries
# times) until CHECK, a shell function given the exit status, passes.
run_judged() {
    local name=$1 check=$2
    shift 3
    local try status
    for ((try = 1; try <= tries; try++)); do
        (cd "$bin" && timeout -k 10 "$limit" "${wine[@]}" "$@" >"$results/$name.out" 2>&1)
        status=$?
        if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
            echo "$kind: $name stopped after ${limit} s without a result"
        fi
        if "$check" "$status"; then
            [ "$try" -gt 1 ] && echo "$kind: $name passed on try $try (try $((try - 1)) failed, see above)"
            echo "$kind: $name passed"
            return 0
        fi
        echo "$kind: $name failed on try $try (exit status $status)"
        tail -n 30 "$results/$name.out" | sed 's/^/    /'
        stop_wine
        [ "$try" -lt "$tries" ] && ! start_session && break
    done
    failures=$((failures + 1))
    return 1
}

if ! start_session; then
    echo "$kind: Wine did not start; no program was run"
    exit 1
fi

for program in "$bin"/*_tests.exe; do
    [ -e "$program" ] || continue
    name=$(basename "$program" .exe)
    xml=$results/$name.xml
    check_unit() {
        local status=$1
        [ "$status" -eq 0 ] && [ -s "$xml" ] && grep -q 'failures="0"' "$xml" &&
            ! grep -q '<failure' "$xml"
    }
    rm -f "$xml"
    run_judged "$name" check_unit -- "$(basename "$program")" "--gtest_output=xml:$(windows_path "$xml")"
done

transcripts=()
for transcript in "$root"/tests/transcripts/*.txt; do transcripts+=("$(windows_path "$transcript")"); done
report=$results/transcripts.txt
check_transcripts() {
    local status=$1
    [ "$status" -eq 0 ] && [ -s "$report" ] && tail -n 1 "$report" | grep -q '^OK: '
}
rm -f "$report"
if ! run_judged transcripts check_transcripts -- lastspot-host.exe --report "$(windows_path "$report")" \
    --check "${transcripts[@]}"; then
    [ -f "$report" ] && grep -v '^PASS ' "$report" | sed 's/^/    /'
fi
[ -f "$report" ] && tail -n 1 "$report" | sed "s/^/$kind: transcripts: /"

# Leave no Wine processes behind for this prefix.
stop_wine

if [ "$failures" -ne 0 ]; then
    echo "$kind: $failures check(s) failed"
    exit 1
fi
echo "$kind: all checks passed"
