#!/usr/bin/env bash
# Checks that the house stands the right way up: nothing in the core (base/, history/,
# records/, link/, upgrade/, usb/, power/, station/) includes a face (app/, windows/,
# cli/) or a widget or GUI header, and the programs built on the core alone load
# neither Qt Widgets nor Qt Gui. The records server's client (records/) stands on the
# history, never the other way round, and the window neither includes it nor loads
# libpq: only ovfw talks to the records server. Also that each layer speaks with one
# voice: only link/ reads from or writes to a port, box texts live in base/Questions.h
# alone (a face holding one would be reading a question's wording), and the command
# line never sees a question's wording at all. The history knows attempts as
# rows, never the upgrade (upgrade/ records into it).
# Usage: check-layers.sh SOURCE_DIR [--window PROGRAM] [--window-links FILE] [BINARY ...]
#   --window PROGRAM     the window's program, whose libraries ldd lists
#   --window-links FILE  the libraries the build links into it, one a line
#                        (the targets and libraries CMake was given, followed
#                        through the project's own libraries)
set -uo pipefail
src="$1"; shift
window= window_links=
while [ $# -ge 2 ]; do
  case "$1" in
    --window) window="$2"; shift 2 ;;
    --window-links) window_links="$2"; shift 2 ;;
    *) break ;;
  esac
done
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

# The history keeps attempts as rows: what an upgrade is, and how it is
# recorded, stand above it (upgrade/).
if hits=$(cd "$src" && grep -nE '#include[[:space:]]*"upgrade/' -r history); then
  echo "the history includes the upgrade:"; echo "$hits"; status=1
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

# The window never takes in the records server's client, which a Windows
# build cannot have: the build does not link it (nor libpq) into the window's
# program, even where the linker would drop a library nothing calls, and the
# program as built loads no libpq, directly or through any library it needs.
window_note=
if [ -n "$window_links" ]; then
  if [ ! -s "$window_links" ]; then
    echo "no list of the window's libraries in $window_links"; status=1
  elif hits=$(grep -nE 'ovfw_records|LIBPQ|(^|[/[:space:]])libpq\b|(^|[[:space:]])-lpq\b' "$window_links"); then
    echo "the window's program is linked with the records server's client or libpq ($window_links):"
    echo "$hits"; status=1
  fi
  window_note+=", the window is linked without records/ and libpq"
fi
if [ -n "$window" ]; then
  if ! libs=$(ldd "$window"); then
    echo "cannot list the libraries of the window's program $window"; status=1
  elif hits=$(grep -E '(^|[[:space:]/])libpq\.' <<<"$libs"); then
    echo "the window's program $window loads libpq:"; echo "$hits"; status=1
  fi
  window_note+=", the window loads no libpq"
fi

[ $status -eq 0 ] && echo "layers: the core is widget-free (${core_dirs[*]}; $# programs checked)," \
  "base/ includes no layer above it, history/ includes nothing of upgrade/, history/ and the window include nothing of records/${window_note}," \
  "only link/ touches a port, ${#box_texts[@]} box texts in one header"
exit $status
