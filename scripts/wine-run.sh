#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [args...]: runs a Windows program of build-windows/
# under Wine in the build's own prefix (build-windows/wineprefix, made on first
# use), headless, with the Qt and library DLLs of the toolchain on its path and
# the report faces where Qt's offscreen platform looks for fonts.
# SF6_WINEPREFIX names another prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-windows
sdk=$out/sdk
export WINEPREFIX=${SF6_WINEPREFIX:-$out/wineprefix}
# A crash ends the program with its code instead of waiting in the debugger.
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
if [[ ! -f "$WINEPREFIX/.sf6-ready" ]]; then
  mkdir -p "$WINEPREFIX"
  (
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [[ ! -f "$WINEPREFIX/.sf6-ready" ]]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w
      # Qt 6 needs Windows 10 or later.
      wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
      wineserver -w
      touch "$WINEPREFIX/.sf6-ready"
    fi
  )
fi
winpath() { printf 'Z:%s' "${1//\//\\}"; }
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH="$(winpath "$sdk/qt6-mingw/bin");$(winpath "$sdk/deps/bin");$(winpath "$out/readers/bin");$(winpath /usr/x86_64-w64-mingw32/lib);$(winpath "$gcc_dir")"
# Wine hands WINE<name> to the program as <name>.
export WINEQT_QPA_PLATFORM=${SF6_WINE_QPA:-offscreen}
export WINEQT_QPA_FONTDIR=$(winpath "$out/fonts")
export WINEQT_PLUGIN_PATH=$(winpath "$sdk/qt6-mingw/plugins")
exec wine "$@"
