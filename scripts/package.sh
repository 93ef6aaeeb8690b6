#!/usr/bin/env bash
# Builds the Debian package of Kelvarin from a Release build in build-pkg (incrementally) and
# prints the path of the one .deb it leaves in build-pkg/package.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
build="$root/build-pkg"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
"$root/scripts/build.sh" "$build" >/dev/null
rm -rf "$build/package"
# The install step of cpack makes the manual pages and icons; its own log says why it failed.
if ! (cd "$build" && cpack -G DEB -B "$build/package" >/dev/null); then
  find "$build/package/_CPack_Packages" -name InstallOutput.log -exec cat {} + >&2 || true
  exit 1
fi
rm -rf "$build/package/_CPack_Packages"
debs=("$build"/package/kelvarin_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package.sh: expected one .deb in $build/package" >&2
  exit 1
fi
echo "${debs[0]}"
