#!/usr/bin/env bash
# Makes the Debian package from a build tree with CPack and checks it as a Debian
# system meets it: the files it holds, dependencies computed from the binaries,
# programs that run from the unpacked tree, and lintian without a single error.
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_package: $*"; exit 1; }

for tool in cpack dpkg-deb dpkg-shlibdeps lintian help2man; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps installs it)"
done
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$work/pelrow_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "cpack made no $(basename "$deb")"

dpkg-deb -x "$deb" "$work/root"
id=org.example.pelrow.Pelrow
expected=$(sort <<EOF_LIST
./usr/bin/pelrow
./usr/bin/pelrow-cli
./usr/share/applications/$id.desktop
./usr/share/doc/pelrow/changelog.gz
./usr/share/doc/pelrow/copyright
./usr/share/icons/hicolor/128x128/apps/pelrow.png
./usr/share/icons/hicolor/16x16/apps/pelrow.png
./usr/share/icons/hicolor/256x256/apps/pelrow.png
./usr/share/icons/hicolor/32x32/apps/pelrow.png
./usr/share/icons/hicolor/48x48/apps/pelrow.png
./usr/share/icons/hicolor/64x64/apps/pelrow.png
./usr/share/icons/hicolor/scalable/apps/pelrow.svg
./usr/share/man/man1/pelrow-cli.1.gz
./usr/share/man/man1/pelrow.1.gz
./usr/share/metainfo/$id.metainfo.xml
./usr/share/mime/packages/pelrow-sysex.xml
EOF_LIST
)
actual=$(cd "$work/root" && find . -type f | sort)
diff <(echo "$expected") <(echo "$actual") || fail "the package holds other files than expected"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libasound2 libjack libqt6widgets6; do
  grep -q "$library" <<<"$depends" || fail "Depends names no $library: $depends"
done
zcat "$work/root/usr/share/man/man1/pelrow-cli.1.gz" | grep -q '^check$' ||
  fail "the manual page of pelrow-cli lacks the check command"

# The stripped programs still run.
"$work/root/usr/bin/pelrow" --version | grep -q " $version$" || fail "pelrow --version"
echo "F0 7E 7F 06 01 F7" | "$work/root/usr/bin/pelrow-cli" check --quiet - ||
  fail "the packaged pelrow-cli does not check a sound message"

lintian --fail-on error "$deb" || fail "lintian found errors"
echo "check_package: $(basename "$deb") is complete and lintian finds no error"
