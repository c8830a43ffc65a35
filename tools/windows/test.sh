#!/usr/bin/env bash
# Cross-builds the Windows zip and the core's tests for Windows
# (tools/windows/build.sh), runs those tests under Wine, then unzips the zip
# into a fresh folder as a user would and runs its programs under Wine
# against the meter emulator of the native build: ovfw.exe
# (tests/windows/check-windows.sh), and the window on a virtual X display,
# driven as a person would (tests/windows/check-window.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
zip="$("$root/tools/windows/build.sh" windows_tests | tail -n 1)"
(cd "$root/build-windows" && ctest --output-on-failure)
emulator="$root/build/tools/meter_emulator/ov_meter_emulator"
[ -x "$emulator" ] || "$root/tools/build.sh" > /dev/null
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && unzip -q "$zip")
programs="$unpacked/$(basename "$zip" .zip)"
status=0
"$root/tests/windows/check-windows.sh" "$programs" "$emulator" || status=1
"$root/tests/windows/check-window.sh" "$programs" "$emulator" || status=1
exit "$status"
