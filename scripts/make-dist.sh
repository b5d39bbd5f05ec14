#!/usr/bin/env bash
# Packs the release archives from three Release builds:
#
#   make-dist.sh OUT_DIR WIN32_BUILD WIN64_BUILD LINUX_BUILD
#
# OUT_DIR/lastspot-VERSION-windows.zip       lastspot.dll, lastspot-host.exe (32-bit),
#                                            x64/ (64-bit), README.md, LICENSE, CHANGELOG.md
# OUT_DIR/lastspot-VERSION-linux-x86_64.tar.gz  liblastspot.so, lastspot-host, the texts
# OUT_DIR/lastspot-VERSION-debug.zip         the debug information of every packed binary
# OUT_DIR/SHA256SUMS                         over the three archives
#
# Every binary is stripped; its debug information goes into NAME.debug, and
# the stripped binary names that file and its checksum (.gnu_debuglink), so
# a debugger that finds NAME.debug beside NAME reads a crash as if nothing
# had been stripped. The archives depend only on the binaries and texts:
# entries sorted, every time set to SOURCE_DATE_EPOCH (default: the time of
# the checked-out commit), owner 0, fixed modes.
set -euo pipefail

[ "$#" -eq 4 ] || { echo "usage: make-dist.sh OUT_DIR WIN32_BUILD WIN64_BUILD LINUX_BUILD" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1 win32=$2 win64=$3 linux=$4

version=$(cat "$linux/lastspot-version.txt")
for build in "$win32" "$win64"; do
    if [ "$(cat "$build/lastspot-version.txt")" != "$version" ]; then
        echo "make-dist: $build is version $(cat "$build/lastspot-version.txt"), $linux is $version" >&2
        exit 1
    fi
done
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) || {
        echo "make-dist: not a git checkout: set SOURCE_DATE_EPOCH" >&2
        exit 1
    }
fi
# objcopy writes the current time into the PE header of what it strips
# unless SOURCE_DATE_EPOCH is set; zip stores local times.
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C

# The objcopy that matches a build's target, as CMake found it.
objcopy_of() {
    sed -n 's/^CMAKE_OBJCOPY:FILEPATH=//p' "$1/CMakeCache.txt"
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/windows/x64" "$stage/linux" "$stage/debug/x64" "$stage/debug/linux-x86_64"

# pack_binary BUILD NAME PACKED_DIR DEBUG_DIR
pack_binary() {
    local build=$1 name=$2 packed=$3 debug=$4 objcopy
    objcopy=$(objcopy_of "$build")
    [ -f "$build/bin/$name" ] || { echo "make-dist: no $build/bin/$name" >&2; exit 1; }
    "$objcopy" --only-keep-debug "$build/bin/$name" "$debug/$name.debug"
    "$objcopy" --strip-all --add-gnu-debuglink="$debug/$name.debug" "$build/bin/$name" "$packed/$name"
}
pack_binary "$win32" lastspot.dll "$stage/windows" "$stage/debug"
pack_binary "$win32" lastspot-host.exe "$stage/windows" "$stage/debug"
pack_binary "$win64" lastspot.dll "$stage/windows/x64" "$stage/debug/x64"
pack_binary "$win64" lastspot-host.exe "$stage/windows/x64" "$stage/debug/x64"
pack_binary "$linux" liblastspot.so "$stage/linux" "$stage/debug/linux-x86_64"
pack_binary "$linux" lastspot-host "$stage/linux" "$stage/debug/linux-x86_64"
for text in README.md LICENSE CHANGELOG.md; do
    cp "$root/$text" "$stage/windows/"
    cp "$root/$text" "$stage/linux/"
done

# Fixed modes and times: programs and libraries 755, the rest 644.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.so' -o -name lastspot-host \) -exec chmod 755 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

# The files under a folder, sorted, relative to it.
files_of() { (cd "$1" && find . -type f | sed 's|^\./||' | sort); }

# zip: no extra fields (owner, precise times), no directory entries.
make_zip() {
    local from=$1 archive=$2
    rm -f "$archive"
    files_of "$from" | (cd "$from" && zip -X -D -q -9 -@ "$archive")
}
make_tar_gz() {
    local from=$1 archive=$2
    files_of "$from" | tar -C "$from" --format=gnu --no-recursion --owner=0 --group=0 --numeric-owner \
        --mtime="@$SOURCE_DATE_EPOCH" -cf - -T - | gzip -9 -n >"$archive"
}

rm -rf "$out" && mkdir -p "$out"
out=$(cd "$out" && pwd)
windows_zip=lastspot-$version-windows.zip
linux_tar=lastspot-$version-linux-x86_64.tar.gz
debug_zip=lastspot-$version-debug.zip
make_zip "$stage/windows" "$out/$windows_zip"
make_tar_gz "$stage/linux" "$out/$linux_tar"
make_zip "$stage/debug" "$out/$debug_zip"
(cd "$out" && sha256sum "$windows_zip" "$linux_tar" "$debug_zip" >SHA256SUMS)

size_kb() { echo "$(( ($(stat -c %s "$1") + 1023) / 1024 )) KB"; }
echo "make-dist: lastspot $version in $out (times from $SOURCE_DATE_EPOCH):"
echo "  lastspot.dll 32-bit $(size_kb "$stage/windows/lastspot.dll"), 64-bit $(size_kb "$stage/windows/x64/lastspot.dll"), liblastspot.so $(size_kb "$stage/linux/liblastspot.so")"
sed 's/^/  /' "$out/SHA256SUMS"
