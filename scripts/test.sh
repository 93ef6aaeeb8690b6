#!/usr/bin/env bash
# Installs what is missing, builds incrementally and runs every test:
#  1. the whole suite with warnings as errors under AddressSanitizer and UndefinedBehaviorSanitizer;
#  2. the threaded tests (polling threads against painting and resets, the application's start
#     and close with meters streaming) under ThreadSanitizer, which must report nothing;
#  3. every fuzz target for a short fixed time (FUZZ_SECONDS, 20 by default).
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

tsan="$root/build-tsan"
threaded=(kelvarin_link_tests kelvarin_sim_tests kelvarin_e2e_tests KelvarinViewTest
          AutoDetectDlgTest MainFrameTest)
if [ ! -f "$tsan/build.ninja" ]; then
  cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVARIN_WERROR=ON \
    -DKELVARIN_SANITIZE=thread -DKELVARIN_BUILD_BENCH=OFF >/dev/null
fi
"$root/scripts/build.sh" "$tsan" "${threaded[@]}" kelvarin-cli kelvarin-sim
# Qt's own libraries are not instrumented: races inside them (its thread pool) are not ours.
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 exitcode=66"
for program in "${threaded[@]}"; do
  echo "== ThreadSanitizer: $program"
  if ! "$tsan/tests/$program" > "$tsan/$program.log" 2>&1; then
    cat "$tsan/$program.log"
    echo "ThreadSanitizer run failed: $program"
    exit 1
  fi
  tail -n 1 "$tsan/$program.log"
done

"$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}"
