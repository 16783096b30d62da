#!/usr/bin/env bash
# Installs what is missing, builds the game twice (plain, and with address and
# undefined-behaviour sanitizers) and runs every test of both builds through
# CTest on a virtual display of its own. Fails too when the run leaves new or
# changed files in the work tree outside the build folders and out/.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh
. tools/xsession.sh

need_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $TEST_PACKAGES
need_servers $INTERNET_TEST_PACKAGES $DIRECTORY_TEST_PACKAGES
need_test_fonts || echo "The comparison with WenQuanYi Zen Hei Sharp will fail without it."

# The build folders and out/ are ignored by git, so whatever else a run
# writes into the tree shows up here.
tree_state() { git status --porcelain --untracked-files=all; }
tree_checked=1
tree_before=$(tree_state 2>/dev/null) || {
    tree_checked=0
    echo "Not a git work tree: the check for files left in the tree is skipped."
}

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORA_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELLORA_SANITIZE=ON -DVELLORA_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"

trap stop_display EXIT
# Large enough for the doubled window (1280 x 960), which the scaling test
# reads back as the X server shows it.
XVFB_SCREEN=1920x1080x24 start_display
export SDL_AUDIODRIVER=dummy

status=0
# Every test must run here: this script installs what each one needs, so a
# test that skipped (reported by CTest as not run) is a failure too.
ran_all() {
    if grep -q "The following tests did not run" "$1"; then
        echo "Some tests did not run (above, \"Skipped\"): each must run here."
        return 1
    fi
}
echo "== Tests =="
ctest --test-dir build --output-on-failure | tee build/ctest.log || status=1
ran_all build/ctest.log || status=1
echo "== Tests with sanitizers =="
# The GL driver, X and fontconfig keep allocations until exit by design; only
# leaks of our own code count. The leak check's record of dynamic TLS blocks
# (from its __tls_get_addr hook) is garbage for a library the GL driver loads
# on this glibc, and the check then crashes at exit in most runs of a GL test:
# the hook is left off, and dynamic TLS, held by those libraries alone, is
# not scanned.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-asan --output-on-failure | tee build-asan/ctest.log || status=1
ran_all build-asan/ctest.log || status=1

echo "== Fuzz harnesses (a few seconds each) =="
fuzz/run.sh -max_total_time=3 || status=1

echo "== Debian package =="
# Built and checked with lintian (tools/package/deb.sh), then unpacked into a
# throw-away root and its launcher run from there as two players.
package_started=$SECONDS
{ tools/package/deb.sh && tests/package/unpacked_test.sh out/vellora_"$VELLORA_VERSION"_*.deb; } ||
    status=1
echo "   (package stage: $((SECONDS - package_started)) s)"

echo "== Windows build under Wine =="
# The Windows release and the reliable subset of its checks, with the Linux
# build above as the other side of the net battle (tools/windows/check.sh).
# Bounded as a whole, besides every wait inside it.
windows_started=$SECONDS
VELLORA_LINUX_GAME=$PWD/build/vellora timeout --kill-after=30 1800 \
    tools/windows/build.sh --ci || status=1
echo "   (Windows stage: $((SECONDS - windows_started)) s)"

if [ $tree_checked -eq 1 ]; then
    left=$(comm -13 <(sort <<<"$tree_before") <(tree_state | sort))
    if [ -n "$left" ]; then
        echo "The test run left files in the work tree (tests write under build*/ or out/):"
        echo "$left"
        status=1
    fi
fi

[ $status -eq 0 ] && echo "All tests passed." || echo "Some tests failed."
exit $status
