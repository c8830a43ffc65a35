#!/usr/bin/env bash
# Proves the release packages on a clean system: builds them, makes a clean
# Debian 12 root with mmdebstrap from Debian's archive, and there
#   - installs only the packages the portable archive's README names and runs
#     the archive's ./ovfw --help,
#   - installs the Debian package with apt-get,
#   - runs ovfw --help and --version, man -P cat ovfw (checked against every
#     `ovfw COMMAND --help`), the bash completion (likewise), checks the udev
#     rule, upgrades the packaged emulator with ovfw and compares the image it
#     received with srec_cat's, and runs the window offscreen until SIGTERM
#     ends it with exit 0;
# then runs lintian on the package: no error, no warning, and only the
# informational tags packaging/lintian-info-tags explains. Any failure fails
# the script.
#
#   tools/check-package.sh [--build-dir DIR]
#
# --build-dir packages an existing build (CI: the one its tests ran on)
# instead of a Release build of its own. The downloaded .deb files are kept in
# ${OVFW_CHECK_PACKAGE_CACHE:-~/.cache/ovfw-check-package} for the next run;
# without them everything is fetched again. OVFW_DEBIAN_MIRROR and
# OVFW_DEBIAN_SECURITY_MIRROR name other mirrors.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
start=$SECONDS
stage() { echo; echo "=== check-package: $1 ($((SECONDS - start)) s so far)"; }

stage "tools"
"$root/tools/install-deps.sh" --package
[ "$(id -u)" -eq 0 ] || { echo "check-package: mmdebstrap's root mode needs root (sudo $0)" >&2; exit 2; }

stage "the packages"
"$root/tools/package.sh" "$@"
version="$(sed -n 's/^project(ovfw_upgrade VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
deb="$root/dist/ovfw-upgrade_${version}_amd64.deb"
portable="$root/dist/ovfw-upgrade-$version-portable.tar.gz"
changelog_version="$(sed -n '1s/^ovfw-upgrade (\([^)]*\)).*/\1/p' "$root/packaging/changelog")"
if [ "$changelog_version" != "$version" ]; then
  echo "check-package: packaging/changelog starts with $changelog_version, the project is $version:" \
    "add an entry for $version" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
in="$work/in"
mkdir "$in"
cp "$deb" "$portable" "$root"/tests/packaging/*.sh "$in/"
# An upgrade file for the emulated meter (model 3A by its default identity)
# and the image srec_cat makes of it, to compare with what the meter receives.
head -c 16384 /dev/urandom | srec_cat - -binary -o - -intel -line-length=43 \
  | sed 's/\r*$/\r/' > "$in/OV3A_FW0211.OVH"
srec_cat "$in/OV3A_FW0211.OVH" -intel -o "$in/expected.bin" -binary

stage "a clean Debian 12 root, the packages in it"
cache="${OVFW_CHECK_PACKAGE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ovfw-check-package}"
mkdir -p "$cache/debs"
echo "apt cache: $cache/debs ($(find "$cache/debs" -name '*.deb' | wc -l) .deb files)"
mirror="${OVFW_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
security="${OVFW_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}"
# mmdebstrap's hooks get the root's path as $1.
# shellcheck disable=SC2016
inside='chroot "$1" /bin/bash /tmp/in/in-clean-root.sh'
# shellcheck disable=SC2016
mmdebstrap --quiet --mode=root --variant=apt --include=man-db,bash-completion \
  --dpkgopt=force-unsafe-io \
  --skip=essential/unlink \
  --setup-hook='mkdir -p "$1"/var/cache/apt/archives/' \
  --setup-hook="sync-in $cache/debs /var/cache/apt/archives/" \
  --customize-hook="copy-in $in /tmp" \
  --customize-hook="$inside portable" \
  --customize-hook="$inside install" \
  --customize-hook="sync-out /var/cache/apt/archives $cache/debs" \
  --customize-hook="$inside check" \
  bookworm /dev/null \
  "deb $mirror bookworm main" "deb $mirror bookworm-updates main" "deb $security bookworm-security main"

stage "lintian"
lintian --fail-on none --display-info --tag-display-limit 0 "$deb" > "$work/lintian.txt" 2>&1 \
  || { cat "$work/lintian.txt"; echo "check-package: lintian itself failed" >&2; exit 1; }
cat "$work/lintian.txt"
errors="$(grep -c '^E: ' "$work/lintian.txt" || true)"
warnings="$(grep -c '^W: ' "$work/lintian.txt" || true)"
echo "lintian: $errors errors, $warnings warnings"
unexplained="$(sed -n 's/^I: [^ ]*: \([^ ]*\).*/\1/p' "$work/lintian.txt" | sort -u \
  | while read -r tag; do grep -q "^$tag " "$root/packaging/lintian-info-tags" || echo "$tag"; done)"
[ -z "$unexplained" ] || echo "check-package: informational tags without a reason in packaging/lintian-info-tags: $unexplained" >&2
[ "$errors" -eq 0 ] && [ "$warnings" -eq 0 ] && [ -z "$unexplained" ] || exit 1

stage "done: the package passes on a clean Debian 12"
