#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; does nothing when all are present.
set -euo pipefail

PACKAGES=(
  g++ cmake make pkg-config ccache
  qt6-base-dev qt6-serialport-dev libgl-dev qt6-translations-l10n
  libqt6sql6-sqlite libqt6sql6-psql qt6-charts-dev libqt6opengl6-dev
  postgresql
  libxlsxwriter-dev
  libgtest-dev libbenchmark-dev
  fonts-noto-cjk fonts-liberation fonts-wqy-zenhei
  clang libclang-rt-14-dev
  xvfb xauth poppler-utils python3 python3-openpyxl util-linux
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev qt6-base-dev-tools ninja-build wine wine64 nsis
  dpkg-dev desktop-file-utils appstream librsvg2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
