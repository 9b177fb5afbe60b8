#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Tonvale needs.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config clang-format git file
  qt6-base-dev qt6-base-dev-tools
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  libpulse-dev libxcb1-dev libxcb-keysyms1-dev libx11-dev
  libgtest-dev libgmock-dev
  # run
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-pulseaudio
  gstreamer1.0-tools pulseaudio pulseaudio-utils xdg-utils
  libqt6widgets6 qt6-qpa-plugins
  # tests and benchmarks
  xvfb xdotool x11-utils x11-apps sox libsox-fmt-mp3 ffmpeg mpg123 imagemagick time
  appstream desktop-file-utils xauth lintian
  # the same tests on PipeWire's pulse server, on a private session bus
  pipewire pipewire-pulse wireplumber dbus-daemon
  # the remote control's test: a notification service on a private session bus
  python3-dbus python3-gi
  # the hotkeys on Wayland: the portal frontend with a test backend, Qt under a headless Weston
  xdg-desktop-portal dbus-bin weston qt6-wayland
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
