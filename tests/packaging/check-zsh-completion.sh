#!/bin/bash
# Checks ovfw's zsh completion against the program, as check-completion.sh
# checks the bash one: it offers every command `ovfw --help` lists (each
# first word once; "history push" as "push" after "history"), and for each
# command every option its --help lists and no other's. zsh's completion
# functions are stood in for by ones that print what they were given.
#   check-zsh-completion.sh OVFW COMPLETION_FILE
set -u
# shellcheck source-path=SCRIPTDIR source=ovfw-commands.sh
. "$(dirname "$0")/ovfw-commands.sh"
ovfw="$(realpath "$1")"
completion="$2"
fail=0
bad() { echo "check-zsh-completion: $*" >&2; fail=1; }
command -v zsh > /dev/null || { bad "zsh is not installed"; exit 1; }

# What completing LINE (up to its end) offers: "offer WORD" for each word a
# list offers, "option NAME" for each option _arguments is given.
offers() {
  zsh -f -c '
    _call_program() { shift; "$@"; }
    _describe() { local -a list; list=("${(@P)${@[-1]}}"); printf "offer %s\n" "${list[@]}"; }
    _arguments() { local d; for d in "$@"; do [[ $d == \** ]] && print -r -- "option ${${d#\*}%%=*}"; done; }
    _files() { :; }
    eval "_ovfw() { $(< "$1") }"
    words=(${(z)2}); [[ $2 == *" " ]] && words+=("")
    CURRENT=$#words
    _ovfw' zsh "$completion" "$1"
}

commands="$(ovfw_commands "$ovfw")"
got="$(offers "$ovfw ")"
while read -r first; do
  grep -qxF "offer $first" <<< "$got" || bad "\"ovfw \" does not offer $first"
done < <(awk '{ print $1 }' <<< "$commands" | sort -u)
twice="$(sort <<< "$got" | uniq -d)"
[ -z "$twice" ] || bad "\"ovfw \" offers more than once: $twice"
while read -r first second; do
  if [ -n "$second" ]; then
    grep -qxF "offer $second" <<< "$(offers "$ovfw $first ")" || bad "\"ovfw $first \" does not offer $second"
  fi
  # shellcheck disable=SC2086  # the command's words, one argument each
  want="$(ovfw_options "$ovfw" $first $second | sort -u)"
  have="$(offers "$ovfw $first $second --" | sed -n 's/^option //p' | sort -u)"
  [ "$want" = "$have" ] || bad "\"ovfw $first $second --\" offers $(tr '\n' ' ' <<< "$have")instead of $(tr '\n' ' ' <<< "$want")"
done <<< "$commands"
[ $fail = 0 ] && echo "check-zsh-completion: ovfw's zsh completion offers every command and option of $ovfw"
exit $fail
