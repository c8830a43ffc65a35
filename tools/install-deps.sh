#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the demo and the tests
# need and this machine lacks. Safe to run again: it installs nothing twice.
# With --analysis also what the sanitizer build, the fuzzers and the static
# analyzers need (clang, clang-tidy, cppcheck); with --package also what
# tools/check-package.sh needs (lintian, mmdebstrap and Debian's keyring).
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-serialport-dev libgl-dev
  libftdi1-dev libusb-1.0-0-dev libtomlplusplus-dev
  fonts-dejavu-core fonts-liberation2
  libqt6sql6-sqlite
  srecord socat xvfb xauth poppler-utils time
  help2man man-db bash-completion
  dbus-daemon
)
case "${1:-}" in
  --analysis) packages+=(clang clang-tidy cppcheck libclang-rt-dev) ;;
  --package) packages+=(lintian mmdebstrap debian-archive-keyring) ;;
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
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
