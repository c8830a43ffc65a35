#!/usr/bin/env bash
# Checks that the house stands the right way up: nothing in the core (base/, history/,
# records/, link/, upgrade/, usb/, power/, station/) includes a face (app/, windows/,
# cli/) or a widget or GUI header, and the programs built on the core alone load
# neither Qt Widgets nor Qt Gui. The records server's client (records/) stands on the
# history, never the other way round, and the window does not include it: only ovfw
# talks to the records server. Also that each layer speaks with one voice: only link/
# reads from or writes to a port, box texts live in base/Questions.h alone (a face
# holding one would be reading a question's wording), and the command line never
# sees a question's wording at all.
# Usage: check-layers.sh SOURCE_DIR [BINARY ...]
set -uo pipefail
src="$1"; shift
status=0

core_dirs=(base link upgrade usb history records power station)
if hits=$(cd "$src" && grep -nE '#include[[:space:]]*[<"](app|windows|cli)/|#include[[:space:]]*<Qt(Widgets|Gui)|#include[[:space:]]*<Q(Widget|Application|MainWindow|MessageBox|FileDialog|Label|PushButton)>' \
            -r "${core_dirs[@]}"); then
  echo "core includes a face or a widget header:"; echo "$hits"; status=1
fi

# base/ is the lowest layer: it includes nothing of the layers above it.
if hits=$(cd "$src" && grep -nE '#include[[:space:]]*"(link|upgrade|usb|history|records|power|app|windows|cli)/' -r base); then
  echo "base/ includes a layer above it:"; echo "$hits"; status=1
fi

# The records server's client stands on the history: the history, and the
# window, include nothing of it.
if hits=$(cd "$src" && grep -nE '#include[[:space:]]*"records/' -r history app windows); then
  echo "the history or the window includes the records server's client:"; echo "$hits"; status=1
fi

faces=(app windows cli)
outside_link=(base upgrade usb history records power station "${faces[@]}")
if hits=$(cd "$src" && grep -nE '(\.|->)(output|input|inBufferCount|waitForInput)\(|\bQSerialPort\b' \
            -r "${outside_link[@]}"); then
  echo "a port is read or written outside link/:"; echo "$hits"; status=1
fi

# The beginning of every box text (not the titles) in the one header.
mapfile -t box_texts < <(grep -v 'inline const QString k' "$src/base/Questions.h" \
  | grep -oE 'QStringLiteral\("[^"]{6,}' | sed 's/^QStringLiteral("//' | cut -c1-16 | sort -u)
for text in "${box_texts[@]}"; do
  if hits=$(cd "$src" && grep -rnF -- "$text" "${faces[@]}"); then
    echo "a face holds the box text \"$text\":"; echo "$hits"; status=1
  fi
done
if hits=$(cd "$src" && grep -rnw 'Question' cli); then
  echo "the command line handles a question's wording (it answers by kind):"; echo "$hits"; status=1
fi

for bin in "$@"; do
  if ldd "$bin" | grep -E 'libQt6(Widgets|Gui)'; then
    echo "$bin loads Qt Widgets or Qt Gui"; status=1
  fi
done

[ $status -eq 0 ] && echo "layers: the core is widget-free (${core_dirs[*]}; $# programs checked)," \
  "base/ includes no layer above it, history/ and the window include nothing of records/," \
  "only link/ touches a port, ${#box_texts[@]} box texts in one header"
exit $status
