#!/bin/sh
# Runs a test so that file permissions bind it even as root (as in CI), by
# dropping the capabilities that let root write into read-only folders.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null 2>&1; then
  exec setpriv --inh-caps=-all --bounding-set=-dac_override,-dac_read_search -- "$@"
fi
exec "$@"
