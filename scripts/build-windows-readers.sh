#!/usr/bin/env bash
# build-windows-readers.sh PREFIX: cross-builds the workbook readers of the
# import for Windows x86_64 into PREFIX (bin/*.dll, lib/*.dll.a, include/,
# lib/pkgconfig/*.pc):
#   - minizip (zlib's contrib/minizip: unzip.c and ioapi.c) against the
#     toolchain's zlib (Debian libz-mingw-w64-dev, zlib1.dll); .xlsx files;
#   - FreeXL with the small Win32 iconv of packaging/windows/iconv (Debian
#     has no MinGW iconv); .xls files.
# The sources are Debian's source packages (apt-get source, deb-src lines
# added by scripts/deps.sh), downloaded once into PREFIX.src/. The build is
# done once and again only when a source, the iconv, this script, the compiler
# or the MinGW zlib and headers change.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$1
src=$prefix.src
cc=x86_64-w64-mingw32-gcc-posix
strip=x86_64-w64-mingw32-strip
# The versions built and tested; the newest the mirror has if they are gone.
zlib_version=1:1.2.13.dfsg-1
freexl_version=1.0.6-2

mkdir -p "$src"
fetch() { # package pinned-version
  local package=$1 version=$2
  ls "$src/${package}_"*.dsc >/dev/null 2>&1 && return 0
  (cd "$src" && { apt-get source --download-only "$package=$version" >/dev/null 2>&1 \
                  || apt-get source --download-only "$package" >/dev/null; }) || {
    echo "cannot download the Debian source of $package (deb-src lines: scripts/deps.sh adds them)" >&2
    return 1
  }
}
fetch zlib "$zlib_version"
fetch freexl "$freexl_version"
zlib_dsc=$(ls "$src"/zlib_*.dsc | tail -1)
freexl_dsc=$(ls "$src"/freexl_*.dsc | tail -1)

key=$({ cat "$zlib_dsc" "$freexl_dsc" "$root"/packaging/windows/iconv/* "$0"; "$cc" --version
        dpkg-query -W libz-mingw-w64-dev mingw-w64-x86-64-dev 2>/dev/null || true; } | sha256sum | cut -d' ' -f1)
if [[ "$(cat "$prefix/.key" 2>/dev/null)" == "$key" ]]; then
  exit 0
fi
echo "Building minizip and FreeXL for Windows into $prefix"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-source --no-check -x "$zlib_dsc" "$work/zlib" >/dev/null
dpkg-source --no-check -x "$freexl_dsc" "$work/freexl" >/dev/null
rm -rf "$prefix"
mkdir -p "$prefix/bin" "$prefix/lib/pkgconfig" "$prefix/include/minizip"
cflags=(-O2 -g0)

# minizip: only the reading half; the import opens files through its own
# Qt-based I/O functions, so iowin32 is not needed.
mz=$work/zlib/contrib/minizip
mz_version=$(sed -n 's/^#define ZLIB_VERSION "\(.*\)"/\1/p' "$work/zlib/zlib.h")
for c in unzip ioapi; do
  "$cc" "${cflags[@]}" -c "$mz/$c.c" -o "$work/mz-$c.o"
done
"$cc" -shared -o "$prefix/bin/libminizip-1.dll" "$work"/mz-*.o \
  -Wl,--out-implib,"$prefix/lib/libminizip.dll.a" -lz
cp "$mz/unzip.h" "$mz/ioapi.h" "$prefix/include/minizip/"
cat > "$prefix/lib/pkgconfig/minizip.pc" <<EOF
prefix=/usr
libdir=\${prefix}/lib
includedir=\${prefix}/include/minizip

Name: minizip
Description: Minizip zip file manipulation library (reading half, Windows)
Version: $mz_version
Libs: -L\${libdir} -lminizip
Cflags: -I\${includedir}
EOF

# FreeXL, its iconv built into the same DLL; only FreeXL's API is exported.
fx=$work/freexl
fx_version=$(sed -n 's/^AC_INIT(FreeXL, \([0-9.]*\),.*/\1/p' "$fx/configure.ac")
mkdir -p "$work/fx-include"
cp "$root"/packaging/windows/iconv/*.h "$work/fx-include/"
printf '#define VERSION "%s"\n' "$fx_version" > "$work/fx-include/config.h"
"$cc" "${cflags[@]}" -DDLL_EXPORT -I"$work/fx-include" -I"$fx/headers" -c "$fx/src/freexl.c" -o "$work/fx-freexl.o"
"$cc" "${cflags[@]}" -I"$work/fx-include" -c "$root/packaging/windows/iconv/iconv.c" -o "$work/fx-iconv.o"
"$cc" -shared -o "$prefix/bin/libfreexl-1.dll" "$work/fx-freexl.o" "$work/fx-iconv.o" \
  -Wl,--out-implib,"$prefix/lib/libfreexl.dll.a"
cp "$fx/headers/freexl.h" "$prefix/include/"
cat > "$prefix/lib/pkgconfig/freexl.pc" <<EOF
prefix=/usr
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: freexl
Description: a simple library extracting data from .xls (Excel BIFF) files (Windows)
Version: $fx_version
Libs: -L\${libdir} -lfreexl
Cflags: -I\${includedir}
EOF

"$strip" --strip-unneeded "$prefix"/bin/*.dll
echo "$key" > "$prefix/.key"
