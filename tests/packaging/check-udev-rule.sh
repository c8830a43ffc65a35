#!/bin/sh
# Reads the adapter rule as udev would and checks it: every key of every rule
# is a known key with a fitting operator and a quoted value; each of the
# bench's FTDI adapters (vendor 0403) gets TAG+="uaccess" on its tty node and
# on its USB device node, and ENV{ID_MM_DEVICE_IGNORE}="1" on both so no
# modem manager probes it; nothing else is granted; and the file sorts
# before the seat rules that turn the tag into access.
#   check-udev-rule.sh RULES_FILE
set -eu
rules="$1"
seat_rules=73-seat-late.rules
products="6001 6010 6011 6014 6015"
fail=0
bad() { echo "check-udev-rule: $*" >&2; fail=1; }

name="$(basename "$rules")"
case "$name" in
  [0-9][0-9]-*.rules) ;;
  *) bad "$name: not named NN-NAME.rules" ;;
esac
first="$(printf '%s\n%s\n' "$name" "$seat_rules" | LC_ALL=C sort | head -n 1)"
[ "$first" = "$name" ] && [ "$name" != "$seat_rules" ] || bad "$name does not sort before $seat_rules"

# One rule a line, its keys as "KEY OP VALUE" lines, rules separated by "--".
parsed="$(awk '
  /^[ \t]*(#|$)/ { next }
  {
    line = $0
    while (line != "") {
      if (!match(line, /^[ \t]*[A-Z_]+(\{[^}]+\})?[ \t]*(==|!=|\+=|-=|:=|=)[ \t]*"[^"]*"[ \t]*(,|$)/)) {
        print "ERROR line " NR ": cannot read \"" line "\""; break
      }
      kv = substr(line, 1, RLENGTH); line = substr(line, RLENGTH + 1)
      sub(/,$/, "", kv); gsub(/^[ \t]+|[ \t]+$/, "", kv)
      match(kv, /(==|!=|\+=|-=|:=|=)/)
      key = substr(kv, 1, RSTART - 1); op = substr(kv, RSTART, RLENGTH); val = substr(kv, RSTART + RLENGTH)
      gsub(/[ \t]/, "", key); sub(/^[ \t]*"/, "", val); sub(/"$/, "", val)
      print key, op, val
    }
    print "--"
  }' "$rules")"
printf '%s\n' "$parsed" | grep '^ERROR' >&2 && fail=1

# Known keys and what they may do: matches (== !=), the tag (+=), and the
# modem manager's ignore flag only.
printf '%s\n' "$parsed" | awk -v f="$rules" '
  $0 == "--" || /^ERROR/ { next }
  $1 == "ENV{ID_MM_DEVICE_IGNORE}" {
    if ($2 != "=" || $3 != "1") { print f ": " $1 " may only be set to \"1\", not " $2 $3; bad = 1 }
    next
  }
  $1 ~ /^(SUBSYSTEM|SUBSYSTEMS|KERNEL|KERNELS|ACTION|DRIVERS|ATTR\{[a-zA-Z_]+\}|ATTRS\{[a-zA-Z_]+\}|ENV\{[A-Z_]+\})$/ {
    if ($2 != "==" && $2 != "!=") { print f ": " $1 " is a match key but has " $2; bad = 1 }
    next
  }
  $1 == "TAG" { if ($2 != "+=" || $3 != "uaccess") { print f ": only TAG+=\"uaccess\" is granted, not TAG" $2 $3; bad = 1 } next }
  { print f ": unexpected key " $1 $2 "\"" $3 "\" (no MODE, GROUP, OWNER or RUN here)"; bad = 1 }
  END { exit bad }' >&2 || fail=1

# Each rule as one sorted line of its keys, to look the required ones up.
flat="$(printf '%s\n' "$parsed" | awk '$0 == "--" { print r; r = ""; next } { r = r " " $1 $2 "\"" $3 "\"" }')"
has() {  # has KEY=="VALUE"... : a rule holds all of them
  printf '%s\n' "$flat" | while IFS= read -r r; do
    ok=1
    for k in "$@"; do case "$r " in *" $k "*) ;; *) ok=0 ;; esac; done
    [ $ok = 1 ] && echo yes && break
  done | grep -q yes
}
for p in $products; do
  has 'SUBSYSTEM=="tty"' 'ATTRS{idVendor}=="0403"' "ATTRS{idProduct}==\"$p\"" 'TAG+="uaccess"' \
    || bad "no tty rule tagging 0403:$p for uaccess"
  has 'SUBSYSTEM=="usb"' 'ATTR{idVendor}=="0403"' "ATTR{idProduct}==\"$p\"" 'TAG+="uaccess"' \
    || bad "no USB device rule tagging 0403:$p for uaccess"
  has 'SUBSYSTEM=="tty"' "ATTRS{idProduct}==\"$p\"" 'ENV{ID_MM_DEVICE_IGNORE}="1"' \
    || bad "the tty rule of 0403:$p leaves it to the modem manager"
  has 'SUBSYSTEM=="usb"' "ATTR{idProduct}==\"$p\"" 'ENV{ID_MM_DEVICE_IGNORE}="1"' \
    || bad "the USB device rule of 0403:$p leaves it to the modem manager"
done
# Every rule names the FTDI vendor: no other device is opened up.
printf '%s\n' "$flat" | grep -v 'idVendor}=="0403"' | grep . >&2 && bad "a rule does not match vendor 0403"

[ $fail = 0 ] && echo "check-udev-rule: $rules: ok"
exit $fail
