#!/usr/bin/env bash
# Installs and registers what the Windows builds and their tests need on a
# Debian machine: the mingw-w64 cross compilers, wine64 for 64-bit programs,
# and 32-bit Wine run through qemu-user (this kernel cannot execute 32-bit ELF
# programs itself). Safe to run again: each step checks first and does nothing
# when its work is already done.
set -euo pipefail

need_root() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup-windows-tools: must run as root to $1" >&2
        exit 1
    fi
}

missing=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for pkg in g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
           binutils-mingw-w64-x86-64 wine wine64 qemu-user-static; do
    have_pkg "$pkg" || missing+=("$pkg")
done
for pkg in wine32:i386 wine32-preloader:i386; do
    have_pkg "$pkg" || missing+=("$pkg")
done

if [ "${#missing[@]}" -gt 0 ]; then
    need_root "install ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    "$(dirname "$0")/apt-install.sh" "${missing[@]}"
fi

# Hand 32-bit ELF programs (the 32-bit Wine loader) to qemu.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-i386" ]; then
    need_root "register qemu-i386 with binfmt_misc"
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt"
    fi
    if [ ! -e "$binfmt/qemu-i386" ]; then
        printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
            > "$binfmt/register"
    fi
fi

echo "setup-windows-tools: mingw-w64, wine64 and wine32 (qemu) are ready"
