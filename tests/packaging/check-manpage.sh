#!/bin/sh
# Checks that ovfw's manual page shows every command `ovfw --help` lists,
# under its own heading, and every option that `ovfw COMMAND --help` lists
# under that command's heading, with the version `ovfw --version` prints.
#   check-manpage.sh OVFW PAGE    (PAGE: a file, or a name to look up: ovfw)
set -eu
ovfw="$1"
page="$2"
case "$page" in
  */*) text="$(MANWIDTH=250 man -P cat -l "$page" 2> /dev/null)" ;;
  *) text="$(MANWIDTH=250 man -P cat "$page" 2> /dev/null)" ;;
esac
[ -n "$text" ] || { echo "check-manpage: man shows nothing for $page" >&2; exit 1; }
fail=0
bad() { echo "check-manpage: $*" >&2; fail=1; }

version="$("$ovfw" --version)"
printf '%s\n' "$text" | grep -qF "$version" || bad "the page does not name \"$version\""

commands="$("$ovfw" --help | awk '/^Commands:/ { f = 1; next } f && /^[^ ]/ { exit } f && NF { print $1 }')"
[ -n "$commands" ] || bad "ovfw --help lists no commands"
for c in $commands; do
  # The command's part of the page: from its heading to the next heading.
  part="$(printf '%s\n' "$text" | awk -v c="$c" '
    /^   [^ ]/ || /^[^ ]/ { f = ($0 ~ "^   ovfw " c "( |$)") }
    f')"
  [ -n "$part" ] || { bad "no section for \"ovfw $c\""; continue; }
  # Each option's names from the command's own help, "-h, --help" as both.
  options="$("$ovfw" "$c" --help | awk '
    /^Options:/ { f = 1; next }
    /^[^ ]/ { f = 0 }
    f && /^  -/ {
      t = $0; sub(/^  /, "", t); sub(/  .*/, "", t)
      n = split(t, w, ", "); for (i = 1; i <= n; i++) { split(w[i], x, " "); print x[1] }
    }')"
  [ -n "$options" ] || bad "ovfw $c --help lists no options"
  for o in $options; do
    printf '%s\n' "$part" | grep -qE -- "^ +(-[[:alnum:]], )?$o([ ,]|\$)" \
      || bad "\"ovfw $c\": option $o is not on the page"
  done
done
[ $fail = 0 ] && echo "check-manpage: $page shows every command and option of $ovfw"
exit $fail
