#!/usr/bin/env bash
# Cross-builds the window and ovfw for 64-bit Windows with mingw-w64, and
# makes build-windows/ovfw-VERSION-win64.zip: the two programs, the Qt DLLs
# and plugins they load, the mingw runtime, the user guide PDF and
# README-Windows.txt. Unzipped anywhere, it runs.
#   build.sh [TARGET...]   builds the given targets as well (the tests that
#                          run under Wine)
# Qt for Windows comes from tools/windows/qt.sh (built once and cached), or
# from OVFW_QT_WINDOWS=PREFIX. The guide PDF comes from the native build
# (build/), made there when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
out="$root/build-windows"
qt="${OVFW_QT_WINDOWS:-$("$root/tools/windows/qt.sh" | tail -n 1)}"
[ -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ] || { echo "build.sh: no Qt for Windows in $qt" >&2; exit 1; }
"$root/tools/install-deps.sh" --windows

cmake -S "$root" -B "$out" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DOVFW_QT_WINDOWS="$qt" -DCMAKE_PREFIX_PATH="$qt" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/windows/wine-run.sh" > /dev/null
cmake --build "$out" --parallel "$(nproc)" --target ovfw ovfw_upgrade "$@"

version="$(sed -n 's/^project(ovfw_upgrade VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
name="ovfw-$version-win64"
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage"
cp "$out/ovfw_upgrade.exe" "$out/cli/ovfw.exe" "$stage/"

# Every DLL the programs and plugins load, found in Qt's folder or mingw's,
# and what those load in turn; the system's own DLLs are not shipped.
mingw_dirs=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll sqldrivers/qsqlite.dll; do
  mkdir -p "$stage/$(dirname "$plugin")"
  cp "$qt/plugins/$plugin" "$stage/$plugin"
done
imports() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
pending=("$stage"/*.exe "$stage"/*/*.dll)
while [ ${#pending[@]} -gt 0 ]; do
  file="${pending[0]}"; pending=("${pending[@]:1}")
  for dll in $(imports "$file"); do
    [ -e "$stage/$dll" ] && continue
    for dir in "$qt/bin" "${mingw_dirs[@]}"; do
      if [ -f "$dir/$dll" ]; then
        cp "$dir/$dll" "$stage/$dll"
        pending+=("$stage/$dll")
        break
      fi
    done
  done
done

guide="$root/build/Upgrade User Guide V100.pdf"
[ -f "$guide" ] || "$root/tools/build.sh" > /dev/null
cp "$guide" "$stage/"
sed "s/@VERSION@/$version/g" "$root/packaging/windows/README-Windows.txt" | sed 's/$/\r/' > "$stage/README-Windows.txt"
(cd "$out" && zip -qr "$name.zip" "$name")
echo "$out/$name.zip"
