#!/usr/bin/env bash
# Builds the release packages into dist/: the Debian package
# ovfw-upgrade_<version>_amd64.deb and the portable archive
# ovfw-upgrade-<version>-portable.tar.gz (the program folder alone, to be
# unpacked and run from wherever the user can write).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/install-deps.sh"
dir="$root/build-release"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF > /dev/null
cmake --build "$dir" -j "$(nproc)"
mkdir -p "$root/dist"
(cd "$dir" && cpack -G DEB -B "$root/dist" > /dev/null)
rm -rf "$root/dist/_CPack_Packages"

version="$(sed -n 's/^project(ovfw_upgrade VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$dir" > /dev/null
folder="ovfw-upgrade-$version-portable"
mv "$stage/usr/lib/ovfw-upgrade" "$stage/$folder"
cp "$root/packaging/README-portable.txt" "$stage/$folder/README.txt"
tar -C "$stage" -czf "$root/dist/$folder.tar.gz" "$folder"
ls -l "$root/dist"
