#!/usr/bin/env bash
# Installs what is missing, builds, starts the meter emulator on a
# pseudo-terminal as port 3, and starts the tool against it. Extra arguments go
# to the emulator (see build/tools/meter_emulator/ov_meter_emulator --help).
#
# Each run gets its own folder under ${XDG_STATE_HOME:-~/.local/state}/ovfw-demo/
# that is kept afterwards: the emulator's wire log, the image the emulated meter
# received, and a sample upgrade file, in the folder the tool's Open dialog
# starts in.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no desktop session (DISPLAY is not set); run it from a graphical desktop," \
    "or without one as: xvfb-run -a ./tools/demo.sh" >&2
  exit 1
fi

"$root/tools/build.sh"

state="${XDG_STATE_HOME:-$HOME/.local/state}/ovfw-demo"
mkdir -p "$state"
work="$(mktemp -d "$state/$(date +%Y%m%d-%H%M%S)-XXXX")"
echo "Demo folder (kept): $work"
echo "Wire log: $work/wire.log"

# A sample upgrade file for the emulated meter: its default identity
# V,OV3A01234,... makes the model code 3A. 32 KiB of random bytes as Intel HEX,
# 16 bytes a record, CR LF line ends.
upgrade="$work/OV3A_FW0211.OVH"
head -c 32768 /dev/urandom | srec_cat - -binary -o - -intel -line-length=43 \
  | sed 's/\r*$/\r/' > "$upgrade"

meter=""
finish() {
  if [ -n "$meter" ]; then
    kill "$meter" 2>/dev/null || true
    wait "$meter" 2>/dev/null || true
  fi
  echo "Demo folder kept: $work (wire log: $work/wire.log)"
}
trap finish EXIT
"$root/build/tools/meter_emulator/ov_meter_emulator" --chatter \
  --image "$work/meter-image.bin" --log "$work/wire.log" "$@" > "$work/device" &
meter=$!
for _ in $(seq 50); do [ -s "$work/device" ] && break; sleep 0.1; done
device="$(head -n 1 "$work/device")"
[ -n "$device" ] || { echo "demo: the meter emulator did not start" >&2; exit 1; }
echo "Meter emulator on $device, shown by the tool as Comm3:"
echo "To upgrade, pick $(basename "$upgrade") in the tool's Open dialog."
cd "$work"
OVFW_PORTS="3=$device" "$root/build/ovfw_upgrade"
