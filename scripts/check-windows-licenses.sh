#!/usr/bin/env bash
# check-windows-licenses.sh FOLDER: every DLL, font and translation in the
# portable FOLDER is named in licenses/README.txt with the licence files that
# cover it, and each of those files is there and not empty. The program's own
# files (the two .exe, qt.conf) need none.
set -euo pipefail
folder=$1
readme=$folder/licenses/README.txt
[[ -s "$readme" ]] || { echo "no licenses/README.txt in $folder" >&2; exit 1; }
# The table's rows: a shipped file, then the licence files that cover it.
declare -A covers
while read -r file rest; do
  [[ "$file" =~ \.(dll|ttf|ttc|otf|qm)$ ]] && covers[${file,,}]=$rest
done < <(tr -d '\r' <"$readme")
missing=0 checked=0
while IFS= read -r -d '' path; do
  file=${path#"$folder"/}
  checked=$((checked + 1))
  licences=${covers[${file,,}]:-}
  if [[ -z "$licences" ]]; then
    echo "$file is shipped but licenses/README.txt names no licence for it" >&2
    missing=$((missing + 1))
    continue
  fi
  for licence in $licences; do
    if [[ ! -s "$folder/licenses/$licence" ]]; then
      echo "$file: licence file licenses/$licence is missing or empty" >&2
      missing=$((missing + 1))
    fi
  done
done < <(find "$folder" -type f \( -iname '*.dll' -o -iname '*.ttf' -o -iname '*.ttc' -o -iname '*.otf' -o -iname '*.qm' \) -print0)
[[ $checked -gt 0 ]] || { echo "no DLLs or fonts in $folder" >&2; exit 1; }
[[ $missing -eq 0 ]] || exit 1
echo "$checked DLLs, fonts and translations: each covered by a licence file"
