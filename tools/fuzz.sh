#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-sanitized/, as tools/test-sanitized.sh
# does, and runs each for SECONDS (default 20) on its corpus in the
# repository; what a run discovers goes to a scratch folder, so the corpora
# change only by hand. A finding stops the run with the crashing input saved
# in build-sanitized/findings/.
# Usage: tools/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh" --analysis
seconds="${1:-20}"; shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(cd "$root/tools/fuzz/corpus" && ls))
dir="$root/build-sanitized"
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVFW_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" > /dev/null
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"
mkdir -p "$dir/findings"
export ASAN_OPTIONS="detect_leaks=1"
for t in "${targets[@]}"; do
  work="$(mktemp -d)"
  echo "== $t: ${seconds} s"
  "$dir/tools/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/findings/$t-" \
    "$work" "$root/tools/fuzz/corpus/$t" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
  status=${PIPESTATUS[0]}
  rm -rf "$work"
  [ "$status" -eq 0 ] || { echo "$t: a finding, see $dir/findings"; exit 1; }
done
