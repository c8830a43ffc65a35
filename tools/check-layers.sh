#!/usr/bin/env bash
# Checks that the house stands the right way up: nothing in the core (base/,
# link/, upgrade/, usb/) includes a face (app/, windows/, cli/) or a widget or
# GUI header, and the programs built on the core alone load neither Qt Widgets
# nor Qt Gui. Usage: check-layers.sh SOURCE_DIR [BINARY ...]
set -uo pipefail
src="$1"; shift
status=0

core_dirs=(base link upgrade usb)
if hits=$(cd "$src" && grep -nE '#include[[:space:]]*[<"](app|windows|cli)/|#include[[:space:]]*<Qt(Widgets|Gui)|#include[[:space:]]*<Q(Widget|Application|MainWindow|MessageBox|FileDialog|Label|PushButton)>' \
            -r "${core_dirs[@]}"); then
  echo "core includes a face or a widget header:"; echo "$hits"; status=1
fi

for bin in "$@"; do
  if ldd "$bin" | grep -E 'libQt6(Widgets|Gui)'; then
    echo "$bin loads Qt Widgets or Qt Gui"; status=1
  fi
done

[ $status -eq 0 ] && echo "layers: the core is widget-free (${core_dirs[*]}; $# programs checked)"
exit $status
