#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; does nothing when all are present.
#   scripts/deps.sh          everything: the programs, the tests, the package, the Windows build
#   scripts/deps.sh --run    only what building and running the two programs needs (./run.sh)
set -euo pipefail

RUN_PACKAGES=(
  g++ cmake make pkg-config ccache
  qt6-base-dev qt6-serialport-dev libgl-dev qt6-translations-l10n
  libqt6sql6-sqlite libqt6sql6-psql qt6-charts-dev libqt6opengl6-dev
  libxlsxwriter-dev libminizip-dev libfreexl-dev libssl-dev libqrencode-dev
  fonts-noto-cjk fonts-liberation fonts-wqy-zenhei
)
PACKAGES=(
  "${RUN_PACKAGES[@]}"
  postgresql
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth poppler-utils qpdf zbar-tools python3 python3-openpyxl python3-xlwt util-linux locales
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  libz-mingw-w64-dev qt6-base-dev-tools ninja-build wine wine64 nsis
  dpkg-dev desktop-file-utils appstream librsvg2-bin
  # their copyright files are the licence texts the Windows packages ship
  libqt6core6 libqt6serialport6 libqt6charts6 libsqlite3-0 libxlsxwriter4 libminizip1 libfreexl1 libpq5 libssl3 libqrencode4
  gcc-mingw-w64-base mingw-w64-common
)

# The report's PDF text is tested under the users' own locale as well as C.
LOCALE=zh_CN.UTF-8

# The Windows build cross-builds its workbook readers (minizip, FreeXL) from
# Debian's source packages, which apt-get source finds through deb-src lines.
DEB_SRC=/etc/apt/sources.list.d/sf6-deb-src.sources
have_deb_src() {
  grep -qsE '^(deb-src[[:space:]]|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources
}

run_only=false
if [[ "${1:-}" == --run ]]; then
  run_only=true
  PACKAGES=("${RUN_PACKAGES[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
have_locale() { locale -a 2>/dev/null | grep -qix "${LOCALE/UTF-8/utf8}"; }
# Running needs neither the tests' locale nor the Windows build's sources.
if $run_only; then
  have_locale() { true; }
  have_deb_src() { true; }
fi
[[ ${#missing[@]} -eq 0 ]] && have_locale && have_deb_src && exit 0

SUDO=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]} $LOCALE" >&2; exit 1; }
  SUDO=sudo
fi
if ! have_deb_src; then
  echo "Adding deb-src lines ($DEB_SRC)"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  $SUDO tee "$DEB_SRC" >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $SUDO apt-get update -qq
fi
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
if ! have_locale; then
  echo "Generating the $LOCALE locale"
  $SUDO sed -i "s/^# *\($LOCALE UTF-8\)/\1/" /etc/locale.gen
  grep -q "^$LOCALE UTF-8" /etc/locale.gen || echo "$LOCALE UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
