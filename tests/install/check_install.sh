#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the tree a desktop relies on:
# the program, a valid desktop entry and AppStream metainfo, the icons and the MIME type.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

id=org.example.pelrow.Pelrow
fail() { echo "check_install: $*"; exit 1; }
for f in bin/pelrow share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/mime/packages/pelrow-sysex.xml share/icons/hicolor/scalable/apps/pelrow.svg; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
for size in 16 32 48 64 128 256; do
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/pelrow.png
  [ -e "$png" ] || fail "missing ${size}x${size} icon"
  # PNG width and height are big-endian words at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4, $7*256+$8}')
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "${size}x${size} icon is ${w}x${h}"
done
[ -x "$prefix/bin/pelrow" ] || fail "bin/pelrow is not executable"

desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
  appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
grep -qx 'Exec=pelrow %F' "$prefix/share/applications/$id.desktop" || fail "Exec line"
grep -qx 'Categories=AudioVideo;Audio;Midi;' "$prefix/share/applications/$id.desktop" ||
  fail "Categories line"
echo "check_install: installed tree is complete and valid"
