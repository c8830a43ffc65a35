#!/usr/bin/env bash
# Installs what is missing, builds, starts the meter emulator on a
# pseudo-terminal as port 3, and starts the tool against it. Extra arguments go
# to the emulator (see build/tools/meter_emulator/ov_meter_emulator --help).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/build.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no desktop session (DISPLAY is not set); run it from a graphical desktop." >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'kill "$meter" 2>/dev/null || true; rm -rf "$work"' EXIT
"$root/build/tools/meter_emulator/ov_meter_emulator" --chatter \
  --image "$work/meter-image.bin" --log "$work/wire.log" "$@" > "$work/device" &
meter=$!
for _ in $(seq 50); do [ -s "$work/device" ] && break; sleep 0.1; done
device="$(head -n 1 "$work/device")"
[ -n "$device" ] || { echo "demo: the meter emulator did not start" >&2; exit 1; }
echo "Meter emulator on $device, shown by the tool as Comm3:"
OVFW_PORTS="3=$device" "$root/build/ovfw_upgrade"
