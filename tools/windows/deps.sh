#!/usr/bin/env bash
# deps.sh BUILD_DIR : cross-builds the game's dependencies for 64-bit Windows
# from Debian's source packages into BUILD_DIR/prefix. Each library is built
# only when its stamp file is missing, so a second run costs seconds; a
# prefix that is complete (or copied in whole) needs no network.
# BUILD_DIR/prefix/sources.txt then names the source package versions the
# libraries were built from (build.sh puts it in the release).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(mkdir -p "$1" && cd "$1" && pwd)
prefix=$build/prefix
src=$build/src
work=$build/deps
host=x86_64-w64-mingw32
jobs=2
# libtool runs winepath while linking: without a prefix of its own, Wine would
# create ~/.wine.
export WINEPREFIX=${WINEPREFIX:-$build/wine} WINEDEBUG=-all
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include" "$src" "$work"

# The source packages, one name a line. Each is fetched at the version the
# archive serves for Debian 12 when it is fetched (bookworm, or
# bookworm-updates when newer; the security archive's sources are not
# served), so no pin goes stale at a point release.
SOURCES="
  zlib
  libsdl1.2
  libpng1.6
  freetype
  sdl-mixer1.2
  miniupnpc
"

# A private apt configuration with a deb-src entry: the machine's own
# sources list is left alone.
apt_dir=$build/apt
apt_opts=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$apt_dir/sources.d"
          -o "Dir::State::Lists=$apt_dir/lists" -o Dir::Cache::archives="$apt_dir/archives")

# src/NAME.fetched holds the version of the one tree of NAME under src/.
fetch_sources() {
  local need=0 name
  for name in $SOURCES; do
    [ -s "$src/$name.fetched" ] || need=1
  done
  [ $need -eq 0 ] && return 0
  mkdir -p "$apt_dir/sources.d" "$apt_dir/lists/partial" "$apt_dir/archives/partial"
  cat >"$apt_dir/sources.d/debian-src.sources" <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  echo "Fetching Debian source packages"
  apt-get "${apt_opts[@]}" update -q >/dev/null
  for name in $SOURCES; do
    [ -s "$src/$name.fetched" ] && continue
    # What an earlier, unfinished fetch left goes first: one tree a name.
    rm -rf "$src/$name"-[0-9]* "$src/${name}"_*
    (cd "$src" && apt-get "${apt_opts[@]}" source -q "$name" >/dev/null)
    dpkg-parsechangelog -l "$(find "$src" -maxdepth 1 -type d -name "$name-[0-9]*" |
      head -n1)/debian/changelog" -S Version >"$src/$name.fetched.part"
    mv "$src/$name.fetched.part" "$src/$name.fetched"
  done
}

# source_dir NAME : the unpacked tree of source package NAME; its version
# goes into the record of the library being built (see step).
source_dir() {
  echo "$1 $(cat "$src/$1.fetched")" >>"$work/used-sources"
  find "$src" -maxdepth 1 -type d -name "$1-[0-9]*" | head -n1
}

# step NAME FUNCTION : runs FUNCTION once, logging to deps/NAME.log. The
# stamp prefix/.built-NAME holds the sources FUNCTION built from, one
# "package version" a line.
step() {
  local name=$1 fn=$2 started=$SECONDS
  [ -f "$prefix/.built-$name" ] && return 0
  # The sources are needed only for a library not built yet.
  fetch_sources
  echo "Building $name for Windows"
  : >"$work/used-sources"
  if ! "$fn" >"$work/$name.log" 2>&1; then
    echo "Building $name failed; the last lines of $work/$name.log:" >&2
    tail -n 30 "$work/$name.log" >&2
    exit 1
  fi
  sort -u "$work/used-sources" >"$prefix/.built-$name"
  echo "  $name: $((SECONDS - started)) s"
}

cmake_cross() {
  cmake "$@" -DCMAKE_TOOLCHAIN_FILE="$here/toolchain-mingw64.cmake" \
    -DVELLORA_WIN_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release
}

