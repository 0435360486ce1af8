#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and runs each for SECONDS from a
# copy of its seed corpus. A crash, leak or timeout fails the run; its reproducer is left in
# build-fuzz/findings/. Each target's full output is in build-fuzz/logs/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (default 60 s, every target)
# For a longer hunt: scripts/fuzz.sh 3600 config_fuzz   (the corpus in build-fuzz/corpus grows
# across runs; copy interesting inputs back to tests/data/fuzz/ by hand).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --fuzz

seconds="${1:-60}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(json_fuzz sdk_frame_fuzz config_fuzz frs_message_fuzz thumbnail_fuzz)
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESTREL_BUILD_FUZZ=ON -DVESTREL_BUILD_TESTS=OFF -DVESTREL_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" vestrel-many-scan-jpeg

seeds_of() {
  case "$1" in
    json_fuzz) echo tests/data/json-test-suite/test_parsing tests/data/fuzz/json ;;
    sdk_frame_fuzz) echo tests/data/fuzz/sdk_frame ;;
    config_fuzz) echo tests/data/fuzz/config ;;
    frs_message_fuzz) echo tests/data/fuzz/frs_message ;;
    thumbnail_fuzz) echo tests/data/fuzz/thumbnail ;;
  esac
}
max_len_of() {
  case "$1" in
    thumbnail_fuzz) echo 65536 ;;
    config_fuzz) echo 16384 ;;
    *) echo 8192 ;;
  esac
}

mkdir -p "$build/logs" "$build/findings"
failed=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  for seeds in $(seeds_of "$target"); do
    cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  done
  if [ "$target" = thumbnail_fuzz ]; then
    # A picture of 704 scans (too costly to decode): the scan limit's seed, made here.
    "$build/vestrel-many-scan-jpeg" 64 48 "$corpus/many-scans.jpg"
  fi
  log="$build/logs/$target.log"
  echo "=== $target: ${seconds}s from $(ls "$corpus" | wc -l) inputs"
  if ASAN_OPTIONS=detect_leaks=1 "$build/$target" -max_total_time="$seconds" \
      -max_len="$(max_len_of "$target")" -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$build/findings/$target-" -print_final_stats=1 "$corpus" > "$log" 2>&1; then
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)" "$log" | sed 's/^/    /'
  else
    echo "    $target FAILED; last lines of $log:"
    tail -n 40 "$log" | sed 's/^/    /'
    failed=1
  fi
done
exit $failed
