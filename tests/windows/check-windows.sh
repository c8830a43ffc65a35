#!/bin/bash
# The Windows programs as a user unzips them, run under Wine against meter
# emulators on COM ports (a private Wine prefix whose COM1 to COM7 are
# linked to the emulators' pseudo-terminals): ovfw.exe identifies a meter,
# upgrades one and then four at once (each image byte for byte what
# srec_cat reads in the file), and gives the documented results for a
# refused line and a meter pulled mid-transfer.
#   check-windows.sh PROGRAM_FOLDER EMULATOR
set -u -o pipefail
programs="$1" emulator="$2"
wine="${WINE:-/usr/lib/wine/wine64}"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
pids=()
failures=0
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  "$(dirname "$wine")/wineserver" -k 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# A prefix of its own, and its server kept up: the first program a new
# server starts may lose its output.
"$wine" wineboot -i > /dev/null 2>&1
"$(dirname "$wine")/wineserver" -p 2> /dev/null
"$wine" cmd /c exit > /dev/null 2>&1

# meter N [EMULATOR OPTION...]: an emulator on COMn, its image in image-N.bin.
meter() {
  local n="$1"; shift
  rm -f "$work/image-$n.bin" "$work/device-$n"
  "$emulator" --image "$work/image-$n.bin" "$@" > "$work/device-$n" &
  pids+=($!)
  local device=""
  for _ in $(seq 100); do
    device="$(head -n 1 "$work/device-$n" 2> /dev/null)"
    [ -n "$device" ] && break
    sleep 0.1
  done
  [ -n "$device" ] || { echo "check-windows: emulator $n gave no device" >&2; exit 1; }
  ln -sfn "$device" "$WINEPREFIX/dosdevices/com$n"
}
ovfw() { (cd "$work" && timeout 300 "$wine" "$programs/ovfw.exe" "$@" 2>&1 | tr -d '\r'); }

# The upgrade file, as a firmware build makes one, and the image it describes.
head -c 8192 /dev/urandom > "$work/firmware.bin"
srec_cat "$work/firmware.bin" -binary -o "$work/OV3A_FW0211.OVH" -intel -line-length=44
srec_cat "$work/OV3A_FW0211.OVH" -intel -o "$work/expected.bin" -binary

meter 1
said="$(ovfw identify --port 1)"
grep -q "port  1: model 3A, serial OV3A01234, boot loader 1.02, firmware 2.10" <<< "$said" &&
  pass "identify on COM1" || fail "identify on COM1 said: $said"

said="$(ovfw upgrade OV3A_FW0211.OVH --port 1 --yes)"; status=$?
sleep 1
[ "$status" -eq 0 ] && cmp -s "$work/image-1.bin" "$work/expected.bin" &&
  pass "one meter upgraded, its image exact" || fail "one meter (exit $status): $said"

for n in 2 3 4 5; do meter "$n" --identity "V,OV3A0123$n,1.02,2.10"; done
said="$(ovfw upgrade OV3A_FW0211.OVH --port 2 --port 3 --port 4 --port 5 --yes)"; status=$?
sleep 1
exact=0
for n in 2 3 4 5; do cmp -s "$work/image-$n.bin" "$work/expected.bin" && exact=$((exact + 1)); done
[ "$status" -eq 0 ] && [ "$exact" -eq 4 ] &&
  pass "four meters upgraded at once, every image exact" || fail "four meters (exit $status, $exact exact): $said"

# A COM port is linked once: Wine keeps the device a name reached.
meter 6 --refuse-line 5
said="$(ovfw upgrade OV3A_FW0211.OVH --port 6 --yes)"; status=$?
[ "$status" -ne 0 ] && grep -q "line 5 refused" <<< "$said" &&
  pass "a refused line fails the meter (exit $status)" || fail "refused line (exit $status): $said"

meter 7 --hangup-after 20
said="$(ovfw upgrade OV3A_FW0211.OVH --port 7 --yes)"; status=$?
[ "$status" -ne 0 ] && grep -qi "failed" <<< "$said" &&
  pass "a pulled meter fails (exit $status)" || fail "pulled meter (exit $status): $said"

[ "$failures" -eq 0 ]
