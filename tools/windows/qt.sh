#!/usr/bin/env bash
# Builds Qt for Windows (x86-64, mingw-w64 with POSIX threads) from Debian's
# own source of qt6-base, with only what the tool needs: Core, Gui, Widgets,
# Sql with the bundled SQLite, Network, Test, and the Windows platform and
# style plugins. Host tools come from Debian's Qt. Debian leaves Qt's bundled
# SQLite out of its source, so the amalgamation is made from Debian's sqlite3
# source. Safe to run again: a finished prefix is left as it is.
#   build-qt.sh [PREFIX]     (default: ~/.cache/ovfw-qt-mingw/6.4.2)
# Takes about half an hour on two cores.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
prefix="${1:-$HOME/.cache/ovfw-qt-mingw/6.4.2}"
work="$(dirname "$prefix")/work"
[ -f "$prefix/.ovfw-built" ] && { echo "build-qt: $prefix is built already"; exit 0; }
"$root/tools/install-deps.sh" --windows
mkdir -p "$work"
cd "$work"

# Debian's sources, through a list of our own: the machine's lists carry
# binary packages only.
apt_src=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
         -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
echo "deb-src http://deb.debian.org/debian bookworm main" > "$work/sources.list"
apt-get "${apt_src[@]}" update -qq
[ -d "$work/qtbase" ] || {
  apt-get "${apt_src[@]}" source --download-only qt6-base sqlite3 > /dev/null
  dpkg-source -x qt6-base_*.dsc qtbase > /dev/null
  dpkg-source -x sqlite3_*.dsc sqlite > /dev/null
}
if [ ! -f "$work/qtbase/src/3rdparty/sqlite/sqlite3.c" ]; then
  (cd "$work/sqlite" && ./configure > /dev/null && make sqlite3.c > /dev/null)
  mkdir -p "$work/qtbase/src/3rdparty/sqlite"
  cp "$work/sqlite/sqlite3.c" "$work/sqlite/sqlite3.h" "$work/qtbase/src/3rdparty/sqlite/"
fi

cat > "$work/mingw-w64.cmake" <<'TOOLCHAIN'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TOOLCHAIN

# OpenGL stays on: 6.4.2's Windows platform plugin does not build without it
# (it is then loaded dynamically, with nothing more to install). Debian's
# source lacks wintab, so tablet events are off.
# Built where it is installed: Qt is then used from its build folder, and only
# the targets below need building.
cmake -S "$work/qtbase" -B "$prefix" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DBUILD_SHARED_LIBS=ON -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF \
  -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_sql_psql=OFF -DFEATURE_sql_odbc=OFF -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=OFF \
  -DFEATURE_openssl=OFF -DINPUT_openssl=no -DFEATURE_tabletevent=OFF -DFEATURE_opengl=ON > "$work/configure.log"
nice cmake --build "$prefix" --parallel "$(nproc)" --target \
  Core Gui Widgets Sql Test Network QWindowsIntegrationPlugin QSQLiteDriverPlugin QWindowsVistaStylePlugin
touch "$prefix/.ovfw-built"
echo "build-qt: Qt for Windows in $prefix"
