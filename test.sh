#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build,
# once under AddressSanitizer and UndefinedBehaviorSanitizer.
#   ./test.sh            both
#   ./test.sh --quick    the normal build only
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen

scripts/build.sh build
(cd build && ctest --output-on-failure --timeout 300)

if [[ "${1:-}" != "--quick" ]]; then
  scripts/build.sh build-asan -DSF6_SANITIZE=ON
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  (cd build-asan && ctest --output-on-failure --timeout 600)
fi
