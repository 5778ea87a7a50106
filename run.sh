#!/usr/bin/env bash
# Installs what is missing, builds the programs it runs, and runs the program's main job:
# finding the calibrator and downloading its records. Without an instrument it runs the
# demo, which serves a simulated calibrator inside the program. The tests, benchmarks
# and checks are left to ./test.sh, which builds them in the same folder.
#   ./run.sh                 demo in the window (headless demo when there is no display)
#   ./run.sh --port COM3     the real program on the given port(s)
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh build -DSF6_WERROR=ON -- sf6companion sf6cli
if [[ $# -gt 0 ]]; then
  exec build/app/sf6companion "$@"
fi
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec build/app/sf6companion --demo
fi
echo "No display: running the headless demo (sf6cli demo)."
exec build/cli/sf6cli demo
