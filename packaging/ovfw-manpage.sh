#!/bin/sh
# Writes the manual page of ovfw from the program's own help: `ovfw --help`
# for the description and one section for each command it lists, from
# `ovfw COMMAND --help`. Made at build time, so the page always shows the
# commands and options of the program it ships with.
#   ovfw-manpage.sh OVFW OUTPUT
set -eu
ovfw="$1"
out="$2"

overview="$("$ovfw" --help)"
version="$("$ovfw" --version | sed -n '1s/^ovfw //p')"
commands="$(printf '%s\n' "$overview" | awk '/^Commands:/ { f = 1; next } f && /^[^ ]/ { exit } f && NF { print $1 }')"
[ -n "$version" ] && [ -n "$commands" ] || { echo "ovfw-manpage.sh: no version or no commands from $ovfw" >&2; exit 1; }
date="$(LC_ALL=C date -u -d "@${SOURCE_DATE_EPOCH:-$(date +%s)}" '+%B %Y')"

# One help text to roff: headings ("Options:"), items ("  TERM  text" with
# continuation lines indented deeper) and plain paragraphs.
to_roff() {
  awk '
    function esc(s) {
      gsub(/\\/, "\\e", s); gsub(/-/, "\\-", s)
      s = gensub_backticks(s)
      if (s ~ /^[.\047]/) s = "\\&" s
      return s
    }
    function gensub_backticks(s,   out, i) {
      out = ""
      while ((i = index(s, "`")) > 0) {
        rest = substr(s, i + 1); j = index(rest, "`")
        if (j == 0) break
        out = out substr(s, 1, i - 1) "\\fB" substr(rest, 1, j - 1) "\\fR"
        s = substr(rest, j + 1)
      }
      return out s
    }
    function term(t,   n, w, i, r) {
      n = split(t, w, " "); r = ""
      for (i = 1; i <= n; i++)
        r = r (i > 1 ? " " : "") (w[i] ~ /^-/ || i == 1 && w[i] ~ /^[a-z]/ ? "\\fB" esc(w[i]) "\\fR" : "\\fI" esc(w[i]) "\\fR")
      return r
    }
    /^$/ { print ".PP"; initem = 0; next }
    /^[A-Z][A-Za-z ]*:$/ { print ".PP"; print "\\fB" esc($0) "\\fR"; initem = 0; next }
    /^  [^ ]/ && match($0, /[^ ]  +/) {
      t = substr($0, 3, RSTART - 2); d = substr($0, RSTART + 1); sub(/^ +/, "", d)
      print ".TP"; print term(t); print esc(d); initem = 1; next
    }
    initem && /^   / { sub(/^ +/, ""); print esc($0); next }
    { initem = 0; print esc($0) }
  '
}

{
  echo ".TH OVFW 1 \"$date\" \"ovfw $version\" \"User Commands\""
  echo ".SH NAME"
  printf 'ovfw \\- %s\n' "$(printf '%s\n' "$overview" | sed -n '2{s/^\(.\)/\L\1/;s/\.$//;s/-/\\-/g;p}')"
  echo ".SH SYNOPSIS"
  echo ".B ovfw"
  echo ".I COMMAND"
  echo ".RI [ OPTIONS ]"
  echo ".br"
  echo ".B ovfw \\-\\-help"
  echo ".br"
  echo ".B ovfw \\-\\-version"
  echo ".SH DESCRIPTION"
  printf '%s\n' "$overview" | sed '1,2d;1{/^$/d}' | to_roff
  echo ".SH COMMANDS"
  for c in $commands; do
    help="$("$ovfw" "$c" --help)"
    printf '.SS "%s"\n' "$(printf '%s\n' "$help" | sed -n '1{s/^Usage: //;s/-/\\-/g;p}')"
    printf '%s\n' "$help" | sed '1d' | to_roff
  done
  echo ".SH SEE ALSO"
  echo ".BR ovfw\\-upgrade (1),"
  echo ".BR ov_meter_emulator (1)"
} | sed '/^\.PP$/{N;/^\.PP\n\.PP$/D}' | awk 'NR == 1 || !(prev == ".SH" && $0 == ".PP") { print } { prev = $1 }' > "$out.tmp"
mv "$out.tmp" "$out"
