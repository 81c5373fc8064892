#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, as root or
# through sudo. Does nothing when they are all present. The 32-bit Wine (and
# with it the i386 architecture) comes only on hosts that run 32-bit programs;
# elsewhere scripts/i386-wine.sh prepares a private one that runs through
# user-mode emulation, in the build folder ($ZEMBLOID_BUILD, default build).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  make cmake g++ python3 googletest libgtest-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64
  xvfb xdotool x11-apps imagemagick fonts-ipafont-gothic
  python3-pil python3-pefile
  libx11-dev libxinerama-dev libxrandr-dev x11-xserver-utils xserver-xephyr xscreensaver
  valgrind strace libxfixes3 libxres1 util-linux systemd
  groff-base man-db
  libwayland-dev wayland-protocols sway grim wtype swayidle
  dbus dbus-bin libglib2.0-bin python3-dbus python3-gi libxcb-screensaver0-dev libxss1 libsystemd-dev
  plasma-wayland-protocols
  clang lld wasi-libc libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32
  python3-selenium
)
# The idle tests' desktop sessions (headless GNOME and KWin) and the browser
# tests' Chromium, installed without their recommends, which would pull in
# whole desktops.
desktop=(
  mutter wayland-utils gnome-session-bin gnome-settings-daemon
  pipewire wireplumber gstreamer1.0-pipewire gstreamer1.0-tools
  kwin-wayland
  chromium chromium-driver
)
i386=$(scripts/wine-archs.sh host)
emulated=$(scripts/wine-archs.sh emulated)  # and refuses an unknown WINE_ARCH
[ "$i386" = yes ] && packages+=(wine32:i386)

# The packages of the named list that are not installed.
absent() {
  local -n list=$1
  for package in "${list[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || echo "$package"
  done
}
mapfile -t missing < <(absent packages)
mapfile -t missing_desktop < <(absent desktop)
# The emulated 32-bit Wine, once the packages it is built with are there.
emulated_wine() {
  [ -z "$emulated" ] || scripts/i386-wine.sh "${ZEMBLOID_BUILD:-build}/i386-wine"
}
[ ${#missing[@]} -eq 0 ] && [ ${#missing_desktop[@]} -eq 0 ] && { emulated_wine; exit 0; }

echo "Installing: ${missing[*]} ${missing_desktop[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null ||
    { echo "Run as root or install sudo to install: ${missing[*]} ${missing_desktop[*]}" >&2
      exit 1; }
  sudo=sudo
fi
export DEBIAN_FRONTEND=noninteractive
if [ "$i386" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
[ ${#missing[@]} -eq 0 ] || $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
[ ${#missing_desktop[@]} -eq 0 ] ||
  $sudo apt-get install -y -qq --no-install-recommends "${missing_desktop[@]}" >/dev/null
emulated_wine
