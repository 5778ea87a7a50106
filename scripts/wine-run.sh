#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [args...]: runs a Windows program of build-windows/
# under Wine in the build's own prefix (build-windows/wineprefix, made on first
# use), headless, with the Qt and library DLLs of the toolchain on its path and
# the report faces where Qt's offscreen platform looks for fonts.
# SF6_WINEPREFIX names another prefix; SF6_WINE_QPA another Qt platform than
# offscreen (own: none, the program's own choice).
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
# SF6_WINE_QPA=own: the platform the program chooses itself, as on a user's PC.
if [[ "${SF6_WINE_QPA:-}" == own ]]; then
  unset WINEQT_QPA_PLATFORM QT_QPA_PLATFORM
else
  export WINEQT_QPA_PLATFORM=${SF6_WINE_QPA:-offscreen}
fi
export WINEQT_QPA_FONTDIR=$(winpath "$out/fonts")
export WINEQT_PLUGIN_PATH=$(winpath "$sdk/qt6-mingw/plugins")
if [[ -z "${SF6_WINE_RERUN_SILENT:-}" ]]; then
  exec wine "$@"
fi
# The test programs (SF6_WINE_RERUN_SILENT set by scripts/test-windows.sh):
# every one prints a line first thing, so one that fails having printed
# nothing at all died in Wine's start of the process, not in the test. It is
# run once more, saying so (also into SF6_WINE_RERUN_LOG when set); a
# program that printed anything is never rerun.
# Its output goes through a file: Wine's service processes, when this program
# is the one that starts them, keep a pipe open until the wineserver ends.
# SF6_WINE_LOG keeps it where the caller looks when this script is killed.
if [[ -n "${SF6_WINE_LOG:-}" ]]; then
  log=$SF6_WINE_LOG
  : >"$log"
else
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
fi
status=0
wine "$@" >"$log" 2>&1 </dev/null || status=$?
if [[ $status -ne 0 && ! -s "$log" ]]; then
  note="wine-run.sh: $(basename "$1") ${*:2} ended with status $status before printing anything, which is Wine starting the process, not the test: running it once more"
  echo "$note" >&2
  [[ -n "${SF6_WINE_RERUN_LOG:-}" ]] && echo "$note" >>"$SF6_WINE_RERUN_LOG"
  status=0
  : >"$log"
  wine "$@" >"$log" 2>&1 </dev/null || status=$?
fi
cat "$log"
exit "$status"
