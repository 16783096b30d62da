# Shared by run.sh, test.sh and bench.sh: installs the Debian packages the
# project needs when any is missing. Source it, then call need_packages.

BUILD_PACKAGES="cmake g++ make pkg-config libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev
  libsdl-mixer1.2-dev libsdl-net1.2-dev libsdl-gfx1.2-dev libgl-dev libfontconfig-dev
  libstrophe-dev fonts-ipafont-gothic"
DISPLAY_PACKAGES="xvfb xdotool libgl1-mesa-dri x11-apps imagemagick"
# git: test.sh checks that a run leaves the work tree as it was; iproute2:
# the ip command, for tests that make network namespaces.
TEST_PACKAGES="googletest libgtest-dev python3 clang libclang-rt-14-dev git iproute2 libpng-dev libfreetype-dev"

# The Windows release build and its checks under Wine (tools/windows/build.sh);
# dpkg-dev unpacks the Debian source packages the DLLs are built from.
WINDOWS_PACKAGES="cmake make pkg-config patch dpkg-dev g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 googletest zip unzip fonts-ipafont-gothic fontconfig"

# need_packages PKG... : installs those of PKG that are not installed yet.
need_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || {
            echo "Missing packages (${missing[*]}); run as root or install them." >&2
            return 1
        }
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}" >/dev/null ||
        { $sudo apt-get update -q >/dev/null && \
          $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}" >/dev/null; }
}
