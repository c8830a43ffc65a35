#!/bin/sh
# Checks that ovfw's manual page shows every command `ovfw --help` lists
# (two-word ones such as "history push" too), under its own heading, and
# every option that `ovfw COMMAND --help` lists under that command's
# heading, with the version `ovfw --version` prints, and its EXIT STATUS,
# ENVIRONMENT and FILES sections.
#   check-manpage.sh OVFW PAGE    (PAGE: a file, or a name to look up: ovfw)
set -eu
# shellcheck source-path=SCRIPTDIR source=ovfw-commands.sh
. "$(dirname "$0")/ovfw-commands.sh"
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

for section in "EXIT STATUS" ENVIRONMENT FILES; do
  printf '%s\n' "$text" | grep -qx "$section" || bad "no $section section"
done
for variable in OVFW_PORTS OVFW_HISTORY OVFW_HISTORY_SERVER OVFW_SYSFS NO_COLOR; do
  printf '%s\n' "$text" | grep -qx "       $variable" || bad "ENVIRONMENT does not name $variable"
done

commands="$(ovfw_commands "$ovfw")"
[ -n "$commands" ] || bad "ovfw --help lists no commands"
while IFS= read -r c; do
  # The command's part of the page: from its heading ("ovfw history push
  # [options]", not "ovfw history ...") to the next heading.
  part="$(printf '%s\n' "$text" | awk -v c="$c" '
    /^   [^ ]/ || /^[^ ]/ { f = index($0, "   ovfw " c " [options]") == 1 }
    f')"
  [ -n "$part" ] || { bad "no section for \"ovfw $c\""; continue; }
  # Each option's names from the command's own help, "-h, --help" as both.
  # shellcheck disable=SC2086  # the command's words, one argument each
  options="$(ovfw_options "$ovfw" $c)"
  [ -n "$options" ] || bad "ovfw $c --help lists no options"
  for o in $options; do
    printf '%s\n' "$part" | grep -qE -- "^ +(-[[:alnum:]], )?$o([ ,]|\$)" \
      || bad "\"ovfw $c\": option $o is not on the page"
  done
done <<EOF_COMMANDS
$commands
EOF_COMMANDS
[ $fail = 0 ] && echo "check-manpage: $page shows every command and option of $ovfw"
exit $fail
