#!/usr/bin/env bash
# Builds the Debian package out/vellora_VERSION_amd64.deb (VERSION from the
# file VERSION) and checks it with lintian, which must report no error.
# Installs what is missing, builds the game in build-package/ with Debian's
# hardening flags and stages the package there:
#   /usr/games/vellora                  the launcher (tools/package/vellora.sh)
#   /usr/lib/games/vellora/vellora      the program
#   /usr/share/games/vellora/Graphic/   the pictures
#   /usr/share/games/vellora/examples/  RoomConfig.txt and RoomList.txt, commented
#   /usr/share/applications/vellora.desktop, the icons (tools/make_graphics.py),
#   the manual page, the copyright file and a changelog.
# The dependencies are the shared libraries the program links, as
# dpkg-shlibdeps finds them, and a Japanese gothic font, which the program
# finds through fontconfig at run time.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
. tools/setup.sh

need_packages $BUILD_PACKAGES $PACKAGE_PACKAGES
started=$SECONDS
umask 022

version=$VELLORA_VERSION
[[ $version =~ ^[0-9][0-9A-Za-z.+~]*$ ]] || { echo "VERSION holds no Debian version: '$version'" >&2; exit 1; }
maintainer="Vellora developers <maintainers@users.noreply.c-seed-22456822.example>"
arch=$(dpkg --print-architecture)
name=vellora_${version}_$arch.deb

# Debian's hardening flags (also the bind-now and PIE of hardening=+all);
# --as-needed leaves out libraries the program takes no symbol from.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
build=$root/build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORA_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS) -Wl,--as-needed" >/dev/null
cmake --build "$build" -j"$(nproc)" --target vellora

stage=$build/deb
pkg=$stage/debian/vellora
rm -rf "$stage"
mkdir -p "$pkg/DEBIAN"
doc=$pkg/usr/share/doc/vellora
share=$pkg/usr/share/games/vellora

install -D -m 0755 tools/package/vellora.sh "$pkg/usr/games/vellora"
install -D -m 0755 "$build/vellora" "$pkg/usr/lib/games/vellora/vellora"
strip --strip-unneeded --remove-section=.comment --remove-section=.note \
    "$pkg/usr/lib/games/vellora/vellora"
install -D -m 0644 -t "$share/Graphic" Graphic/*.png
install -D -m 0644 -t "$share/examples" tools/package/RoomConfig.txt tools/package/RoomList.txt
install -D -m 0644 tools/package/vellora.desktop "$pkg/usr/share/applications/vellora.desktop"
for size in 48 128 256; do
    mkdir -p "$pkg/usr/share/icons/hicolor/${size}x$size/apps"
    /usr/bin/python3 tools/make_graphics.py --icon "$size" \
        "$pkg/usr/share/icons/hicolor/${size}x$size/apps/vellora.png"
done
mkdir -p "$pkg/usr/share/man/man6"
sed "s/@VERSION@/$version/" tools/package/vellora.6 | gzip -9n >"$pkg/usr/share/man/man6/vellora.6.gz"
install -D -m 0644 tools/package/copyright "$doc/copyright"

# The release date is the last commit's, so a rebuild of one commit says the same.
when=$(git log -1 --format=%ct 2>/dev/null || date +%s)
{
    echo "vellora ($version) unstable; urgency=medium"
    echo
    echo "  * Release $version, built from the Vellora repository."
    echo
    echo " -- $maintainer  $(date -R -u -d "@$when")"
} | gzip -9n >"$doc/changelog.gz"

# dpkg-shlibdeps reads the package's name from a debian/control of its own.
mkdir -p "$stage/debian"
printf 'Source: vellora\n\nPackage: vellora\nArchitecture: any\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O -e debian/vellora/usr/lib/games/vellora/vellora |
    sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "dpkg-shlibdeps found no dependency" >&2; exit 1; }

# Beyond what the linker sees: the font the menus are drawn with, found by
# fontconfig at run time, and the trust store that a room directory's TLS
# certificate is checked against (without it every TLS directory fails).
cat >"$pkg/DEBIAN/control" <<EOF
Package: vellora
Version: $version
Architecture: $arch
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
Depends: $depends, fonts-ipafont-gothic | fonts-japanese-gothic, ca-certificates
Section: games
Priority: optional
Description: party game front end for up to six players, locally or over TCP
 Vellora opens a 640x480 OpenGL window with an animated title menu, character
 select, and for play over a network a room list and a room lobby where
 copies of the game meet over TCP. Up to six players play on keyboard or
 joystick; rooms on the local network are found by themselves, others are
 listed by host and port.
 .
 Each player's room files, options and messages are kept in their own folder,
 ~/.local/share/vellora.
EOF
# Every file dated as the changelog: a rebuild of one commit gives the same package.
find "$pkg" -exec touch -h -d "@$when" {} +
(cd "$pkg" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/md5sums"

mkdir -p out
rm -f out/vellora_*_"$arch".deb
SOURCE_DATE_EPOCH=$when dpkg-deb --root-owner-group -Zxz --build "$pkg" "out/$name" >/dev/null
echo "Wrote out/$name ($(du -k "out/$name" | cut -f1) KB), depending on: $depends"

# Warnings that remain are explained in the README ("Installing").
echo "== lintian =="
lintian --fail-on error --display-info "out/$name"
echo "   (package built and checked in $((SECONDS - started)) s)"
