#!/usr/bin/env bash
# Installs what is missing, builds incrementally and runs every test:
#  1. the whole suite with warnings as errors under AddressSanitizer and UndefinedBehaviorSanitizer;
#  2. the threaded tests (polling threads against painting and resets, the application's start
#     and close with meters streaming) under ThreadSanitizer, which must report nothing;
#  3. every fuzz target for a short fixed time (FUZZ_SECONDS, 20 by default);
#  4. the Debian package: built, checked by lintian, unpacked into a temporary root and tried,
#     its desktop entry, metainfo and manual pages validated (scripts/check-package.sh).
# Before building, the include arrows between the folders are checked (scripts/check-layers.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/setup.sh"
"$root/scripts/check-layers.sh"
export QT_QPA_PLATFORM=offscreen

build="$root/build-asan"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DKELVARIN_WERROR=ON -DKELVARIN_SANITIZE=address,undefined >/dev/null
fi
"$root/scripts/build.sh" "$build"
(
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  cd "$build"
  ctest --output-on-failure -j "$(nproc)"
)

"$root/scripts/tsan.sh"

"$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}"

"$root/scripts/check-package.sh"
