#!/usr/bin/env bash
# wine-tests.sh: the Windows test programs of build-windows/ under Wine, in the
# prefix SF6_WINEPREFIX (the build's own unless told; made on first use).
# Each program runs once, all its tests in one Wine process, two programs at a
# time; a program that died before printing anything is run once more and
# listed. Exits non-zero when any test failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-windows
run() { "$root/scripts/wine-run.sh" "$@"; }
export SF6_WINEPREFIX=${SF6_WINEPREFIX:-$out/wineprefix}
export WINEPREFIX=$SF6_WINEPREFIX WINEDEBUG=-all
# Built for Windows but not run under Wine, each for its reason:
#  - ReportPdf, ReportPdfWriting, CertificatePdf, the workbook read-backs (ExportWorkbook,
#    ThreeRowExport, Window.listAndWorkbookUseTheWindowFont): they read the
#    file back with the host's poppler or openpyxl; Wine starts Unix programs
#    but cannot wait for them. (The history's workbook and the certificates'
#    PDFs are read back on Linux only; the rest of those window tests runs here.)
#  - ReportPdfLocales: it runs the PDF tests again under Linux locales. The end-to-end run below compares the
#    Windows build's PDFs and workbook with the Linux build's instead.
#  - ReportFaces.IdeographsAndRadicals: CJK punctuation (U+3004, U+302A-303F)
#    that wqy-zenhei lacks comes, on Linux, from another installed face.
#  - ArchiveFile.aFileLockedForAMoment and Certificates.twoWritersAtOnce…:
#    two connections to one file from two threads; under Wine one of them at
#    times never returns from its wait for the other's lock (cause not found
#    yet). Both are tested on Linux.
# Not built for Windows: sim/'s simulator on a pseudo-terminal and the suites
# that use it (link_tests, cli_tests, app_tests: the window and sf6cli each
# against it); of window_tests, the instrument hanging up (a pseudo-terminal's)
# and the test that starts the Linux sf6companion; the PostgreSQL
# cases (they start a server, on Linux only: the archive, register and window
# suites run on SQLite here), but for archive_tests' TlsOnServer cases, whose
# servers are started below. window_tests syncs from the calibrator served
# inside the process.
# As gtest filters: each test program runs once, all its tests in one Wine
# process (a process each, as ctest would start them, costs Wine's start-up
# three hundred times over).
# PrivateFile: Wine gives a temporary file an ACL that lets others read it, so
# the owner-only rule cannot be shown true there; its refusals are tested on Linux.
excluded='ReportPdf.*:ReportPdfWriting.*:CertificatePdf.*:SignedPdfReaders.*:ReportPdfLocales.*:ExportWorkbook.EmptyListAndOddRows:ExportWorkbook.FailureIsReportedAndLeavesNoFile:ExportWorkbook.RowsFedOneAtATimeMakeTheSameSheetAndAFailedFeedNoFile:ThreeRowExport.*:ReportFaces.IdeographsAndRadicals:ArchiveFile.aFileLockedForAMoment*:Engines/Certificates.twoWritersAtOnceGetConsecutiveNumbers/*:Window.listAndWorkbookUseTheWindowFont:PrivateFile.onlyAFileItsOwnerAloneMayReadIsPrivate'
start=$SECONDS
# The PostgreSQL servers of archive_tests' TLS cases (plain TCP, and TLS with
# the tests' own certificate authority): a Windows program cannot start a
# Linux server, so the Linux build's pg_test_servers, from the same PgServer.h,
# starts them here; the tests read where they are from SF6_PG_TEST_SERVERS.
linux=${SF6_LINUX_BUILD:-$root/build}
pg_servers=$linux/tests/archive/pg_test_servers
[[ -x "$pg_servers" ]] || {
  echo "wine-tests.sh: $pg_servers is missing; build it first: scripts/build.sh build -- pg_test_servers" >&2
  exit 1
}
pg_dir=$(mktemp -d)
"$pg_servers" "$pg_dir/servers" </dev/null >"$pg_dir/log" 2>&1 &
pg_pid=$!
stop_pg_servers() {
  kill "$pg_pid" 2>/dev/null || true
  wait "$pg_pid" 2>/dev/null || true
  rm -rf "$pg_dir"
}
trap stop_pg_servers EXIT
while [[ ! -s "$pg_dir/servers" ]] && kill -0 "$pg_pid" 2>/dev/null; do sleep 0.2; done
[[ -s "$pg_dir/servers" ]] || { cat "$pg_dir/log" >&2; echo "wine-tests.sh: the PostgreSQL test servers did not start" >&2; exit 1; }
export SF6_PG_TEST_SERVERS=$pg_dir/servers
run cmd /c exit >/dev/null   # the prefix is made once, before the first test program
# One wineserver for all the tests: a test program that starts while the
# server of the one before is shutting down can fail before its first line.
# Wine's own service processes start with the first program of a server and
# keep its standard output: started here, they hold no test's output pipe.
wineserver -w
wineserver -p
run cmd /c exit >/dev/null 2>&1
status=0
reruns=$(mktemp)
# The longest program takes under two minutes; one still going after this hangs.
per_program=600
results=$(mktemp -d)
# The test programs are those the build registers with ctest.
mapfile -t programs < <(find "$out/tests" -name '*\[1\]_include.cmake' | sed 's/\[1\]_include\.cmake$/.exe/' | sort)
[[ ${#programs[@]} -gt 0 ]] || { echo "no test programs in $out/tests" >&2; exit 1; }
# run_program EXE: all its tests but the excluded, in its own folder as ctest
# would; says one line, or prints what failed.
run_program() {
  local exe=$1 name log said code=0 begun=$SECONDS
  name=$(basename "$exe" .exe)
  log=$results/$name.log
  # Each test's start is in the log, so a program killed for hanging names the test it hung in.
  (cd "$(dirname "$exe")" && QT_QPA_PLATFORM=offscreen SF6_SOURCE_DIR=$root SF6_WINE_RERUN_SILENT=1 \
     SF6_WINE_RERUN_LOG=$reruns SF6_WINE_LOG=$log.wine timeout -s KILL $per_program "$root/scripts/wine-run.sh" "$exe" \
     "--gtest_filter=-$excluded") >"$log" 2>&1 || code=$?
  said=$(tr -d '\r' <"$log" | grep -E '^\[  PASSED  \]' | head -1)
  if [[ $code -eq 0 && -n "$said" ]]; then
    echo "$name: ${said#\[  PASSED  \] } ($((SECONDS - begun)) s)"
  elif [[ $code -eq 137 ]]; then
    tr -d '\r' <"$log.wine" | tail -40
    hung=$(tr -d '\r' <"$log.wine" | grep -E '^\[ RUN      \]' | tail -1)
    echo "$name: killed after $per_program s, hanging in ${hung#\[ RUN      \] }"
    return 1
  else
    tr -d '\r' <"$log" | grep -vE '^\[( RUN      |       OK )\]'
    echo "$name: FAILED with status $code ($((SECONDS - begun)) s)"
    return 1
  fi
}
export -f run_program
export root excluded reruns results per_program
# The longest first, two at a time, as ctest -j2 ran them.
printf '%s\n' "${programs[@]}" | awk '{print (/window_tests|archive_tests|certificate/ ? 0 : 1) "\t" $0}' | sort -k1,1n -s | cut -f2 \
  | xargs -P2 -I{} bash -c 'run_program "$1"' _ {} || status=1
# The receive loop's fuzz seeds, as ctest runs them on Linux.
run "$out/tests/fuzz/fuzz_receive_loop_replay.exe" "$root"/tests/fuzz/corpus/* >"$results/fuzz.log" 2>&1 \
  || { cat "$results/fuzz.log"; echo "fuzz_receive_loop_replay: FAILED"; status=1; }
# The server was started above, so it is there to end.
wineserver -k
wineserver -w
if [[ -s "$reruns" ]]; then
  echo "Test programs run a second time:"
  cat "$reruns"
fi
rm -rf "$reruns" "$results"
[[ $status -eq 0 ]] || exit $status
echo "Wine tests: $((SECONDS - start)) s"
