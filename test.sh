#!/usr/bin/env bash
# Installs what is missing, builds the game twice (plain, and with address and
# undefined-behaviour sanitizers) and runs every test of both builds through
# CTest on a virtual display of its own.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh
. tools/xsession.sh

need_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $TEST_PACKAGES

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORA_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELLORA_SANITIZE=ON -DVELLORA_TESTS=ON >/dev/null
cmake --build build-asan -j"$jobs"

trap stop_display EXIT
start_display
export SDL_AUDIODRIVER=dummy

status=0
echo "== Tests =="
ctest --test-dir build --output-on-failure || status=1
echo "== Tests with sanitizers =="
# The GL driver, X and fontconfig keep allocations until exit by design; only
# leaks of our own code count.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-asan --output-on-failure || status=1

echo "== Fuzz harnesses (a few seconds each) =="
fuzz/run.sh -max_total_time=3 || status=1

[ $status -eq 0 ] && echo "All tests passed." || echo "Some tests failed."
exit $status
