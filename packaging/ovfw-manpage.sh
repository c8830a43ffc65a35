#!/bin/sh
# Writes the manual page of ovfw from the program's own help: `ovfw --help`
# for the description and the exit status, and one section for each command
# it lists (two-word ones such as "history push" too), from
# `ovfw COMMAND --help`. Made at build time, so the page always shows the
# commands and options of the program it ships with.
#   ovfw-manpage.sh OVFW OUTPUT
set -eu
ovfw="$1"
out="$2"

overview="$("$ovfw" --help)"
version="$("$ovfw" --version | sed -n '1s/^ovfw //p')"
# The commands, one a line, with all their words ("history push"), not
# their arguments ("URL").
commands="$(printf '%s\n' "$overview" | awk '
  /^Commands:/ { f = 1; next } f && /^[^ ]/ { exit }
  f && NF {
    t = $0; sub(/^  /, "", t); sub(/  .*/, "", t); n = split(t, w, " "); c = ""
    for (i = 1; i <= n && w[i] ~ /^[a-z][a-z-]*$/; i++) c = c (i > 1 ? " " : "") w[i]
    print c
  }')"
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
  printf '%s\n' "$overview" | sed '1,2d;1{/^$/d}' | awk '/^Exit status:/ { skip = 1 } skip && /^$/ { skip = 0; next } !skip' | to_roff
  echo ".SH COMMANDS"
  printf '%s\n' "$commands" | while IFS= read -r c; do
    # shellcheck disable=SC2086  # the command's words, one argument each
    help="$("$ovfw" $c --help)"
    printf '.SS "%s"\n' "$(printf '%s\n' "$help" | sed -n '1{s/^Usage: //;s/-/\\-/g;p}')"
    printf '%s\n' "$help" | sed '1d' | to_roff
  done
  echo ".SH EXIT STATUS"
  printf '%s\n' "$overview" | awk '/^Exit status:/ { f = 1; sub(/^Exit status: */, "") } f && /^$/ { exit } f' | to_roff
  echo ".SH ENVIRONMENT"
  printf '%s\n' \
    "  OVFW_PORTS  \"N=DEVICE,...\": exactly these ports exist, each on its device (by default port n is /dev/ttyUSB{n-1})." \
    "  OVFW_HISTORY  The upgrade history's SQLite file, instead of ~/.local/state/ovfw-upgrade/history.sqlite." \
    "  OVFW_HISTORY_SERVER  The records server's libpq URL (no password: libpq reads it from ~/.pgpass), for upgrade's pushes and history push." \
    "  OVFW_SYSFS  A folder laid out as /sys, read for USB adapters' serial numbers instead of /sys." \
    "  NO_COLOR  When set to anything, results are never coloured (they are coloured on a terminal only)." | to_roff
  echo ".SH FILES"
  printf '%s\n' \
    "  ~/.local/state/ovfw-upgrade/history.sqlite  The upgrade history (\$XDG_STATE_HOME when set)." \
    "  /usr/share/doc/ovfw-upgrade/station-profile.toml  An example station profile, with every key." \
    "  /usr/share/doc/ovfw-upgrade/cli-output.md  The fields of ovfw's JSON lines and the station's board." \
    "  /usr/share/doc/ovfw-upgrade/examples/ovfw-station.service  An example systemd unit for a station." \
    "  /lib/udev/rules.d/70-ovfw-upgrade.rules  Gives the person at the seat the bench's FTDI adapters." | to_roff
  echo ".SH SEE ALSO"
  echo ".BR ovfw\\-upgrade (1),"
  echo ".BR ov_meter_emulator (1)"
} | sed '/^\.PP$/{N;/^\.PP\n\.PP$/D}' | awk 'NR == 1 || !(prev == ".SH" && $0 == ".PP") { print } { prev = $1 }' > "$out.tmp"
mv "$out.tmp" "$out"
