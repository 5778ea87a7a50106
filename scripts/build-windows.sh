#!/usr/bin/env bash
# build-windows.sh [--available | cmake targets...]: cross-builds the programs and the tests
# for Windows x86_64 with MinGW-w64 into build-windows/, warnings as errors,
# then packs the portable zip and the setup program (only when every target is
# built, i.e. no targets are named).
#
# The toolchain (a cross-built Qt and the Windows builds of libxlsxwriter,
# zlib, libpq and googletest) is taken from $SF6_WIN_TOOLCHAIN or from
# ../shared/toolchains beside the checkout. Without it the Windows step is
# skipped: the script says why, prints the marker line below and exits 0.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-windows
skip_marker="SF6-WINDOWS-SKIPPED"
# --available: only says (exit 0) whether the Windows build would be made here.
available_only=false
[[ "${1:-}" == --available ]] && available_only=true
skip() {
  $available_only && exit 1
  echo "$skip_marker: $*; the Windows build and its Wine tests were not run."
  exit 0
}

toolchain=${SF6_WIN_TOOLCHAIN:-}
if [[ -z "$toolchain" && -d "$root/../shared/toolchains" ]]; then
  toolchain=$(cd "$root/../shared/toolchains" && pwd)
fi
qt_pack=qt-6.4.2-mingw-w64.tar.xz
deps_pack=deps-mingw-w64.tar.xz
# OpenSSL, libqrencode and a libpq built with TLS, laid over the deps pack.
tls_pack=deps-tls-mingw-w64.tar.xz
if [[ -z "$toolchain" ]]; then
  skip "no Windows toolchain (neither \$SF6_WIN_TOOLCHAIN nor ../shared/toolchains beside the checkout)"
fi
if [[ ! -f "$toolchain/$qt_pack" || ! -f "$toolchain/$deps_pack" || ! -f "$toolchain/$tls_pack" ]]; then
  skip "$toolchain lacks $qt_pack, $deps_pack or $tls_pack"
fi
for tool in x86_64-w64-mingw32-g++-posix wine makensis; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/deps.sh installs it)"
done
$available_only && exit 0

# The packs, unpacked once; again only when a tarball changes.
sdk=$out/sdk
key=$(cat "$toolchain/$qt_pack" "$toolchain/$deps_pack" "$toolchain/$tls_pack" | sha256sum | cut -d' ' -f1)
if [[ "$(cat "$sdk/.key" 2>/dev/null)" != "$key" ]]; then
  echo "Unpacking the Windows toolchain into $sdk"
  rm -rf "$sdk"
  mkdir -p "$sdk"
  tar -xJf "$toolchain/$qt_pack" -C "$sdk"
  tar -xJf "$toolchain/$deps_pack" -C "$sdk"
  tar -xJf "$toolchain/$tls_pack" -C "$sdk"
  echo "$key" > "$sdk/.key"
fi

# The faces the report and the chart are drawn with, shipped beside the programs.
mkdir -p "$out/fonts"
for font in /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf \
            /usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf \
            /usr/share/fonts/truetype/wqy/wqy-zenhei.ttc; do
  cp -u "$font" "$out/fonts/"
done

# The workbook readers of the import (minizip, FreeXL), built once; again only
# when their sources change. Found through their pkg-config files.
readers=$out/readers
"$root/scripts/build-windows-readers.sh" "$readers"
export PKG_CONFIG_LIBDIR="$sdk/deps/lib/pkgconfig:$readers/lib/pkgconfig"

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
. "$root/scripts/ccache-env.sh"
# -O2, not CMake's -O3: as fast here, and a fifth less to compile.
release_flags="-O2 -DNDEBUG"
if [[ ! -f "$out/CMakeCache.txt" ]] || ! grep -qx "QT_ADDITIONAL_PACKAGES_PREFIX_PATH:.*=$readers" "$out/CMakeCache.txt" \
   || ! grep -qx "CMAKE_CXX_FLAGS_RELEASE:STRING=$release_flags" "$out/CMakeCache.txt"; then
  cmake -S "$root" -B "$out" "${generator[@]}" "${ccache_launcher[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$sdk/qt6-mingw/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DSF6WIN_DEPS_DIR="$sdk/deps" -DQT_ADDITIONAL_PACKAGES_PREFIX_PATH="$readers" \
    -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=$release_flags" -DSF6_WERROR=ON -DSF6_BENCH=OFF \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" >/dev/null
fi
jobs=${SF6_JOBS:-2}
if [[ $# -gt 0 ]]; then
  cmake --build "$out" -j"$jobs" --target "$@"
  exit 0
fi
cmake --build "$out" -j"$jobs"
cmake --build "$out" -j"$jobs" --target sf6_windows_packages
