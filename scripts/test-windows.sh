#!/usr/bin/env bash
# test-windows.sh: the Windows step of ./test.sh, after the Linux builds.
#   1. scripts/build-windows.sh: the programs, the tests, the zip and the setup;
#   2. every DLL the shipped programs import is shipped or part of Windows,
#      and every shipped DLL and font has its licence file;
#   3. the Windows test programs under Wine (scripts/wine-tests.sh, in the build's own prefix);
#      the import readers again under a Chinese code page, and sf6cli.exe
#      archive import of workbooks in a folder named in Chinese;
#   4. the setup program installed and removed silently, the installed
#      sf6cli.exe run in between, the user's archive folder kept;
#   5. sf6cli.exe demo, which needs no port at all;
#   6. end to end: the Linux simulator on a pseudo-terminal mapped to a COM
#      port, one wine sf6cli.exe sync against it writing every output; its
#      rows, workbook, PDFs and archive equal those of the Linux build (build/)
#      for the same records.
# Without a toolchain it says so and succeeds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-windows
linux=${SF6_LINUX_BUILD:-$root/build}
cd "$root"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$SECONDS
scripts/build-windows.sh | tee "$log"
if grep -q '^SF6-WINDOWS-SKIPPED' "$log"; then
  echo "Windows step skipped (see above)."
  exit 0
fi
echo "Windows build: $((SECONDS - start)) s"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/CMakeCache.txt")
stage=$out/sf6companion-$version-win64
setup=$out/sf6companion-$version-setup.exe
run() { "$root/scripts/wine-run.sh" "$@"; }
# SF6_WINEPREFIX: another prefix than the build's own (made on first use).
export SF6_WINEPREFIX=${SF6_WINEPREFIX:-$out/wineprefix}
export WINEPREFIX=$SF6_WINEPREFIX WINEDEBUG=-all

echo "== DLL imports of the portable folder"
scripts/check-windows-dlls.sh "$stage"
echo "== Licences of the portable folder"
scripts/check-windows-licenses.sh "$stage"

echo "== Windows tests under Wine"
scripts/wine-tests.sh


echo "== Drawn text: the Windows build's against the Linux build's"
# On the platform the programs choose themselves (a screen of Xvfb), not the
# tests' offscreen one: Windows' own font engine would draw the Chinese face's
# embedded bitmaps, with strokes missing.
[[ -x "$linux/tests/report/glyph_sample" ]] || { echo "the Linux build ($linux) lacks glyph_sample" >&2; exit 1; }
glyphs=$(mktemp -d)
QT_QPA_PLATFORM=offscreen "$linux/tests/report/glyph_sample" "$glyphs/linux.png" 2>/dev/null
SF6_WINE_QPA=own xvfb-run -a "$root/scripts/wine-run.sh" "$out/tests/report/glyph_sample.exe" \
  "$(winepath -w "$glyphs/windows.png")" "$(winepath -w "$glyphs/linux.png")" </dev/null >"$glyphs/said" 2>&1 \
  || { cat "$glyphs/said"; echo "the Windows build draws text unlike the Linux build (pictures in $glyphs)" >&2; exit 1; }
tr -d '\r' <"$glyphs/said"
wineserver -w
rm -rf "$glyphs"

