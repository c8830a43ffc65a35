#!/usr/bin/env bash
# Builds the release packages into dist/: the Debian package
# ovfw-upgrade_<version>_amd64.deb and the portable archive
# ovfw-upgrade-<version>-portable.tar.gz (the program folder alone, to be
# unpacked and run from wherever the user can write). The programs in both
# are stripped.
#
#   tools/package.sh                  a Release build of its own in build-release/
#   tools/package.sh --build-dir DIR  packages an existing build instead (CI
#                                     packages the build its tests ran on)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
if [ "${1:-}" = "--build-dir" ]; then
  dir="$(cd "${2:?--build-dir needs a folder}" && pwd)"
else
  dir="$root/build-release"
  # Debian's hardening flags (fortified functions, -z relro -z now) on top of
  # the project's own.
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF > /dev/null
fi
cmake --build "$dir" -j "$(nproc)"
mkdir -p "$root/dist"
(cd "$dir" && cpack -G DEB -B "$root/dist" > /dev/null)
rm -rf "$root/dist/_CPack_Packages"

version="$(sed -n 's/^project(ovfw_upgrade VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$dir" --prefix /usr --strip > /dev/null
folder="ovfw-upgrade-$version-portable"
mv "$stage/usr/lib/ovfw-upgrade" "$stage/$folder"
cp "$root/packaging/README-portable.txt" "$stage/$folder/README.txt"
cp "$root/packaging/70-ovfw-upgrade.rules" "$stage/$folder/"
tar -C "$stage" -czf "$root/dist/$folder.tar.gz" "$folder"
ls -l "$root/dist"
