#!/usr/bin/env bash
# Prepares the 32-bit Wine that runs through user-mode emulation on a host that
# runs no 32-bit programs, in a private folder (the first argument, default
# build/i386-wine), without touching the system: no foreign dpkg architecture,
# no binfmt_misc entry, no installed package. Everything comes from Debian's
# registry through a private apt configuration and is unpacked with dpkg -x.
# Does nothing when the folder is ready. Needs no root.
#   DIR/qemu-i386   qemu-user's static i386 emulator (bookworm-backports:
#                   bookworm's qemu 7.2 takes a minute of CPU per Wine process)
#   DIR/root        the i386 packages' files, the guest's root
#   DIR/wine        runs the i386 Wine loader under the emulator; the host's own
#                   wineserver (the same Wine version) serves it
set -euo pipefail
cd "$(dirname "$0")/.."

dir=$(realpath -m "${1:-build/i386-wine}")
root=$dir/root
stamp=$dir/ready
# The i386 Wine must speak the host wineserver's protocol: the same version.
wine_version=$(dpkg-query -W -f='${Version}' wine64)
# Prepared again when the host's Wine or this recipe changes.
recipe=$( (echo "$wine_version"; cat scripts/i386-wine.sh scripts/i386-wine-trapno.c) | sha256sum)
[ "$(cat "$stamp" 2>/dev/null)" = "$recipe" ] && exit 0
i386_packages=(
  "wine32=$wine_version" "libwine=$wine_version"
  # Loaded by Wine's X11 driver at run time, so no package depends on them.
  libxrender1 libxrandr2 libxinerama1 libxcursor1 libxi6 libxfixes3 libxcomposite1 libxxf86vm1
)

# A private apt: its own sources, lists, cache and an empty dpkg status, so
# that it resolves every dependency from nothing and installs nothing.
private_apt() {
  local arch=$1 suite=$2 apt=$dir/apt-$1
  mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/parts" "$apt/preferences.d"
  : > "$apt/status"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
    > "$apt/sources.list"
  cat > "$apt/apt.conf" <<EOF
APT::Architecture "$arch";
APT::Architectures { "$arch"; };
Dir::State "$apt";
Dir::State::lists "$apt/lists/";
Dir::State::status "$apt/status";
Dir::Cache "$apt";
Dir::Cache::archives "$apt/archives/";
Dir::Etc::sourcelist "$apt/sources.list";
Dir::Etc::sourceparts "$apt/parts";
Dir::Etc::preferencesparts "$apt/preferences.d";
Dir::Etc::preferences "$apt/preferences";
APT::Sandbox::User "$(id -un)";
APT::Install-Recommends "false";
EOF
  APT_CONFIG=$apt/apt.conf apt-get update -qq
}

echo "Preparing the emulated 32-bit Wine in $dir (Debian packages, about 210 MB to download)"
rm -rf "$dir"
mkdir -p "$root"
private_apt i386 bookworm
APT_CONFIG=$dir/apt-i386/apt.conf apt-get install -qq --download-only -y "${i386_packages[@]}" >/dev/null
private_apt amd64 bookworm-backports
(cd "$dir" && APT_CONFIG=$dir/apt-amd64/apt.conf apt-get download -qq qemu-user/bookworm-backports)

for deb in "$dir"/apt-i386/archives/*.deb; do dpkg -x "$deb" "$root"; done
dpkg -x "$dir"/qemu-user_*.deb "$dir/qemu"
mv "$dir/qemu/usr/bin/qemu-i386" "$dir/qemu-i386"
rm -rf "$dir/qemu" "$dir"/qemu-user_*.deb "$dir"/apt-*/archives/*.deb

# What the packages' maintainer scripts would have done: the guest's library
# cache (without it the guest loads the host's /lib32 libraries) and libwine's
# zlib1.dll, marked as a Wine built-in DLL, without which user32 does not load.
echo 'include /etc/ld.so.conf.d/*.conf' > "$root/etc/ld.so.conf"
ldconfig -r "$root"
zlib=$root/usr/i686-w64-mingw32/lib/zlib1.dll
{ head -c 64 "$zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib"; } \
  > "$root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"

# Page faults keep their trap number under the emulator (see the source).
gcc -m32 -O2 -fPIC -c scripts/i386-wine-trapno.c -o "$dir/trapno.o"
ld -m elf_i386 -shared -o "$root/usr/lib/i386-linux-gnu/zembloid-trapno.so" "$dir/trapno.o"
rm "$dir/trapno.o"
echo /usr/lib/i386-linux-gnu/zembloid-trapno.so > "$root/etc/ld.so.preload"

# Wine starts its child processes as BINDIR/wine-preloader LOADER ARGS and
# Debian ships no preloader: this one runs them under the emulator too.
cat > "$root/usr/lib/wine/wine-preloader" <<EOF
#!/bin/sh
exec "$dir/qemu-i386" -L "$root" "\$@"
EOF
cat > "$dir/wine" <<EOF
#!/bin/sh
exec "$dir/qemu-i386" -L "$root" "$root/usr/lib/wine/wine" "\$@"
EOF
chmod +x "$root/usr/lib/wine/wine-preloader" "$dir/wine"
echo "$recipe" > "$stamp"
