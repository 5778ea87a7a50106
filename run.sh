#!/usr/bin/env bash
# Installs what is missing, builds the programs it runs, and runs the program's main job:
# finding the calibrator and downloading its records. Without an instrument it runs the
# demo, which serves a simulated calibrator inside the program. It installs only what
# building and running needs, and builds the two programs in build-run/ without the
# tests and with warnings as warnings: a newer compiler's new warning must not keep a
# user from running the program. The tests, benchmarks and checks are left to
# ./test.sh, which builds in build/ with warnings as errors.
#   ./run.sh                 demo in the window (headless demo when there is no display)
#   ./run.sh --port COM3     the real program on the given port(s)
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh --run
scripts/build.sh build-run -DSF6_WERROR=OFF -DSF6_TESTS=OFF -DSF6_BENCH=OFF -DSF6_PORTABILITY_CHECK=OFF \
  -- sf6companion sf6cli
if [[ $# -gt 0 ]]; then
  exec build-run/app/sf6companion "$@"
fi
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec build-run/app/sf6companion --demo
fi
echo "No display: running the headless demo (sf6cli demo)."
exec build-run/cli/sf6cli demo
