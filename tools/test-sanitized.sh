#!/usr/bin/env bash
# Builds the tool, its tests and the fuzz targets with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitized/, and
# runs the whole suite there. Any report fails the run. tools/fuzz.sh then
# runs the fuzz targets from the same build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh" --analysis
dir="$root/build-sanitized"
flags="-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVFW_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" > /dev/null
cmake --build "$dir" -j "$(nproc)"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tools/sanitizer/lsan.supp:print_suppressions=0"
cd "$dir"
ctest --output-on-failure -j "$(nproc)" "$@"
