#!/usr/bin/env bash
# Builds incrementally in BUILD_DIR (configured by the caller), then the given targets (all when
# none). After CMake regenerates its files, moc's scan is forced to run again: CMake 3.25 may
# otherwise miss a Qt class added in a new source file and the link fails.
set -euo pipefail
build="$1"
shift
cmake --build "$build" --target build.ninja >/dev/null
find "$build" -path '*_autogen/timestamp' ! -newer "$build/build.ninja" -delete
if [ $# -gt 0 ]; then
  cmake --build "$build" --target "$@"
else
  cmake --build "$build"
fi
