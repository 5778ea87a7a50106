#!/usr/bin/env bash
# scripts/wine-run.sh reruns a test program once when it failed having printed
# nothing (Wine's process start), and never one that printed anything. Runs
# against a stand-in for wine that fails as told, so it needs no Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/prefix"
touch "$work/prefix/.sf6-ready"
# The stand-in: each call takes the next line of the script "status output".
cat > "$work/bin/wine" <<'STANDIN'
#!/usr/bin/env bash
n=$(( $(cat "$WINE_STANDIN.count" 2>/dev/null || echo 0) + 1 ))
echo "$n" > "$WINE_STANDIN.count"
read -r status output < <(sed -n "${n}p" "$WINE_STANDIN")
[[ -n "$output" ]] && echo "$output"
exit "$status"
STANDIN
chmod +x "$work/bin/wine"
export PATH=$work/bin:$PATH SF6_WINEPREFIX=$work/prefix SF6_WINE_RERUN_SILENT=1 WINE_STANDIN=$work/script
failures=0
# case NAME EXPECTED_STATUS EXPECTED_CALLS EXPECT_NOTE "status output" lines...
case_() {
  local name=$1 expected=$2 calls=$3 note=$4 status=0
  shift 4
  printf '%s\n' "$@" > "$WINE_STANDIN"
  rm -f "$WINE_STANDIN.count"
  "$root/scripts/wine-run.sh" test.exe >"$work/out" 2>"$work/err" || status=$?
  local made
  made=$(cat "$WINE_STANDIN.count")
  local noted=no
  grep -q 'running it once more' "$work/err" && noted=yes
  if [[ $status -ne $expected || $made -ne $calls || $noted != "$note" ]]; then
    echo "FAILED $name: status $status (want $expected), $made runs (want $calls), rerun noted: $noted (want $note)"
    cat "$work/out" "$work/err"
    failures=$((failures + 1))
  else
    echo "ok $name"
  fi
}
case_ silentFailureIsRunOnceMore 0 2 yes "53" "0 [ RUN ] passed"
case_ silentFailureTwiceFails 53 2 yes "53" "53"
case_ failureThatPrintedIsNotRerun 1 1 no "1 [ FAILED ] a test"
case_ successIsNotRerun 0 1 no "0 [ OK ]"
case_ silentSuccessIsNotRerun 0 1 no "0"
grep -qx '\[ RUN \] passed' <(printf '%s\n' "0 [ RUN ] passed" > "$WINE_STANDIN"; rm -f "$WINE_STANDIN.count"
  "$root/scripts/wine-run.sh" test.exe) || { echo "FAILED the program's output is passed on"; failures=$((failures + 1)); }
[[ $failures -eq 0 ]]
