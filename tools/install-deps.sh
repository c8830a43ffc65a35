#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the demo and the tests
# need and this machine lacks. Safe to run again: it installs nothing twice.
# With --analysis also what the sanitizer build, the fuzzers and the static
# analyzers need (clang, clang-tidy, cppcheck); with --package also what
# tools/check-package.sh needs (lintian, mmdebstrap and Debian's keyring);
# with --windows what building Qt for Windows needs (tools/windows/qt.sh).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  libftdi1-dev libusb-1.0-0-dev libtomlplusplus-dev
  fonts-dejavu-core fonts-liberation2
  libqt6sql6-sqlite libqt6sql6-psql libpq-dev postgresql-15
  srecord socat xvfb xauth poppler-utils time
  help2man man-db bash-completion zsh
  g++-mingw-w64-x86-64-posix wine64
  dbus-daemon gdb
)
case "${1:-}" in
  --analysis) packages+=(clang clang-tidy cppcheck libclang-rt-dev) ;;
  --package) packages+=(lintian mmdebstrap debian-archive-keyring) ;;
  --windows) packages+=(ninja-build tcl dpkg-dev zip unzip xdotool) ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# The tests start PostgreSQL servers of their own; no system server is
# wanted on port 5432, so none is made when the server is installed.
conf=/etc/postgresql-common/createcluster.conf
if [ ! -e "$conf" ] || ! grep -q '^create_main_cluster *= *false' "$conf"; then
  "${sudo_cmd[@]}" mkdir -p "$(dirname "$conf")"
  echo 'create_main_cluster = false' | "${sudo_cmd[@]}" tee -a "$conf" >/dev/null
fi
"${sudo_cmd[@]}" apt-get update -qq
# The line above is kept when postgresql-common installs its own copy.
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive UCF_FORCE_CONFFOLD=1 apt-get install -y -qq --no-install-recommends \
  -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
