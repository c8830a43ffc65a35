#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, as CTest's cross-compiling
# emulator: in a Wine prefix of the build's own (made at the first run), with
# Qt's and mingw's DLLs on its search path.
#   wine-run.sh PROGRAM.exe [ARGUMENT...]
# With WINE_RUN_TEST_LOG=FILE a Qt test writes its log there, then shown.
set -euo pipefail
program="$1"; shift
build="$(cd "$(dirname "$program")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)"
qt="$(sed -n 's/^OVFW_QT_WINDOWS:[A-Z]*=//p' "$build/CMakeCache.txt")"
wine="${WINE:-/usr/lib/wine/wine64}"
export WINEPREFIX="$build/wine-prefix" WINEDEBUG=-all
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  "$wine" wineboot -i > /dev/null 2>&1
fi
# The server stays up between tests (a new one may lose its first program's
# output), holding none of a test's output streams, which CTest waits on.
"$(dirname "$wine")/wineserver" -p < /dev/null > /dev/null 2>&1 || true
# Wine's own services start with the first program the server runs and stay:
# they are started here, so that they too hold none of the test's streams.
"$wine" cmd /c exit < /dev/null > /dev/null 2>&1 || true
dirs=("$qt/bin" /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
WINEPATH="$(for d in "${dirs[@]}"; do printf 'Z:%s;' "${d//\//\\}"; done)"
export WINEPATH
# A Qt test without a console writes its log to the debugger: it is asked
# for a file instead, shown when the test ends.
if [ -n "${WINE_RUN_TEST_LOG:-}" ]; then
  rm -f "$WINE_RUN_TEST_LOG"
  status=0
  "$wine" "$program" -o "$WINE_RUN_TEST_LOG,txt" "$@" || status=$?
  cat "$WINE_RUN_TEST_LOG" 2> /dev/null | tr -d '\r'
  exit "$status"
fi
exec "$wine" "$program" "$@"
