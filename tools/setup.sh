# Shared by run.sh, test.sh and bench.sh: installs the Debian packages the
# project needs when any is missing. Source it, then call need_packages.

# The release's version, held by the file VERSION alone: the Debian package's
# version and the Windows zip's name.
VELLORA_VERSION=$(tr -d '[:space:]' <"$(dirname "${BASH_SOURCE[0]}")/../VERSION")

BUILD_PACKAGES="cmake g++ make pkg-config libsdl1.2-dev libsdl-image1.2-dev libsdl-ttf2.0-dev
  libsdl-mixer1.2-dev libsdl-net1.2-dev libsdl-gfx1.2-dev libgl-dev libfontconfig-dev
  libx11-dev libxext-dev fonts-ipafont-gothic libminiupnpc-dev libssl-dev"
DISPLAY_PACKAGES="xvfb xdotool libgl1-mesa-dri x11-apps imagemagick"
# git: test.sh checks that a run leaves the work tree as it was; iproute2:
# the ip command, for tests that make network namespaces; fonts-arphic-uming
# carries embedded bitmap strikes for the text library comparisons (so does
# fonts-wqy-zenhei: see need_test_fonts).
TEST_PACKAGES="googletest libgtest-dev python3 clang libclang-rt-14-dev git iproute2 libpng-dev libfreetype-dev
  fonts-arphic-uming"

# The Debian package (tools/package/deb.sh): dpkg-shlibdeps, lintian, and
# Pillow for the icon.
PACKAGE_PACKAGES="dpkg-dev lintian python3-pil"

# The servers of the test's own internet (tests/support/internet.sh): a home
# router's UPnP daemon on the legacy iptables backend, and the STUN server it
# needs there, and miniupnpc's upnpc (a second machine's mapping). Installed
# with need_servers, never started as services.
INTERNET_TEST_PACKAGES="miniupnpd miniupnpd-iptables stun-server iptables miniupnpc"
# A room directory of the tests' own: prosody (tests/support/directory.sh)
# and a cluster of ejabberd nodes (tests/support/ejabberd.sh), installed the
# same way (Debian's ejabberd service is never started: the tests run their
# own nodes), coturn for the directory's relay (tests/support/relay.sh; its
# service stays off too), and openssl for the test CA.
DIRECTORY_TEST_PACKAGES="prosody ejabberd coturn openssl"

# The Windows release build and its checks under Wine (tools/windows/build.sh);
# dpkg-dev unpacks the Debian source packages the DLLs are built from;
# autoconf, automake and libtool for their autotools builds.
WINDOWS_PACKAGES="cmake make pkg-config patch dpkg-dev g++-mingw-w64-x86-64-posix
  mingw-w64-tools wine wine64 googletest zip unzip fonts-ipafont-gothic fontconfig
  autoconf automake libtool fonts-arphic-uming"

# need_test_fonts : puts wqy-zenhei.ttc from Debian's fonts-wqy-zenhei into
# build-fonts/ (once), for the text library comparisons. The package is not
# installed: its fontconfig configuration puts WenQuanYi Zen Hei first for
# every sans-serif family, so installed it would become the font the game
# (and every test of it) draws with.
need_test_fonts() {
    local root dest tmp
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    dest=$root/build-fonts/wqy-zenhei.ttc
    [ -f "$dest" ] && return 0
    tmp=$(mktemp -d)
    if ! (cd "$tmp" && { apt-get download -q fonts-wqy-zenhei >/dev/null 2>&1 ||
            { apt-get update -q >/dev/null 2>&1 && apt-get download -q fonts-wqy-zenhei >/dev/null 2>&1; }; }) ||
       ! dpkg-deb -x "$tmp"/fonts-wqy-zenhei_*.deb "$tmp/files"; then
        echo "Could not fetch fonts-wqy-zenhei for the text library comparisons." >&2
        rm -rf "$tmp"
        return 1
    fi
    mkdir -p "$root/build-fonts"
    cp "$tmp/files/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc" "$dest"
    rm -rf "$tmp"
}

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

# need_servers PKG... : need_packages for packages that would start a service
# on this machine when installed (miniupnpd, stund): a policy-rc.d that
# refuses every start stands in place during the install (and goes after, if
# this made it), and debconf asks nothing. Tests run their own instances.
need_servers() {
    local pkg missing=0
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing=1
    done
    [ $missing -eq 0 ] && return 0
    local policy=/usr/sbin/policy-rc.d made=0 status=0
    if [ ! -e $policy ] && [ "$(id -u)" -eq 0 ]; then
        printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy && made=1
    fi
    DEBIAN_FRONTEND=noninteractive need_packages "$@" || status=1
    [ $made -eq 1 ] && rm -f $policy
    return $status
}
