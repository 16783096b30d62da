#!/usr/bin/env bash
# Installs what is missing and runs every test. The Linux program is built
# twice, plain and with address and undefined-behaviour sanitizers; CTest
# runs the unit tests of both builds side by side as the machine's cores
# allow (those that need the machine to themselves are marked so in
# tests/CMakeLists.txt), and the end-to-end scripts once, in the plain
# build. The tests mostly wait (on the network, timers and the display):
# the other builds take the cores they leave idle, at the lowest priority,
# one after the other (the Windows release, the sanitizer build, the Debian
# package with lintian, the fuzz harnesses and their short runs), and each
# check that needs one of them starts once it is there. Fails too when the
# run leaves new or changed files in the work tree outside the build folders
# and out/, and when a test did not run.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh
. tools/xsession.sh

# Everything every stage needs, installed here and now: the builds beside
# the tests must never wait for (or fight over) the package manager.
need_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $TEST_PACKAGES $PACKAGE_PACKAGES $WINDOWS_PACKAGES
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

run_started=$SECONDS
stage_started=$SECONDS
stage() { echo "== $1 =="; stage_started=$SECONDS; }
stage_took() { echo "   ($1: $((SECONDS - stage_started)) s; $((SECONDS - run_started)) s in all)"; }

jobs=$(nproc)
stage "Linux build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORA_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
stage_took "plain build"

# The builds beside the tests, one after the other, each bounded; each
# leaves its log and its exit status under build/side/.
side=$PWD/build/side
rm -rf "$side"
mkdir -p "$side"
side_step() {
    local name=$1 limit=$2
    shift 2
    local began=$SECONDS status=0
    # timeout leads a process group of its own: its pid ends the step's
    # every process (see finish).
    timeout --kill-after=30 "$limit" "$@" >"$side/$name.log" 2>&1 &
    echo $! >"$side/step.pid"
    wait $! || status=$?
    echo "$status $((SECONDS - began))" >"$side/$name.status"
}
side_builds() {
    side_step windows 1500 tools/windows/build.sh
    side_step asan 1200 bash -c "cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
        -DVELLORA_SANITIZE=ON -DVELLORA_TESTS=ON >/dev/null && cmake --build build-asan -j$jobs"
    side_step package 600 tools/package/deb.sh
    side_step fuzz 600 bash -c 'fuzz/run.sh --build-only && fuzz/run.sh -max_total_time=3'
}
side_pid=""
finish() {
    # However the run ends: the builds beside it and the display go with it.
    if [ -n "$side_pid" ]; then
        kill "$side_pid" 2>/dev/null || true
        [ -f "$side/step.pid" ] && kill -- -"$(cat "$side/step.pid")" 2>/dev/null || true
    fi
    stop_display
}
trap finish EXIT
nice -n 19 bash -c "$(declare -f side_step side_builds); side=$(printf %q "$side"); jobs=$jobs; side_builds" &
side_pid=$!

# side_result NAME TITLE: waits for the step beside the tests (bounded by
# its own limit) and prints what it said; false when it failed.
side_result() {
    echo "== $2 =="
    while [ ! -f "$side/$1.status" ] && kill -0 "$side_pid" 2>/dev/null; do sleep 1; done
    local status=1 took=?
    [ -f "$side/$1.status" ] && read -r status took <"$side/$1.status"
    echo "   (built beside the tests in $took s; $((SECONDS - run_started)) s in all)"
    if [ "$status" != 0 ]; then
        tail -n 60 "$side/$1.log" 2>/dev/null
        echo "$2: FAILED (status $status; the whole log: build/side/$1.log)"
        return 1
    fi
    grep -v '^$' "$side/$1.log" | tail -n 20
}

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
stage "Unit tests and end-to-end scripts"
ctest --test-dir build -j"$jobs" --output-on-failure | tee build/ctest.log || status=1
ran_all build/ctest.log || status=1
stage_took "plain tests"

# The Windows release's checks under Wine, with the Linux build above as
# the other side of the net battle (tools/windows/check.sh --ci). Bounded as
# a whole, besides every wait inside it.
if side_result windows "Windows build"; then
    stage "Windows build under Wine"
    VELLORA_LINUX_GAME=$PWD/build/vellora timeout --kill-after=30 1800 \
        tools/windows/check.sh --ci || status=1
    stage_took "Windows checks"
else
    status=1
fi

if side_result asan "Sanitizer build"; then
    stage "Unit tests with sanitizers"
    # The GL driver, X and fontconfig keep allocations until exit by design;
    # only leaks of our own code count. The leak check's record of dynamic
    # TLS blocks (from its __tls_get_addr hook) is garbage for a library the
    # GL driver loads on this glibc, and the check then crashes at exit in
    # most runs of a GL test: the hook is left off, and dynamic TLS, held by
    # those libraries alone, is not scanned.
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        ctest --test-dir build-asan -j"$jobs" -LE e2e --output-on-failure |
        tee build-asan/ctest.log || status=1
    ran_all build-asan/ctest.log || status=1
    stage_took "sanitizer tests"
else
    status=1
fi

side_result fuzz "Fuzz harnesses (a few seconds each)" || status=1

# Built and checked with lintian (tools/package/deb.sh) beside the tests,
# then unpacked into a throw-away root and its launcher run from there as
# two players.
if side_result package "Debian package"; then
    stage "Debian package unpacked"
    tests/package/unpacked_test.sh out/vellora_"$VELLORA_VERSION"_*.deb || status=1
    stage_took "package check"
else
    status=1
fi
wait "$side_pid" 2>/dev/null || true
rm -f "$side/step.pid"
side_pid=""

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
