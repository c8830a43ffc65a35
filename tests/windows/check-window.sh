#!/bin/bash
# The window as a user meets it: ovfw_upgrade.exe from the unzipped folder,
# started through Wine on a virtual X display, with the meter emulator on
# COM1 and no other COM port. Connect finds the meter; Upgrade, the file's
# path typed into the Open dialog, and OK to the warning run a whole upgrade,
# and the image the meter took is byte for byte what srec_cat reads in the
# file. The clicks and keys go through xdotool, as a person's would.
#   check-window.sh PROGRAM_FOLDER EMULATOR [SCREENSHOT.xwd]
# With a third argument, the screen is saved (as xwd of x11-apps writes it)
# once the meter is connected. KEEP_WORK=1 keeps the scratch folder (the
# wire's log, the image, the Wine prefix) for a look afterwards.
set -u -o pipefail
programs="$1" emulator="$2" shot="${3:-}"
wine="${WINE:-/usr/lib/wine/wine64}"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
pids=()
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  "$(dirname "$wine")/wineserver" -k 2> /dev/null
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
# On a failure, the titles of the windows then showing, and the screen
# (as xwd writes it) where CHECK_WINDOW_FAILED_SHOT names a file.
fail() {
  echo "FAIL: $*"
  echo "windows showing:"
  for id in $(xdotool search --onlyvisible --name "." 2> /dev/null); do
    echo "  $(xdotool getwindowname "$id" 2> /dev/null)"
  done
  echo "the wire's last words:"
  tail -n 6 "$work/wire.log" 2> /dev/null | sed 's/^/  /'
  echo "the window's own output:"
  tail -n 10 "$work/window.log" 2> /dev/null | sed 's/^/  /'
  [ -n "${CHECK_WINDOW_FAILED_SHOT:-}" ] && xwd -root -silent -out "$CHECK_WINDOW_FAILED_SHOT"  # x11-apps
  exit 1
}
pass() { echo "ok: $*"; }

# Seconds the window is given for each step; an upgrade of 8 KiB at 9600 baud
# takes about 25 s.
readonly kStepSeconds=60

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$work/display" 2> /dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY

"$wine" wineboot -i > /dev/null 2>&1
"$(dirname "$wine")/wineserver" -p 2> /dev/null
"$wine" cmd /c exit > /dev/null 2>&1
# Only COM1, the emulated meter: the search then needs no other port's time.
rm -f "$WINEPREFIX"/dosdevices/com*
"$emulator" --image "$work/image.bin" --log "$work/wire.log" > "$work/device" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/device" ] && break; sleep 0.1; done
[ -s "$work/device" ] || fail "the emulator gave no device"
ln -s "$(head -n 1 "$work/device")" "$WINEPREFIX/dosdevices/com1"

head -c 8192 /dev/urandom > "$work/firmware.bin"
srec_cat "$work/firmware.bin" -binary -o "$work/OV3A_FW0211.OVH" -intel -line-length=44
srec_cat "$work/OV3A_FW0211.OVH" -intel -o "$work/expected.bin" -binary
windowsPath="Z:${work//\//\\}\\OV3A_FW0211.OVH"

(cd "$work" && exec "$wine" "$programs/ovfw_upgrade.exe") > "$work/window.log" 2>&1 &
pids+=($!)

# await TITLE: the id of the visible window whose whole title is TITLE.
await() {
  timeout "$kStepSeconds" xdotool search --sync --onlyvisible --name "^$1\$" 2> /dev/null | head -n 1
}
# click WINDOW X Y: the left button at a point of the window.
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# focus TITLE: the input focus to the visible window of that whole title, as
# a click on it would (there is no window manager to give it); keys go where
# the focus is.
focus() {
  local id
  id="$(xdotool search --onlyvisible --name "^$1\$" 2> /dev/null | tail -n 1)"
  [ -n "$id" ] && timeout 5 xdotool windowfocus --sync "$id" 2> /dev/null
}
# Points of the main window, in pixels from its client area's corner: the
# buttons as the form places them (in twips, 15 to a pixel), under the menu bar.
readonly kMenuBarPixels=20
readonly connectAt=(152 $((60 + kMenuBarPixels)))
readonly upgradeAt=(152 $((28 + kMenuBarPixels)))

main="$(await "orvane  Firmware Upgrade")"
[ -n "$main" ] || fail "the window did not appear: $(cat "$work/window.log")"
pass "the window is up"

click "$main" "${connectAt[@]}"
# Connected: the search found the meter, and Upgrade is enabled. The wire
# shows it: the meter, which speaks only when asked, answered.
for _ in $(seq $((kStepSeconds * 10))); do
  grep -q " tx " "$work/wire.log" 2> /dev/null && break
  sleep 0.1
done
sleep 1
[ -n "$shot" ] && xwd -root -silent -out "$shot"

click "$main" "${upgradeAt[@]}"
dialog="$(await "Select Upgrade File")"
[ -n "$dialog" ] || fail "Upgrade opened no file dialog: was the meter connected?"
pass "connected; Upgrade asks for the file"
sleep 0.5
focus "Select Upgrade File"
xdotool type --delay 10 "$windowsPath"
xdotool key Return

# The warning's default is Cancel: OK is one step back from it. Keys go where
# the focus is; should they be lost all the same, the box stays up with the
# meter untouched. Then they are pressed again, as a person would, but only
# while the warning is up: once it has closed, a key would land on the main
# window.
warningUp() { [ -n "$(xdotool search --onlyvisible --name "^Firmware Upgrade\$" 2> /dev/null)" ]; }
# The window says nothing to the meter while it waits for the user.
wireLines() { wc -l < "$work/wire.log"; }
await "Firmware Upgrade" > /dev/null || true
warningUp || fail "no warning before the upgrade"
quiet="$(wireLines)"
for _ in 1 2 3; do
  sleep 0.5
  focus "Firmware Upgrade"
  xdotool key shift+Tab Return
  for _ in $(seq 50); do
    [ "$(wireLines)" -gt "$quiet" ] && break 2
    sleep 0.1
  done
  warningUp || fail "the warning closed, and the window did not speak to the meter"
done
[ "$(wireLines)" -gt "$quiet" ] || fail "OK to the warning started no upgrade"
# The meter keeps the image once it has acknowledged the end-of-file record;
# the outcome's box, under the warning's title, follows.
for _ in $(seq $((kStepSeconds * 10))); do
  [ -e "$work/image.bin" ] && warningUp && break
  sleep 0.1
done
[ -e "$work/image.bin" ] || fail "the meter took no whole image within $kStepSeconds s"
warningUp || fail "the upgrade gave no outcome"
cmp -s "$work/image.bin" "$work/expected.bin" || fail "the image the meter took differs from srec_cat's"
pass "a whole upgrade from the window; the image is exact"
xdotool key Return
