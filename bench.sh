#!/usr/bin/env bash
# Benchmark of the real program as a player runs it: builds the Release
# program and the swap tap (tools/bench), starts the program under a virtual
# display, reaches each scene with real key presses and measures it from
# outside (frame times, CPU time, memory, network answers), and checks the
# CPU figures against perf stat of a copy run without the tap. Writes
# out/bench.md and prints it. Settings (environment): BENCH_RUNS (default 3),
# BENCH_WINDOW (seconds per scene, default 5), BENCH_PORT (first of two TCP
# ports, default 22001), BENCH_DISPLAY (first display number to try),
# BENCH_PROFILE=0 to skip the profiled run.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
. tools/setup.sh
. tools/xsession.sh

# iptables: the directory scenes' namespace sends the rooms' addresses to
# the local room servers and counts the directory's traffic.
need_packages $BUILD_PACKAGES $DISPLAY_PACKAGES python3 linux-perf iptables
# The directory scenes' server (scenario_directory_scale) and the relay's
# (scenario_relay).
need_servers $DIRECTORY_TEST_PACKAGES
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DVELLORA_TESTS=OFF \
    -DVELLORA_BENCH=ON > /dev/null
cmake --build build-release -j"$(nproc)" --target vellora vellora_swap_tap > /dev/null

# The analysis itself first, on a made-up run of known figures.
python3 tools/bench/analyze_test.py

GAME=$ROOT/build-release/vellora
TAP=$ROOT/build-release/tools/bench/swap_tap.so
WINDOW=${BENCH_WINDOW:-5}
PORT=${BENCH_PORT:-22001}
runs=${BENCH_RUNS:-3}
export SDL_AUDIODRIVER=dummy

trap stop_display EXIT
# Large enough for the doubled picture (1280 x 960).
export XVFB_SCREEN=${XVFB_SCREEN:-1920x1080x24}
start_display "${BENCH_DISPLAY:-}"
out=$ROOT/out/bench
rm -rf "$out"
mkdir -p "$out"
. tools/bench/drive.sh

run_dirs=()
for i in $(seq "$runs"); do
    RUN_DIR=$out/run-$i
    SHOTS=""
    [ "$i" = 1 ] && SHOTS=$out/shots
    mkdir -p "$RUN_DIR"
    echo "Run $i of $runs..."
    scenario_solo
    scenario_solo solo2x 2x
    scenario_solo solofs fs fullscreen
    scenario_net
    scenario_refresh
    scenario_names
    scenario_plain_check "$i"
    scenario_directory_scale 20
    scenario_directory_scale 2000
    scenario_relay
    run_dirs+=("$RUN_DIR")
done

profile_args=()
if [ "${BENCH_PROFILE:-1}" != 0 ] && perf record -q -e cpu-clock -o /dev/null true 2> /dev/null; then
    echo "Profiled run..."
    RUN_DIR=$out/profile
    SHOTS=""
    PROFILE=1
    export VELLORA_TAP_ALLOC_ORIGIN=1
    mkdir -p "$RUN_DIR"
    scenario_solo
    scenario_solo solo2x 2x
    scenario_net
    unset PROFILE VELLORA_TAP_ALLOC_ORIGIN
    python3 tools/bench/profile.py "$RUN_DIR" > "$out/profile.txt"
    profile_args=(--profile "$out/profile.txt")
fi

python3 tools/bench/analyze.py "$ROOT/out" "${run_dirs[@]}" "${profile_args[@]}"
