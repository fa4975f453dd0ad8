#!/usr/bin/env bash
# Checks a built Debian package of dxfkonv before anyone installs it:
#   - it holds both programs, their manual pages, the desktop entry, an icon,
#     the AppStream metadata, the copyright file and the changelog, all
#     under /usr and nothing else in /usr/bin;
#   - its dependencies were worked out from the programs (Qt among them);
#   - the manual page, the metadata's newest release and the changelog's
#     newest entry name the package's version;
#   - desktop-file-validate and appstreamcli validate pass on the files as
#     packaged, the desktop entry takes DXF files, and lintian finds no errors.
# Usage: scripts/check-package.sh build/dxfkonv_<version>_<arch>.deb
set -euo pipefail

deb=${1:?usage: $0 PACKAGE.deb}
fail() { echo "check-package: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/list"

metainfo=/usr/share/metainfo/cz.dxfkonv.dxfkonv.metainfo.xml
for path in /usr/bin/dxfkonv /usr/bin/dxfkonv-cli \
            /usr/share/man/man1/dxfkonv.1.gz /usr/share/man/man1/dxfkonv-cli.1.gz \
            /usr/share/applications/dxfkonv.desktop \
            /usr/share/icons/hicolor/48x48/apps/dxfkonv.png \
            "$metainfo" \
            /usr/share/doc/dxfkonv/copyright /usr/share/doc/dxfkonv/changelog.gz \
            /usr/share/lintian/overrides/dxfkonv; do
  grep -qxF "$path" "$work/list" || fail "$path is missing"
done
stray=$(grep -v -e '^/$' -e '^/usr/$' -e '^/usr/bin/$' -e '^/usr/share/' "$work/list" \
        | grep -vxF -e /usr/bin/dxfkonv -e /usr/bin/dxfkonv-cli || true)
[ -z "$stray" ] || fail "unexpected files: $stray"

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libqt6widgets6; do
  tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | grep -qxF "$lib" \
    || fail "Depends lacks $lib: $depends"
done

dpkg-deb -x "$deb" "$work/root"
page_version=$(zcat "$work/root/usr/share/man/man1/dxfkonv-cli.1.gz" | sed -n 's/^\.TH .*"dxfkonv-cli \([^"]*\)".*/\1/p')
[ "$page_version" = "$version" ] || fail "dxfkonv-cli says version '$page_version', the package is $version"
grep -q "<release version=\"$version\"" "$work/root$metainfo" \
  || fail "$metainfo has no release $version"
changelog_version=$(zcat "$work/root/usr/share/doc/dxfkonv/changelog.gz" | sed -n '1s/^dxfkonv (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] || fail "the changelog's newest entry is '$changelog_version', the package is $version"

desktop=$work/root/usr/share/applications/dxfkonv.desktop
desktop-file-validate "$desktop"
# File managers offer the program for DXF drawings and hand it the files.
grep -qxF 'Exec=dxfkonv %F' "$desktop" || fail "the desktop entry does not pass the files chosen"
grep -q '^MimeType=\(.*;\)\?image/vnd.dxf;' "$desktop" || fail "the desktop entry does not offer itself for DXF files"
appstreamcli validate --no-net "$work/root$metainfo"
# Errors fail; warnings and notes are shown. A program that may run as
# root is hardened: no hardening tag may show.
lintian --fail-on error --display-info "$deb" | tee "$work/lintian"
! grep -q 'hardening-' "$work/lintian" || fail "lintian finds the programs not hardened"
echo "check-package: $(basename "$deb") is fine ($(wc -l <"$work/list") entries, $(stat -c %s "$deb") bytes)"
