#!/usr/bin/env bash
# screenshots.sh: the README's pictures. Runs the program's demo in a virtual
# screen (Xvfb), waits for the sync, and takes the main window and then the
# history window with ImageMagick's import into docs/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
missing=()
for p in imagemagick xdotool; do
  [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) == "install ok installed" ]] || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
"$root/scripts/build.sh" "$root/build" >/dev/null

scratch=$(mktemp -d)
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$scratch"' EXIT
export DISPLAY=$display
unset QT_QPA_PLATFORM
sleep 1

"$root/build/app/sf6companion" --demo --auto --archive "$scratch/archive.sqlite" >/dev/null 2>&1 &
app=$!
main=""
for _ in $(seq 50); do
  main=$(xdotool search --name '^vizAZ6izuzivevovedod$' 2>/dev/null | head -1 || true)
  [[ -n "$main" ]] && break
  sleep 0.2
done
[[ -n "$main" ]] || { echo "the main window did not appear" >&2; exit 1; }
sleep 8   # connect (1 s), then the demo's 40 records at the line's pace
import -window "$main" "$root/docs/main-window.png"

# The history toolbar button: the fifth, 55 pixels apart, under the menu bar.
menu_bar=22
xdotool mousemove --window "$main" $((4 * 55 + 27)) $((menu_bar + 26)) click 1
history=""
for _ in $(seq 25); do
  history=$(xdotool search --name '^历史记录$' 2>/dev/null | head -1 || true)
  [[ -n "$history" ]] && break
  sleep 0.2
done
[[ -n "$history" ]] || { echo "the history window did not appear" >&2; exit 1; }
sleep 1
# Three records selected, the side panel showing the one clicked last.
xdotool mousemove --window "$history" 120 72 click 1
xdotool keydown shift mousemove --window "$history" 120 112 click 1 keyup shift
sleep 1
import -window "$history" "$root/docs/history-window.png"
echo "docs/main-window.png docs/history-window.png"
