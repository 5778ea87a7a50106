#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build,
# once under AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz
# target of the receive loop for a minute (and that a planted crash, leak and
# timeout fail that run), and last the Debian package of the
# normal build, and then the Windows build with its tests under Wine
# (scripts/test-windows.sh; skipped, with the reason, without a toolchain).
# Warnings are errors in these builds.
#   ./test.sh            all of it
#   ./test.sh --quick    the normal build only, without the package
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

# The portability check compiles every source for Windows, syntax only,
# unless the Windows build below compiles them all for real.
portable_compile=ON
if [[ "${1:-}" != "--quick" ]] && scripts/build-windows.sh --available; then
  portable_compile=OFF
fi
# Line tables are all the tests' backtraces need: full debug information would
# be a quarter of the compile time.
scripts/build.sh build -DSF6_WERROR=ON -DSF6_PORTABILITY_COMPILE=$portable_compile \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
(cd build && ctest --output-on-failure --timeout 300 -j2 -LE package)

if [[ "${1:-}" != "--quick" ]]; then
  scripts/build.sh build-asan -DSF6_SANITIZE=ON -DSF6_WERROR=ON -DSF6_PORTABILITY_CHECK=OFF \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
  (
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Peak-memory bounds are measured in the normal build: ASan's shadow memory
    # and quarantine make a sanitized process's size say nothing of the program's.
    # The PostgreSQL cases run the same code of ours as the SQLite ones, the
    # rest of their time is the server's: they, and the PDFs again under other
    # locales, run in the normal build only.
    cd build-asan && ctest --output-on-failure --timeout 600 -j2 -LE package \
      -E '^CliLargeArchive\.|/PostgreSQL( |$)|OnServer\.|^ReportPdfLocales\.'
  )
  echo "Fuzzing the receive loop for ${SF6_FUZZ_SECONDS:-60} s:"
  scripts/fuzz.sh "${SF6_FUZZ_SECONDS:-60}"
  scripts/check-fuzz.sh
  (cd build && ctest --output-on-failure --timeout 600 -L package)
  scripts/test-windows.sh
fi
