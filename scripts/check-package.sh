#!/usr/bin/env bash
# check-package.sh FILE.deb: the package holds what a user's machine needs,
# says what it depends on, and its desktop entry and metainfo pass the linters.
set -euo pipefail
deb=$1
fail() { echo "package check: $*" >&2; exit 1; }
[[ -f "$deb" ]] || fail "no package at $deb"
[[ $(basename "$deb") =~ ^sf6companion_[0-9.]+_[a-z0-9]+\.deb$ ]] || fail "name is not sf6companion_<version>_<arch>.deb: $deb"

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/sf6companion ./usr/bin/sf6cli \
         ./usr/share/applications/io.sf6companion.Companion.desktop \
         ./usr/share/metainfo/io.sf6companion.Companion.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/sf6companion.svg \
         ./usr/share/icons/hicolor/48x48/apps/sf6companion.png \
         ./usr/share/icons/hicolor/256x256/apps/sf6companion.png \
         ./usr/share/man/man1/sf6companion.1.gz ./usr/share/man/man1/sf6cli.1.gz \
         ./usr/lib/udev/rules.d/60-sf6companion-serial.rules \
         ./usr/share/doc/sf6companion/copyright; do
  grep -qxF "$f" <<<"$contents" || fail "missing $f"
done

version=$(dpkg-deb -f "$deb" Version)
[[ $(basename "$deb") == "sf6companion_${version}_"* ]] || fail "file name and Version $version differ"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt6sql6-sqlite libqt6sql6-psql libqt6core6 libqt6serialport6 libqt6charts6 libxlsxwriter fonts-wqy-zenhei \
         qt6-translations-l10n; do
  grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
done
[[ $(dpkg-deb -f "$deb" Package) == sf6companion ]] || fail "Package is not sf6companion"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
desktop-file-validate "$work/usr/share/applications/io.sf6companion.Companion.desktop"
grep -q '^Name=全自动SF6密度继电器校验仪配套工具$' "$work/usr/share/applications/io.sf6companion.Companion.desktop" \
  || fail "desktop entry name"
appstreamcli validate --no-net --no-color "$work/usr/share/metainfo/io.sf6companion.Companion.metainfo.xml" >/dev/null \
  || appstreamcli validate --no-net "$work/usr/share/metainfo/io.sf6companion.Companion.metainfo.xml"
grep -q "<release version=\"$version\"" "$work/usr/share/metainfo/io.sf6companion.Companion.metainfo.xml" \
  || fail "metainfo release is not $version"
for id in 1a86:7523 10c4:ea60 0403:6001 067b:2303; do
  grep -q "ATTRS{idVendor}==\"${id%:*}\", ATTRS{idProduct}==\"${id#*:}\", GROUP=\"dialout\"" \
    "$work/usr/lib/udev/rules.d/60-sf6companion-serial.rules" || fail "udev rule for $id"
done
for page in sf6companion sf6cli; do
  zcat "$work/usr/share/man/man1/$page.1.gz" | grep -q "^.TH" || fail "man page $page"
done
zcat "$work/usr/share/man/man1/sf6cli.1.gz" | grep -q "EXIT STATUS" || fail "sf6cli man page without exit codes"
copyright=$work/usr/share/doc/sf6companion/copyright
head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' \
  || fail "copyright is not in Debian's machine-readable format"
grep -q '^License: ' "$copyright" || fail "copyright names no licence"
echo "package check: $(basename "$deb") passed ($(du -k "$deb" | cut -f1) KiB)"
