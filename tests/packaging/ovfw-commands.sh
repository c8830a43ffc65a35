# Sourced by the packaging checks: what ovfw's own help lists.
#   ovfw_commands OVFW             the commands, one a line, with all their
#                                  words ("history push"), not their arguments
#   ovfw_options OVFW COMMAND...   the option names of that command's --help,
#                                  one a line, "-h, --help" as both

ovfw_commands() {
  "$1" --help | awk '
    /^Commands:/ { f = 1; next } f && /^[^ ]/ { exit }
    f && NF {
      t = $0; sub(/^  /, "", t); sub(/  .*/, "", t); n = split(t, w, " "); c = ""
      for (i = 1; i <= n && w[i] ~ /^[a-z][a-z-]*$/; i++) c = c (i > 1 ? " " : "") w[i]
      print c
    }'
}

ovfw_options() {
  "$@" --help | awk '
    /^Options:/ { f = 1; next }
    /^[^ ]/ { f = 0 }
    f && /^  -/ {
      t = $0; sub(/^  /, "", t); sub(/  .*/, "", t)
      n = split(t, w, ", "); for (i = 1; i <= n; i++) { split(w[i], x, " "); print x[1] }
    }'
}
