#!/usr/bin/env bash
# Checks the release archives as a user gets them:
#
#   test-dist.sh DIST_DIR
#
# Unpacks the archives of DIST_DIR (made by make-dist.sh) into a scratch
# folder, then checks:
# 1. the archives against SHA256SUMS, and that the sums cover exactly them;
# 2. the files in each archive, and that the texts are this checkout's;
# 3. every packed binary: stripped, tied by .gnu_debuglink to its file in the
#    debug archive (name and checksum), and that file holds the debug
#    information; the DLLs within their size limits;
# 4. the version resource of the DLLs and the host programs;
# 5. the Linux library: its exports, its DllInfo banner against the version,
#    every transcript through the packed host;
# 6. the 32-bit and 64-bit DLLs under Wine: exports and imports, and every
#    transcript through the packed host (run-windows-tests.sh).
# Every check runs and is reported; any failure fails the run, and the
# scratch folder is then kept for a look.
set -uo pipefail

[ "$#" -eq 1 ] || { echo "usage: test-dist.sh DIST_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "$1" && pwd) || exit 2
failures=0
fail() { echo "test-dist: FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "test-dist: $*"; }

# Limits on the packed DLLs, in bytes.
limit_win32=$((250 * 1024)) limit_win64=$((300 * 1024))

shopt -s nullglob
zips=("$dist"/lastspot-*-windows.zip)
shopt -u nullglob
if [ "${#zips[@]}" -ne 1 ]; then
    echo "test-dist: expected one lastspot-VERSION-windows.zip in $dist (run make dist first)" >&2
    exit 1
fi
version=$(basename "${zips[0]}" -windows.zip)
version=${version#lastspot-}
windows_zip=lastspot-$version-windows.zip
linux_tar=lastspot-$version-linux-x86_64.tar.gz
debug_zip=lastspot-$version-debug.zip
pass "lastspot $version in $dist"

# --- 1. Checksums -----------------------------------------------------------
if [ ! -f "$dist/SHA256SUMS" ]; then
    fail "no SHA256SUMS"
else
    if (cd "$dist" && sha256sum --quiet --strict -c SHA256SUMS); then
        pass "checksums match SHA256SUMS"
    else
        fail "an archive does not match SHA256SUMS"
    fi
    listed=$(awk '{print $2}' "$dist/SHA256SUMS" | sort)
    wanted=$(printf '%s\n' "$windows_zip" "$linux_tar" "$debug_zip" | sort)
    [ "$listed" = "$wanted" ] || fail "SHA256SUMS lists $(paste -sd " " <<<"$listed"), not the three archives"
fi

# --- 2. Unpacking and contents ------------------------------------------------
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lastspot-test-dist.XXXXXX")
windows=$scratch/windows linux=$scratch/linux debug=$scratch/debug
mkdir -p "$windows" "$linux" "$debug"
unzip -q "$dist/$windows_zip" -d "$windows" || fail "cannot unpack $windows_zip"
tar -xzf "$dist/$linux_tar" -C "$linux" || fail "cannot unpack $linux_tar"
unzip -q "$dist/$debug_zip" -d "$debug" || fail "cannot unpack $debug_zip"

texts="CHANGELOG.md LICENSE README.md"
# check_contents ARCHIVE FOLDER FILE...: the folder holds exactly these files.
check_contents() {
    local archive=$1 folder=$2
    shift 2
    local actual expected
    actual=$(cd "$folder" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    expected=$(printf '%s\n' "$@" | LC_ALL=C sort)
    if [ "$actual" = "$expected" ]; then
        pass "$archive holds $(paste -sd " " <<<"$expected")"
    else
        fail "$archive holds other files than expected"
        diff <(echo "$expected") <(echo "$actual") | sed 's/^/    /' >&2
    fi
}
# shellcheck disable=SC2086
check_contents "$windows_zip" "$windows" $texts lastspot.dll lastspot-host.exe x64/lastspot.dll x64/lastspot-host.exe
# shellcheck disable=SC2086
check_contents "$linux_tar" "$linux" $texts liblastspot.so lastspot-host
check_contents "$debug_zip" "$debug" lastspot.dll.debug lastspot-host.exe.debug x64/lastspot.dll.debug \
    x64/lastspot-host.exe.debug linux-x86_64/liblastspot.so.debug linux-x86_64/lastspot-host.debug
for text in $texts; do
    for folder in "$windows" "$linux"; do
        [ -f "$folder/$text" ] && ! cmp -s "$folder/$text" "$root/$text" &&
            fail "$text in $(basename "$folder") archive differs from this checkout's"
    done
done

# --- 3. Stripped binaries and their debug files -------------------------------
# check_binary KIND PACKED DEBUG_FILE: KIND picks the binutils.
check_binary() {
    local kind=$1 packed=$2 debug_file=$3 prefix name link
    case $kind in
    win32) prefix=i686-w64-mingw32- ;;
    win64) prefix=x86_64-w64-mingw32- ;;
    *) prefix= ;;
    esac
    name=${packed#"$scratch"/}
    [ -f "$packed" ] || return 0
    # (Whole outputs in variables: grep -q in a pipe would end the pipe early.)
    local sections symbols debug_sections
    sections=$("${prefix}objdump" -h "$packed")
    symbols=$("${prefix}nm" "$packed" 2>&1)
    if grep -qE ' \.(debug_|zdebug_)' <<<"$sections" || ! grep -q 'no symbols' <<<"$symbols"; then
        fail "$name: not stripped (debug sections or a symbol table)"
    fi
    debug_sections=$("${prefix}objdump" -h "$debug_file" 2>/dev/null)
    if ! grep -q ' \.debug_info' <<<"$debug_sections"; then
        fail "$name: $(basename "$debug_file") holds no debug information"
    fi
    link=$scratch/debuglink
    rm -f "$link"
    if ! "${prefix}objcopy" --dump-section .gnu_debuglink="$link" "$packed" "$scratch/dump.out" 2>/dev/null ||
        [ ! -s "$link" ]; then
        fail "$name: no .gnu_debuglink"
        return
    fi
    # The section: the debug file's name, NUL-padded, then the CRC-32 of its
    # contents (little-endian), the same CRC that ends a gzip stream.
    local linked_name linked_crc debug_crc
    linked_name=$(head -c "$(($(stat -c %s "$link") - 4))" "$link" | tr -d '\0')
    linked_crc=$(tail -c 4 "$link" | od -An -tx1 | tr -d ' \n')
    debug_crc=$(gzip -c <"$debug_file" | tail -c 8 | head -c 4 | od -An -tx1 | tr -d ' \n')
    if [ "$linked_name" != "$(basename "$debug_file")" ]; then
        fail "$name: debug link names '$linked_name', not $(basename "$debug_file")"
    elif [ "$linked_crc" != "$debug_crc" ]; then
        fail "$name: debug link checksum $linked_crc does not match $(basename "$debug_file") ($debug_crc)"
    else
        pass "$name: stripped, debug information in $(basename "$debug_file")"
    fi
}
check_binary win32 "$windows/lastspot.dll" "$debug/lastspot.dll.debug"
check_binary win32 "$windows/lastspot-host.exe" "$debug/lastspot-host.exe.debug"
check_binary win64 "$windows/x64/lastspot.dll" "$debug/x64/lastspot.dll.debug"
check_binary win64 "$windows/x64/lastspot-host.exe" "$debug/x64/lastspot-host.exe.debug"
check_binary linux "$linux/liblastspot.so" "$debug/linux-x86_64/liblastspot.so.debug"
check_binary linux "$linux/lastspot-host" "$debug/linux-x86_64/lastspot-host.debug"

check_size() {
    local file=$1 limit=$2 size
    [ -f "$file" ] || return 0
    size=$(stat -c %s "$file")
    if [ "$size" -lt "$limit" ]; then
        pass "${file#"$scratch"/}: $size bytes (limit $limit)"
    else
        fail "${file#"$scratch"/}: $size bytes, limit $limit"
    fi
}
check_size "$windows/lastspot.dll" "$limit_win32"
check_size "$windows/x64/lastspot.dll" "$limit_win64"

# --- 4. Version resources -----------------------------------------------------
IFS=. read -r major minor patch <<<"$version"
# check_resource KIND FILE FILE_TYPE
check_resource() {
    local kind=$1 file=$2 type=$3 windres rc name problems=()
    [ -f "$file" ] || return 0
    windres=$([ "$kind" = win32 ] && echo i686-w64-mingw32-windres || echo x86_64-w64-mingw32-windres)
    name=$(basename "$file")
    if ! rc=$("$windres" -J coff -O rc -i "$file" 2>&1); then
        fail "${file#"$scratch"/}: no resources ($rc)"
        return
    fi
    grep -qx " FILEVERSION $major, $minor, $patch, 0" <<<"$rc" || problems+=(FILEVERSION)
    grep -qx " PRODUCTVERSION $major, $minor, $patch, 0" <<<"$rc" || problems+=(PRODUCTVERSION)
    grep -qx " FILETYPE 0x$type" <<<"$rc" || problems+=(FILETYPE)
    grep -qF "VALUE \"FileVersion\", \"$version\"" <<<"$rc" || problems+=(FileVersion)
    grep -qF "VALUE \"ProductVersion\", \"$version\"" <<<"$rc" || problems+=(ProductVersion)
    grep -qF 'VALUE "ProductName", "lastspot"' <<<"$rc" || problems+=(ProductName)
    grep -qF "VALUE \"OriginalFilename\", \"$name\"" <<<"$rc" || problems+=(OriginalFilename)
    grep -qE 'VALUE "FileDescription", "[^"]+"' <<<"$rc" || problems+=(FileDescription)
    grep -qE 'VALUE "LegalCopyright", "[^"]*lastspot authors[^"]*"' <<<"$rc" || problems+=(LegalCopyright)
    if [ "${#problems[@]}" -eq 0 ]; then
        pass "${file#"$scratch"/}: version resource $version"
    else
        fail "${file#"$scratch"/}: version resource wrong or missing: ${problems[*]}"
    fi
}
check_resource win32 "$windows/lastspot.dll" 2
check_resource win32 "$windows/lastspot-host.exe" 1
check_resource win64 "$windows/x64/lastspot.dll" 2
check_resource win64 "$windows/x64/lastspot-host.exe" 1

# --- 5. The Linux library ------------------------------------------------------
transcripts=("$root"/tests/transcripts/*.txt)
if [ -f "$linux/liblastspot.so" ] && [ -f "$linux/lastspot-host" ]; then
    "$root/scripts/check-exports.sh" linux "$linux/liblastspot.so" "$root/src/host/commands.def" ||
        fail "linux: export check"
    # The banner's number is the version run together, the patch in three digits.
    number=$((major * 10000 + minor * 1000 + patch))
    banner=$(cd "$linux" && echo DllInfo | ./lastspot-host)
    if [[ $banner == "+OK lastspot $number "* ]]; then
        pass "linux: DllInfo: $banner"
    else
        fail "linux: DllInfo replies '$banner', not the banner of $version ($number)"
    fi
    mkdir -p "$scratch/linux-run"
    if (cd "$scratch/linux-run" && "$linux/lastspot-host" --report "$scratch/linux-transcripts.txt" \
        --check "${transcripts[@]}" >/dev/null 2>&1); then
        pass "linux: transcripts: $(tail -n 1 "$scratch/linux-transcripts.txt")"
    else
        fail "linux: transcripts"
        grep -v '^PASS ' "$scratch/linux-transcripts.txt" 2>/dev/null | sed 's/^/    /' >&2
    fi
fi

# --- 6. The Windows DLLs under Wine --------------------------------------------
if [ -f "$windows/lastspot.dll" ]; then
    "$root/scripts/run-windows-tests.sh" win32 "$windows" || fail "win32: Windows checks"
fi
if [ -f "$windows/x64/lastspot.dll" ]; then
    "$root/scripts/run-windows-tests.sh" win64 "$windows/x64" || fail "win64: Windows checks"
fi

if [ "$failures" -ne 0 ]; then
    echo "test-dist: $failures check(s) failed; the unpacked archives are in $scratch" >&2
    exit 1
fi
rm -rf "$scratch"
echo "test-dist: lastspot $version: all checks passed"
