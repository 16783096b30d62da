#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, with address and undefined-behaviour
# sanitizers) in build-fuzz and runs each one from its seed corpus.
#
#   fuzz/run.sh [-runs=N | -max_total_time=SECONDS] [harness ...]
#   fuzz/run.sh --build-only [harness ...]
#
# Default: -runs=20000 for every harness. Inputs found along the way go to
# build-fuzz/corpus/<harness> (the committed seeds under fuzz/corpus are only
# read); a crash, leak or undefined behaviour stops the run with its input
# in build-fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."

limit="-runs=20000"
build_only=0
if [[ $# -gt 0 && $1 == --build-only ]]; then
    build_only=1
    shift
elif [[ $# -gt 0 && $1 == -* ]]; then
    limit=$1
    shift
fi
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
    harnesses=(host_receive guest_receive room_record room_config room_list sjis_text discovery
               announcement xmpp_session tls_client turn_messages compat_image compat_ttf compat_gfx)
fi

case " ${harnesses[*]} " in
    *" compat_ttf "*) . tools/setup.sh && { need_test_fonts || true; } ;;
esac

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVELLORA_FUZZ=ON -DVELLORA_TESTS=OFF >/dev/null
targets=()
for h in "${harnesses[@]}"; do targets+=("${h}_fuzzer"); done
cmake --build build-fuzz -j"${FUZZ_JOBS:-2}" --target "${targets[@]}" >/dev/null
[ $build_only -eq 1 ] && exit 0

mkdir -p build-fuzz/crashes
status=0
for h in "${harnesses[@]}"; do
    mkdir -p "build-fuzz/corpus/$h"
    log="build-fuzz/$h.log"
    if ./build-fuzz/fuzz/"${h}_fuzzer" "$limit" -print_final_stats=1 \
           -artifact_prefix="build-fuzz/crashes/$h-" \
           "build-fuzz/corpus/$h" "fuzz/corpus/$h" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "$h: ${runs:-?} executions, no crash, leak or undefined behaviour"
    else
        echo "$h: FAILED (see $log and build-fuzz/crashes/)"
        tail -n 30 "$log"
        status=1
    fi
done
exit $status