echo "== Import under Wine: the readers with a Chinese ANSI code page, sf6cli.exe archive import"
start=$SECONDS
# Users' PCs have code page 936 (GBK), ctest's Wine 1252: FreeXL's 8-bit names
# differ, and so do the system's messages in an exception's text.
LANG=zh_CN.UTF-8 run "$out/tests/import/import_tests.exe" --gtest_brief=1 >/dev/null
LANG=zh_CN.UTF-8 run "$out/tests/base/base_tests.exe" --gtest_brief=1 --gtest_filter='FileReplace.*:Platform.exceptionText*' >/dev/null
imports=$out/import-check
rm -rf "$imports"
mkdir -p "$imports/旧的 导出"
cp tests/import/fixtures/other.xls tests/import/fixtures/other.xlsx tests/import/fixtures/header.xlsx "$imports/旧的 导出/"
# import_check EXPECTED_EXIT EXPECTED_SUMMARY FILE...
import_check() {
  local expected_exit=$1 expected=$2 code=0 said
  shift 2
  said=$(run "$stage/sf6cli.exe" archive import "$@" --archive "$imports/档案 库.sqlite" 2>"$imports/stderr") || code=$?
  said=$(tr -d '\r' <<<"$said")
  if [[ $code -ne $expected_exit || "$said" != "$expected" ]]; then
    echo "sf6cli.exe archive import $*: exit $code, said: $said" >&2
    cat "$imports/stderr" >&2
    exit 1
  fi
}
import_check 8 "导入4条新记录，0条已在存档中，1行无法导入" "$imports/旧的 导出/other.xls"
grep -q 'other.xls:6: 列“温度”：缺少值' "$imports/stderr"
import_check 8 "导入0条新记录，4条已在存档中，1行无法导入" "$imports/旧的 导出/other.xlsx"
import_check 2 "导入0条新记录，0条已在存档中，0行无法导入" "$imports/旧的 导出/header.xlsx"
echo "sf6cli.exe imported .xls and .xlsx from a folder named in Chinese with a space ($((SECONDS - start)) s)"

echo "== Setup program: silent install, run, silent uninstall"
if [[ ! -f "$setup" ]]; then
  echo "no setup program was made (makensis missing?)" >&2
  exit 1
fi
archive_dir="$SF6_WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/sf6companion"
mkdir -p "$archive_dir"
echo keep > "$archive_dir/archive.sqlite.keep"
install_dir='C:\SF6Test'
unix_install=$SF6_WINEPREFIX/drive_c/SF6Test
scripts/check-setup-texts.sh
run "$setup" /S "/D=$install_dir"
wineserver -w
[[ -f "$unix_install/sf6cli.exe" && -f "$unix_install/uninstall.exe" ]]
reported=$(run "$unix_install/sf6cli.exe" --version | tr -d '\r')
[[ "$reported" == "sf6cli $version" ]] || { echo "installed sf6cli.exe says: $reported" >&2; exit 1; }
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\sf6companion' /v DisplayVersion \
  | grep -q "$version"