configure_cross() {
  PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig:$prefix/share/pkgconfig PKG_CONFIG_PATH= \
  CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib" \
    ./configure --host=$host --prefix="$prefix" "$@"
}

build_zlib() {
  local dir
  dir=$(source_dir zlib)
  # Debian's tarball drops win32/, and with it the DLL's version resource.
  mkdir -p "$dir/win32"
  cp "$here/zlib1.rc" "$dir/win32/zlib1.rc"
  rm -rf "$work/zlib"
  cmake_cross -S "$dir" -B "$work/zlib"
  cmake --build "$work/zlib" -j$jobs
  cmake --install "$work/zlib"
  # Configure scripts look for the usual name.
  cp "$prefix/lib/libzlib.dll.a" "$prefix/lib/libz.dll.a"
}

build_sdl() {
  local dir
  dir=$(source_dir libsdl1.2)
  # Debian drops SDL's own libraries from sdl-config --libs; on Windows those
  # are -lmingw32 -lSDLmain -mwindows, without which nothing links (no WinMain).
  if [ ! -f "$dir/.lpthread-reverted" ]; then
    (cd "$dir" && patch -R -p1 <debian/patches/dont_propagate_lpthread.diff)
    touch "$dir/.lpthread-reverted"
  fi
  cd "$dir"
  [ -f Makefile ] && make distclean || true
  configure_cross --disable-rpath
  make -j$jobs
  make install
}

build_png() {
  cd "$(source_dir libpng1.6)"
  [ -f Makefile ] && make distclean || true
  configure_cross
  make -j$jobs
  make install
}

build_freetype() {
  cd "$(source_dir freetype)"
  [ -f builds/unix/unix-cc.mk ] && make distclean || true
  configure_cross --without-png --without-harfbuzz --without-bzip2 --without-brotli \
    --enable-freetype-config
  make -j$jobs
  make install
}

build_mixer() {
  cd "$(source_dir sdl-mixer1.2)"
  [ -f Makefile ] && make distclean || true
  configure_cross --disable-sdltest --with-sdl-prefix="$prefix" --disable-music-cmd \
    --disable-music-wave --disable-music-mod --disable-music-midi --disable-music-ogg \
    --disable-music-flac --disable-music-mp3 --disable-music-mp3-mad-gpl \
    --disable-music-mod-modplug --disable-music-mod-mikmod --disable-music-native-midi \
    --disable-music-timidity-midi --disable-music-fluidsynth-midi
  # The library alone: the demo programs do not link (libtool moves -lSDLmain).
  make -j$jobs build/libSDL_mixer.la
  make install-hdrs install-lib
}

# The UPnP client, as a static library (its callers define MINIUPNP_STATICLIB
# and link ws2_32 and iphlpapi).
build_miniupnpc() {
  rm -rf "$work/miniupnpc"
  cmake_cross -S "$(source_dir miniupnpc)" -B "$work/miniupnpc" -DUPNPC_BUILD_SHARED=OFF \
    -DUPNPC_BUILD_TESTS=OFF -DUPNPC_BUILD_SAMPLE=OFF
  cmake --build "$work/miniupnpc" -j$jobs
  cmake --install "$work/miniupnpc"
}

build_gtest() {
  rm -rf "$work/googletest"
  cmake_cross -S /usr/src/googletest -B "$work/googletest" -DBUILD_GMOCK=OFF \
    -DBUILD_SHARED_LIBS=OFF
  cmake --build "$work/googletest" -j$jobs
  cmake --install "$work/googletest"
}

step zlib build_zlib
step sdl build_sdl
step libpng build_png
step freetype build_freetype
step sdl_mixer build_mixer
step miniupnpc build_miniupnpc
step googletest build_gtest

# The record of the prefix, from the stamps: GoogleTest (the machine's own
# sources, linked into the unit tests only) is not in the release.
for stamp in "$prefix"/.built-*; do
  [ "$stamp" = "$prefix/.built-googletest" ] && continue
  [ -s "$stamp" ] && cat "$stamp" || echo "${stamp##*/.built-}: version not recorded"
done | sort -u >"$prefix/sources.txt"
