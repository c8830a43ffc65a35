#!/bin/bash
# Runs serial_line_check against a meter emulator of its own: natively on
# the emulator's pseudo-terminal, or with WINE under Wine on COM1, linked to
# it in a private Wine prefix. Ends the emulator when the check waits for
# the line to go.
#   check-serial-line.sh EMULATOR CHECK [WINE]
set -u
emulator="$1" check="$2" wine="${3:-}"
work="$(mktemp -d)"
coproc EMU { exec "$emulator"; }  # paced at 9600 baud, as a meter
emulator_pid=$EMU_PID
# shellcheck disable=SC2317  # run by the trap
cleanup() {
  kill "$emulator_pid" 2> /dev/null
  [ -n "$wine" ] && WINEPREFIX="$work/prefix" "$(dirname "$wine")/wineserver" -k 2> /dev/null
  rm -rf "$work"
}
trap cleanup EXIT
read -r device <&"${EMU[0]}"
[ -n "$device" ] || { echo "check-serial-line: the emulator gave no device" >&2; exit 1; }
run=("$check" "$device")
if [ -n "$wine" ]; then
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all
  # A prefix of its own, and its server kept up: the first program a new
  # server starts may lose its output.
  "$wine" wineboot -i > /dev/null 2>&1
  "$(dirname "$wine")/wineserver" -p 2> /dev/null
  "$wine" cmd /c exit > /dev/null 2>&1
  ln -sfn "$device" "$WINEPREFIX/dosdevices/com1"
  run=("$wine" "$check" COM1)
fi
said=""
while IFS= read -r line; do
  line="${line%$'\r'}"
  echo "$line"
  said+="$line"$'\n'
  [ "$line" = "waiting for the line to go" ] && kill "$emulator_pid"
done < <(timeout 120 "${run[@]}")
wait $! 2> /dev/null
grep -q '^FAIL' <<< "$said" && exit 1
grep -q '^ok: a hung-up line is lost' <<< "$said" || { echo "check-serial-line: the check did not finish" >&2; exit 1; }
exit 0
