#!/usr/bin/env bash
# Static analysis of the project's own code: cppcheck, then clang-tidy with
# the checks in .clang-tidy, on the compile commands of build/ (made by
# tools/build.sh). Any finding fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh" --analysis
[ -f "$root/build/compile_commands.json" ] || "$root/tools/build.sh"
cd "$root"
sources=(base link usb history records power station upgrade app windows cli tools/meter_emulator tools/benchmarks tools/user_guide_pdf tools/product_icon tools/fuzz)

echo "== cppcheck"
cppcheck --quiet --enable=warning,performance,portability --library=qt --std=c++17 \
  --inline-suppr --error-exitcode=1 -I . "${sources[@]}"

echo "== clang-tidy"
pattern="$root/($(IFS='|'; echo "${sources[*]}"))/[^/]+\.cpp$"
run-clang-tidy -quiet -p build -j "$(nproc)" "$pattern" > build/clang-tidy.log 2>&1 || {
  grep -E 'warning:|error:' build/clang-tidy.log | sed 's/\x1b\[[0-9;]*m//g' | sort -u
  echo "clang-tidy: findings above (whole log in build/clang-tidy.log)"
  exit 1
}
echo "analyze: cppcheck and clang-tidy found nothing"
