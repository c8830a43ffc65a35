#!/bin/bash
# Run by tools/check-package.sh inside a clean Debian 12 root, in three steps:
#   in-clean-root.sh portable   installs only the packages the portable
#                               archive's README names, unpacks it, runs ./ovfw
#   in-clean-root.sh install    installs the Debian package with apt-get
#   in-clean-root.sh check      uses what the package installed, as a person would
# Its folder holds the package, the archive, an upgrade file with the image
# srec_cat made of it, and the packaging checks.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
export DEBIAN_FRONTEND=noninteractive
step() { echo; echo "--- in the clean root: $*"; }

case "$1" in
portable)
  archive="$(ls "$here"/ovfw-upgrade-*-portable.tar.gz)"
  mkdir -p /opt/portable
  tar -C /opt/portable -xzf "$archive"
  folder="$(ls -d /opt/portable/ovfw-upgrade-*-portable)"
  # The packages exactly as the README names them.
  packages="$(sed -n 's/^ *sudo apt install //p' "$folder/README.txt")"
  step "apt-get install $packages (what the portable README names)"
  # shellcheck disable=SC2086
  apt-get install -y -q $packages > /tmp/portable-apt.log || { cat /tmp/portable-apt.log; exit 1; }
  grep -E '^(Need to get|[0-9]+ upgraded)' /tmp/portable-apt.log || true
  for p in ovfw ovfw_upgrade ov_meter_emulator; do
    missing="$(ldd "$folder/$p" | grep 'not found' || true)"
    [ -z "$missing" ] || { echo "$p lacks libraries:"; echo "$missing"; exit 1; }
  done
  step "./ovfw --help in $folder"
  (cd "$folder" && ./ovfw --help)
  ;;

install)
  deb="$(ls "$here"/ovfw-upgrade_*_amd64.deb)"
  step "apt-get install $deb"
  start=$SECONDS
  apt-get install -y -q "$deb" > /tmp/deb-apt.log || { cat /tmp/deb-apt.log; exit 1; }
  grep -E '^(Setting up ovfw-upgrade|Need to get|[0-9]+ upgraded)' /tmp/deb-apt.log || true
  echo "installed in $((SECONDS - start)) s"
  ;;

check)
  export HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  version="$(dpkg-query -W -f '${Version}' ovfw-upgrade)"
  step "ovfw --help"
  ovfw --help
  step "ovfw --version"
  ovfw --version
  [ "$(ovfw --version)" = "ovfw $version" ] || { echo "ovfw --version is not the package's $version"; exit 1; }
  [ "$(ov_meter_emulator --version)" = "ov_meter_emulator $version" ] \
    || { echo "ov_meter_emulator --version is not the package's $version"; exit 1; }

  step "man -P cat ovfw | head"
  man -P cat ovfw | head
  for page in ovfw ovfw-upgrade ov_meter_emulator; do
    [ -n "$(man -P cat "$page" 2> /dev/null)" ] || { echo "man $page shows nothing"; exit 1; }
  done
  sh "$here/check-manpage.sh" "$(command -v ovfw)" ovfw

  step "complete -p ovfw (bash-completion loading it on first use)"
  bash -lic '_completion_loader ovfw; complete -p ovfw' 2> /dev/null
  bash "$here/check-completion.sh" "$(command -v ovfw)"

  step "the udev rule"
  rule=/lib/udev/rules.d/70-ovfw-upgrade.rules
  dpkg -L ovfw-upgrade | grep -qx "$rule" || { echo "the package does not install $rule"; exit 1; }
  ls -l "$rule"
  cat "$rule"
  sh "$here/check-udev-rule.sh" "$rule"

  step "the station's example service unit and profile, ovfw's output reference"
  unit=/usr/share/doc/ovfw-upgrade/examples/ovfw-station.service
  for doc in "$unit" /usr/share/doc/ovfw-upgrade/station-profile.toml /usr/share/doc/ovfw-upgrade/cli-output.md; do
    dpkg -L ovfw-upgrade | grep -qx "$doc" || { echo "the package does not install $doc"; exit 1; }
  done
  grep -qx 'ExecStart=/usr/bin/ovfw station .* --yes .*' "$unit" \
    || { echo "$unit does not start ovfw station with --yes"; exit 1; }

  step "ovfw upgrade to the packaged emulator"
  work="$(mktemp -d)"
  ov_meter_emulator --no-pacing --image "$work/image.bin" > "$work/device" &
  meter=$!
  for _ in $(seq 50); do [ -s "$work/device" ] && break; sleep 0.1; done
  device="$(head -n 1 "$work/device")"
  [ -n "$device" ] || { echo "the emulator did not start"; exit 1; }
  status=0
  OVFW_PORTS="1=$device" ovfw upgrade "$here/OV3A_FW0211.OVH" --port 1 --yes || status=$?
  kill "$meter" 2> /dev/null || true
  wait "$meter" 2> /dev/null || true
  [ $status -eq 0 ] || { echo "ovfw upgrade exited with $status"; exit 1; }
  cmp "$work/image.bin" "$here/expected.bin" || { echo "the meter's image differs from srec_cat's"; exit 1; }
  echo "the meter's image is srec_cat's, byte for byte ($(stat -c %s "$work/image.bin") bytes)"

  step "the window, offscreen, until SIGTERM"
  QT_QPA_PLATFORM=offscreen ovfw-upgrade > "$work/window.log" 2>&1 &
  window=$!
  sleep 3
  kill -0 "$window" 2> /dev/null || { echo "the window ended by itself:"; cat "$work/window.log"; exit 1; }
  kill -TERM "$window"
  status=0
  wait "$window" || status=$?
  [ $status -eq 0 ] || { echo "the window exited with $status after SIGTERM:"; cat "$work/window.log"; exit 1; }
  echo "the window ran and exited 0 on SIGTERM"
  ;;
*)
  echo "usage: in-clean-root.sh portable|install|check" >&2
  exit 2
  ;;
esac
