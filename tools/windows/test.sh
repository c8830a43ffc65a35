#!/usr/bin/env bash
# Cross-builds the Windows zip and the core's tests for Windows
# (tools/windows/build.sh), runs those tests under Wine, then unzips the zip
# into a fresh folder as a user would and runs its programs under Wine
# against the meter emulator of the native build
# (tests/windows/check-windows.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
zip="$("$root/tools/windows/build.sh" windows_tests | tail -n 1)"
(cd "$root/build-windows" && ctest --output-on-failure)
emulator="$root/build/tools/meter_emulator/ov_meter_emulator"
[ -x "$emulator" ] || "$root/tools/build.sh" > /dev/null
unpacked="$(mktemp -d)"
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && unzip -q "$zip")
"$root/tests/windows/check-windows.sh" "$unpacked/$(basename "$zip" .zip)" "$emulator"
