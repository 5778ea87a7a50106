#!/usr/bin/env bash
# check-windows-dlls.sh FOLDER: every DLL that an .exe or .dll in FOLDER (and its
# plugin folders) imports is in FOLDER or is part of Windows itself. There is
# no windeployqt when cross-compiling, so this is what keeps our file list whole.
set -euo pipefail
folder=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
# Windows' own DLLs that Qt, libpq and the MinGW runtime use.
system='kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|comctl32|ws2_32|msvcrt|ntdll|winmm|version|uxtheme|dwmapi|imm32|shlwapi|setupapi|winspool\.drv|userenv|netapi32|mpr|crypt32|secur32|wldap32|d3d9|d3d11|d3d12|dxgi|wtsapi32|authz|bcrypt|shcore|cfgmgr32|dwrite|d2d1|usp10|oleacc|propsys|rpcrt4|iphlpapi|dnsapi|mswsock|normaliz|winhttp|wininet|powrprof|hid|api-ms-win-[a-z0-9-]+\.dll'
shopt -s nullglob nocaseglob
present=$(cd "$folder" && ls -1 | tr 'A-Z' 'a-z')
missing=0 checked=0
while IFS= read -r -d '' binary; do
  checked=$((checked + 1))
  # Read first: objdump failing inside a process substitution would pass the binary unread.
  imports=$("$objdump" -p "$binary")
  grep -q '^The Import Tables' <<<"$imports" || {
    echo "${binary#"$folder"/}: objdump shows no import table" >&2
    missing=$((missing + 1))
    continue
  }
  while read -r dll; do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    if grep -qxE "($system)(\.dll)?" <<<"$lower"; then continue; fi
    if grep -qxF "$lower" <<<"$present"; then continue; fi
    echo "${binary#"$folder"/} imports $dll, which is neither shipped nor part of Windows" >&2
    missing=$((missing + 1))
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$imports")
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
if [[ $checked -eq 0 ]]; then
  echo "no programs or DLLs in $folder" >&2
  exit 1
fi
[[ $missing -eq 0 ]] || exit 1
echo "$checked binaries: every imported DLL is shipped or part of Windows"
