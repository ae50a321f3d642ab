#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking Pellux needs.
# Idempotent and non-interactive; run as root (or with sudo available).
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format
  # Qt 6 and QCoro
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtqml-workerscript qml6-module-qtquick-templates
  qml6-module-qtqml qml6-module-qttest qml6-module-qtquick-dialogs
  qcoro-qt6-dev libgl-dev libxkbcommon-dev libqt6svg6
  # storage, imaging and text recognition
  libsqlite3-dev libssl-dev libwebp-dev libturbojpeg0-dev libjpeg62-turbo-dev
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng
  # X11 capture and activity
  libxcb1-dev libxcb-composite0-dev libxcb-shm0-dev libxcb-xinput-dev libxcb-ewmh-dev
  libxcb-icccm4-dev libxcb-image0-dev
  # Wayland capture and activity (KWin, GNOME, wlroots, portal) and Pellux's windows on Wayland
  libwayland-dev wayland-protocols plasma-wayland-protocols libpipewire-0.3-dev qt6-wayland
  # headless Wayland desktops for the tests: KWin, gnome-shell, sway, with PipeWire and real windows
  kwin-wayland libkf5service-bin mutter gnome-shell pipewire pipewire-bin wireplumber sway foot wtype
  zenity dbus dbus-x11 xdg-desktop-portal xdg-desktop-portal-gnome
  # gdbus: the KDE test arranges its windows with KWin scripts
  libglib2.0-bin
  # video producers on a test PipeWire daemon, for the PipeWire stream's tests
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-pipewire
  # runs Pellux's GNOME Shell extension outside the shell in its test
  nodejs
  # the portal test answers GNOME's consent dialog with input through Mutter's RemoteDesktop (GDBus)
  python3-gi
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox xterm xdotool x11-utils trayer webp imagemagick time man-db manpages
  fonts-dejavu-core fonts-liberation2 breeze-icon-theme adwaita-icon-theme
  # scripts/measure-wayland.sh: processor shares
  bc
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