# The publisher Windows lists is the program's name, read from the registry file
# (wine reg prints it in the console's code page).
wineserver -w
publisher=$(/usr/bin/python3 - "$SF6_WINEPREFIX/system.reg" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
key = text.split("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\sf6companion]", 1)[1].split("\n[", 1)[0]
value = re.search(r'^"Publisher"="(.*)"$', key, re.M).group(1)
print(re.sub(r"\\x([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1), 16)), value))
EOF
)
[[ "$publisher" == "全自动SF6密度继电器校验仪配套工具" ]] || { echo "the uninstall entry's publisher is: $publisher" >&2; exit 1; }
run "$unix_install/uninstall.exe" /S
wineserver -w
# The uninstaller copies itself and finishes from the copy: up to 20 s.
for _ in $(seq 100); do
  [[ -e "$unix_install/sf6cli.exe" ]] || break
  sleep 0.2
done
[[ ! -e "$unix_install/sf6cli.exe" ]] || { echo "uninstall left the program" >&2; exit 1; }
[[ -f "$archive_dir/archive.sqlite.keep" ]] || { echo "uninstall removed the user's archive" >&2; exit 1; }
echo "installed, ran sf6cli.exe $version, uninstalled; the user's archive folder is kept"

echo "== Demo: wine sf6cli.exe demo against the in-process calibrator"
# Into a file, not a pipe: Wine's services started with the program keep its
# output open until the wineserver ends.
demo_out=$(mktemp)
run "$stage/sf6cli.exe" demo --records 3 --no-archive >"$demo_out" 2>/dev/null
demo_rows=$(tr -d '\r' <"$demo_out" | grep -c '^[0-9]' || true)
rm -f "$demo_out"
[[ $demo_rows -eq 3 ]] || { echo "sf6cli.exe demo listed $demo_rows rows, not 3" >&2; exit 1; }
echo "sf6cli.exe demo synced and listed 3 rows"

echo "== End to end: wine sf6cli.exe sync against the Linux simulator on a COM port"
start=$SECONDS
[[ -x "$linux/sim/sf6sim" && -x "$linux/cli/sf6cli" ]] || {
  echo "the Linux build ($linux) lacks sf6sim or sf6cli; build it first" >&2
  exit 1
}
work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work" "$log"
}
trap cleanup EXIT
# A simulator serving 12 records on a fresh pseudo-terminal; prints its path.
start_sim() {
  coproc SIM { exec "$linux/sim/sf6sim" --records 12 --rate 0; }
  sim_pid=$SIM_PID
  read -r -t 10 sim_path <&"${SIM[0]}"
}
stop_sim() { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }
com=COM7
export WINEPREFIX=$SF6_WINEPREFIX
# Both builds under the users' locale: the report's print date follows it
# (Wine takes its locale from the same variables).
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
# One sync of the Windows build against a fresh simulator on COM7.
win_sync() {
  start_sim
  wine reg add 'HKLM\Software\Wine\Ports' /v $com /d "$sim_path" /f >/dev/null 2>&1
  # The Ports key is read when the prefix starts.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1
  timeout -s KILL 120 "$root/scripts/wine-run.sh" "$stage/sf6cli.exe" sync --port $com "$@"
  # The wineserver opened the pseudo-terminal and holds it as its controlling
  # terminal: it goes before the simulator, or the hang-up makes it dump its objects.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1
  stop_sim
}
mkdir -p "$work/win/报告 PDF" "$work/linux/报告 PDF"
win_sync --tsv "$work/win/记录 表.tsv" --xlsx "$work/win/记录 表.xlsx" \
  --pdf-dir "$work/win/报告 PDF" --archive "$work/win/档案 库.sqlite"
start_sim
"$linux/cli/sf6cli" sync --port "$sim_path" --tsv "$work/linux/记录 表.tsv" --xlsx "$work/linux/记录 表.xlsx" \
  --pdf-dir "$work/linux/报告 PDF" --archive "$work/linux/档案 库.sqlite"
stop_sim
cmp "$work/win/记录 表.tsv" "$work/linux/记录 表.tsv"
# Debian's python3 with python3-openpyxl, as the export tests use (not one found first on PATH).
/usr/bin/python3 tests/export/read_xlsx.py "$work/win/记录 表.xlsx" > "$work/win.xlsx.json"
/usr/bin/python3 tests/export/read_xlsx.py "$work/linux/记录 表.xlsx" > "$work/linux.xlsx.json"
cmp "$work/win.xlsx.json" "$work/linux.xlsx.json"
pdfs=0
for pdf in "$work/linux/报告 PDF"/*.pdf; do
  name=$(basename "$pdf")
  [[ -f "$work/win/报告 PDF/$name" ]] || { echo "the Windows build did not write $name" >&2; exit 1; }
  # Into files first: a reader that failed on both sides would compare two empty texts.
  pdftotext -layout "$work/win/报告 PDF/$name" "$work/win.txt"
  pdftotext -layout "$pdf" "$work/linux.txt"
  [[ -s "$work/linux.txt" ]] || { echo "no text in the Linux build's $name" >&2; exit 1; }
  diff "$work/win.txt" "$work/linux.txt"
  pdfs=$((pdfs + 1))
done
[[ $pdfs -gt 0 && $pdfs -eq $(ls "$work/win/报告 PDF" | wc -l) ]]
archive_rows() {
  /usr/bin/python3 - "$1" <<'EOF'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
cols = [r[1] for r in db.execute("PRAGMA table_info(records)") if r[1] not in ("id", "archived_at")]
for row in db.execute(f"SELECT {', '.join(cols)} FROM records ORDER BY test_order, id"):
    print([x.hex() if isinstance(x, bytes) else x for x in row])
for row in db.execute("SELECT record_total, rows_received, outcome, new_records FROM syncs ORDER BY id"):
    print(row)
EOF
}
archive_rows "$work/win/档案 库.sqlite" >"$work/win.rows"
archive_rows "$work/linux/档案 库.sqlite" >"$work/linux.rows"
[[ -s "$work/linux.rows" ]] || { echo "no rows in the Linux build's archive" >&2; exit 1; }
diff "$work/win.rows" "$work/linux.rows"
echo "rows, workbook, $pdfs PDFs and archive equal the Linux build's ($((SECONDS - start)) s)"

