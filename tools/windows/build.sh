#!/usr/bin/env bash
# Builds the Windows release from a clean checkout on Debian 12:
# out/windows/vellora-VERSION-windows-x64.zip with vellora.exe, every DLL it needs,
# Graphic/ and README.txt. Installs what is missing, cross-builds the
# libraries from Debian's source packages into build-windows/prefix (only
# those not built yet), then the game and its unit tests.
#   --check  then runs the checks under Wine (tools/windows/check.sh) and
#            leaves screenshots of every scene in out/windows/shots/.
#   --ci     then runs the subset of those checks that ./test.sh runs
#            (tools/windows/check.sh --ci).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
. tools/setup.sh

check=0
for arg in "$@"; do
  case $arg in
    --check) check=1 ;;
    --ci) check=2 ;;
    *) echo "usage: $0 [--check|--ci]" >&2; exit 2 ;;
  esac
done

started=$SECONDS
need_packages $WINDOWS_PACKAGES

build=$root/build-windows
prefix=$build/prefix
# Anything below that could start Wine (libtool's winepath, CTest) must find
# the build's own Wine prefix, never create ~/.wine.
export WINEPREFIX=$build/wine WINEDEBUG=-all
tools/windows/deps.sh "$build"

game=$build/game
cmake -S . -B "$game" -DCMAKE_TOOLCHAIN_FILE="$root/tools/windows/toolchain-mingw64.cmake" \
  -DVELLORA_WIN_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DVELLORA_TESTS=ON >/dev/null
cmake --build "$game" -j2
tools/windows/dlls.sh "$prefix" "$game/bin" "$game"/bin/*.exe

# The release: one folder inside the zip, so unpacking it puts nothing loose.
out=$root/out/windows
stage=$out/stage/Vellora
zip=$out/vellora-$VELLORA_VERSION-windows-x64.zip
rm -rf "$out/stage" "$out"/vellora-*windows-x64.zip
mkdir -p "$stage"
cp "$game/bin/vellora.exe" "$stage/"
tools/windows/dlls.sh "$prefix" "$stage" "$stage/vellora.exe"
cp -r Graphic "$stage/Graphic"
# Windows reads the player's text files with CR LF line ends.
sed 's/$/\r/' tools/windows/README.txt >"$stage/README.txt"
# Which Debian source versions went into it: the libraries', then the
# compiler's, whose runtime is linked in or shipped (libwinpthread-1.dll).
{ echo "Built from these Debian 12 source packages (name version):"
  cat "$prefix/sources.txt"
  dpkg-query -W -f='${source:Package} ${source:Version}\n' g++-mingw-w64-x86-64-posix \
    mingw-w64-x86-64-dev; } | sed 's/$/\r/' >"$stage/SOURCES.txt"
(cd "$out/stage" && zip -q -r -9 "$zip" Vellora)
rm -rf "$out/stage"
echo "Wrote $zip ($(du -k "$zip" | cut -f1) KB) in $((SECONDS - started)) s"

if [ $check -eq 1 ]; then
  tools/windows/check.sh
elif [ $check -eq 2 ]; then
  tools/windows/check.sh --ci
fi
