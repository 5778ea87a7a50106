#!/usr/bin/env bash
# check-setup-texts.sh: the setup program's pages show the program's name
# where NSIS would show its own ("Nullsoft Install System v3.08"). Makes the
# installer of packaging/windows/sf6companion.nsi uncompressed from a
# one-file folder, so its texts can be read, and looks for them. No Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
nsi=${1:-$root/packaging/windows/sf6companion.nsi}
version=$(sed -n 's/^project(sf6companion VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name=$(sed -n 's/^!define DISPLAYNAME "\(.*\)"$/\1/p' "$nsi")
[[ -n "$version" && -n "$name" ]] || { echo "check-setup-texts: no version or no DISPLAYNAME" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/stage"
echo placeholder > "$work/stage/sf6cli.exe"
makensis -V1 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$work/stage" -DOUTFILE="$work/setup.exe" \
  -DUNCOMPRESSED "$nsi" >/dev/null
# NSIS keeps a Unicode installer's texts in UTF-16LE.
/usr/bin/python3 - "$work/setup.exe" "$name" "$version" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
name, version = sys.argv[2], sys.argv[3]
def has(text):
    return text.encode("utf-16-le") in data
faults = []
if has("Nullsoft Install System"):
    faults.append("NSIS's own branding line is shown")
if not has(f"{name} {version}"):
    faults.append(f"the branding line is not '{name} {version}'")
if not has("Publisher"):
    faults.append("the installer writes no Publisher")
if faults:
    sys.exit("check-setup-texts: " + "; ".join(faults))
EOF
echo "setup program: branded \"$name $version\", no NSIS line"
