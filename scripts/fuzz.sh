#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UBSan into
# build-fuzz/ and runs each for the given seconds (default 60), at most two at a
# time, at the lowest priority. Corpora and crash files stay in build-fuzz/.
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --fuzz
SECONDS_EACH=${1:-60}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_frames fuzz_header fuzz_restart_file fuzz_settings_file fuzz_decompress)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOTRAX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j2 --target "${TARGETS[@]}"

# Leaks are looked for after each input; the whole-heap check at exit only
# repeats that and takes minutes on a loaded machine.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:leak_check_at_exit=0}

run() {
  local t=$1 corpus=build-fuzz/corpus/$1
  mkdir -p "$corpus" build-fuzz/crashes
  [ -d "fuzz/seeds/$t" ] && cp -n fuzz/seeds/"$t"/* "$corpus"/ 2>/dev/null || true
  nice -n 19 build-fuzz/bin/"$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      -artifact_prefix=build-fuzz/crashes/"$t"- "$corpus" >build-fuzz/"$t".log 2>&1 \
    && echo "$t: no finding" || echo "$t: FINDING, see build-fuzz/$t.log"
  grep -m1 -P '^#\d+\s+DONE' build-fuzz/"$t".log | sed "s/^/  $t: /"
}

# Two at a time: the machine has two cores.
for ((i = 0; i < ${#TARGETS[@]}; i += 2)); do
  run "${TARGETS[i]}" &
  [ $((i + 1)) -lt ${#TARGETS[@]} ] && run "${TARGETS[i + 1]}" &
  wait
done
