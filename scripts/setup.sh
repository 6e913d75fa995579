#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root, or with sudo available).
set -euo pipefail
PACKAGES=(
  build-essential cmake ninja-build pkg-config git python3
  googletest libgtest-dev libgmock-dev nlohmann-json3-dev libsimdjson-dev
  libsqlite3-dev sqlite3 libpq-dev libssl-dev postgresql
  libtesseract-dev libleptonica-dev tesseract-ocr tesseract-ocr-eng
  imagemagick fonts-dejavu-core time
  libsystemd-dev libxcb1-dev libxcb-xtest0-dev libxcb-randr0-dev
  libgtk-3-dev qtbase5-dev libatk-adaptor
  xvfb xauth x11-utils x11-xserver-utils dbus dbus-x11 at-spi2-core openbox
  python3-pyatspi gir1.2-atspi-2.0 python3-gi chromium xdotool gtk-3-examples strace weston
  python3-pil fonts-liberation2 fonts-urw-base35 gedit
  libreoffice-writer libreoffice-gtk3 sakura firefox-esr gtk-4-examples kcalc gnome-text-editor xterm
  scdoc man-db groff-base dpkg-dev file
  clang libclang-rt-14-dev lld llvm
)
# The MCP client tests run Node.js with npm; a machine that already has both (another Node.js
# distribution) keeps them.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  PACKAGES+=(nodejs npm)
fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
