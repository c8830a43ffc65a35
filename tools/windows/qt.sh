#!/usr/bin/env bash
# Builds Qt for Windows (x86-64, mingw-w64 with POSIX threads) from Debian's
# own source of qt6-base, with only what the tool needs: Core, Gui, Widgets,
# Sql with the bundled SQLite, Network, Test, and the Windows platform and
# style plugins. Host tools come from Debian's Qt. Debian leaves Qt's bundled
# SQLite out of its source, so the amalgamation is made from Debian's sqlite3
# source.
#   qt.sh            builds it once into ~/.cache/ovfw/, in a folder named by
#                    the digest of its recipe (this script and the toolchain
#                    file), and prints that folder; a finished folder is reused
#   qt.sh --print    prints the folder only, built or not
# Takes about half an hour on two cores. OVFW_CACHE moves the cache.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
recipe="$(cat "$0" "$root/cmake/mingw-w64.cmake" | sha256sum | cut -c1-16)"
cache="${OVFW_CACHE:-$HOME/.cache/ovfw}"
prefix="$cache/qt-6.4.2-mingw-$recipe"
work="$cache/qt-work"
[ "${1:-}" = --print ] && { echo "$prefix"; exit 0; }
[ -f "$prefix/.ovfw-built" ] && { echo "$prefix"; exit 0; }
"$root/tools/install-deps.sh" --windows >&2
mkdir -p "$work"
cd "$work"

# Debian's sources, through a list of our own: the machine's lists carry
# binary packages only.
apt_src=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
         -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
echo "deb-src http://deb.debian.org/debian bookworm main" > "$work/sources.list"
apt-get "${apt_src[@]}" update -qq >&2
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

# OpenGL stays on: 6.4.2's Windows platform plugin does not build without it
# (it is then loaded dynamically, with nothing more to install). Debian's
# source lacks wintab, so tablet events are off.
# Built where it is installed: Qt is then used from its build folder, and only
# the targets below need building.
cmake -S "$work/qtbase" -B "$prefix" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DBUILD_SHARED_LIBS=ON -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF \
  -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_vulkan=OFF \
  -DFEATURE_sql_psql=OFF -DFEATURE_sql_odbc=OFF -DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=OFF \
  -DFEATURE_openssl=OFF -DINPUT_openssl=no -DFEATURE_tabletevent=OFF -DFEATURE_opengl=ON > "$work/configure.log"
nice cmake --build "$prefix" --parallel "$(nproc)" --target \
  Core Gui Widgets Sql Test Network EntryPointImplementation \
  QWindowsIntegrationPlugin QSQLiteDriverPlugin QWindowsVistaStylePlugin >&2
touch "$prefix/.ovfw-built"
echo "$prefix"
