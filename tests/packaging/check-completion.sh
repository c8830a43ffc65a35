#!/bin/bash
# Checks ovfw's bash completion against the program: it offers every command
# `ovfw --help` lists (each word once; "history push" as "push" after
# "history"), every option each `ovfw COMMAND --help` lists and no other's,
# port numbers after --port and upgrade files (*.OVH) where a command takes a
# FILE.
#   check-completion.sh OVFW [COMPLETION_FILE]
# Without COMPLETION_FILE the completion is loaded as an interactive shell
# loads it: by bash-completion, from where the package installed it.
set -u
# shellcheck source-path=SCRIPTDIR source=ovfw-commands.sh
. "$(dirname "$0")/ovfw-commands.sh"
ovfw="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/files"
ln -s "$(realpath "$ovfw")" "$work/bin/ovfw"
export PATH="$work/bin:$PATH"
fail=0
bad() { echo "check-completion: $*" >&2; fail=1; }

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
if [ -n "${2:-}" ]; then
  # shellcheck disable=SC1090
  source "$2"
else
  __load_completion ovfw
fi
registered="$(complete -p ovfw 2> /dev/null)"
function="$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<< "$registered")"
[ -n "$function" ] || { bad "no completion for ovfw (complete -p: \"$registered\")"; exit 1; }

# What completing LINE (up to its end) offers, one a line.
offers() {
  COMP_LINE="$1"
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<< "$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  "$function" ovfw "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}"
}
offered() {  # offered LINE WORD...: completing LINE offers each WORD
  local line="$1" got w
  shift
  got="$(offers "$line")"
  for w in "$@"; do
    grep -qxF -- "$w" <<< "$got" || bad "\"$line\" does not offer $w (offers: $(tr '\n' ' ' <<< "$got"))"
  done
}

commands="$(ovfw_commands ovfw)"
[ -n "$commands" ] || bad "ovfw --help lists no commands"
# shellcheck disable=SC2046
offered "ovfw " $(awk '{ print $1 }' <<< "$commands" | sort -u)
twice="$(offers "ovfw " | sort | uniq -d)"
[ -z "$twice" ] || bad "\"ovfw \" offers more than once: $twice"
cd "$work/files" || exit 1
touch OV3A_FW0211.OVH note.txt
while IFS= read -r c; do
  # shellcheck disable=SC2086  # the command's words, one argument each
  help="$(ovfw $c --help)"
  # shellcheck disable=SC2086
  options="$(ovfw_options ovfw $c)"
  [ -n "$options" ] || bad "ovfw $c --help lists no options"
  # shellcheck disable=SC2086
  offered "ovfw $c -" $options
  # No option of another command: each offered one is this command's.
  while IFS= read -r o; do
    [ -z "$o" ] || grep -qxF -- "$o" <<< "$options" || bad "\"ovfw $c -\" offers $o, not an option of ovfw $c"
  done <<< "$(offers "ovfw $c -")"
  case "$c" in
    *" "*) offered "ovfw ${c%% *} " "${c#* }" ;;
  esac
  if grep -qx -- '--port' <<< "$options"; then
    offered "ovfw $c --port " 1 16
  fi
  if head -n 1 <<< "$help" | grep -q ' FILE$'; then
    offered "ovfw $c " OV3A_FW0211.OVH
    offers "ovfw $c " | grep -qx note.txt && bad "\"ovfw $c \" offers note.txt, not an upgrade file"
  fi
done <<< "$commands"
[ $fail = 0 ] && echo "check-completion: ovfw's completion ($registered) offers every command and option of $ovfw"
exit $fail
