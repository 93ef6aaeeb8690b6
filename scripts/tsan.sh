#!/usr/bin/env bash
# The ThreadSanitizer stage of the test command: builds the threaded tests in build-tsan and runs
# each of them RUNS times (default 1); any report fails the stage. First it runs a program with a
# deliberate race in our own code and requires its report, so that a suppression that grew too
# wide fails here instead of hiding our races.
# Usage: scripts/tsan.sh [RUNS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tsan="$root/build-tsan"
runs="${1:-1}"
export QT_QPA_PLATFORM=offscreen

threaded=(kelvarin_link_tests kelvarin_sim_tests kelvarin_channel_tests kelvarin_monitor_tests
          kelvarin_station_tests
          kelvarin_acquisition_tests
          kelvarin_e2e_tests KelvarinViewTest
          AutoDetectDlgTest MainFrameTest AcquisitionFrameTest SettingsAndScreenshotTest
          PostAnalyseDlgTest MetricsDlgTest)
if [ ! -f "$tsan/build.ninja" ]; then
  cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVARIN_WERROR=ON \
    -DKELVARIN_SANITIZE=thread -DKELVARIN_BUILD_BENCH=OFF >/dev/null
fi
"$root/scripts/build.sh" "$tsan" "${threaded[@]}" tsan_race_canary kelvarin-cli kelvarin-sim

export TSAN_OPTIONS="suppressions=$root/tests/tsan/suppressions.txt halt_on_error=1 exitcode=66"

echo "== ThreadSanitizer: the race canary must be reported"
status=0
"$tsan/tests/tsan_race_canary" > "$tsan/tsan_race_canary.log" 2>&1 || status=$?
if [ "$status" -ne 66 ] || ! grep -q 'RaceCanaryMainWrites' "$tsan/tsan_race_canary.log"; then
  cat "$tsan/tsan_race_canary.log"
  echo "The suppressions hid a race in project code (tests/tsan/suppressions.txt)."
  exit 1
fi

for ((run = 1; run <= runs; run++)); do
  for program in "${threaded[@]}"; do
    echo "== ThreadSanitizer: $program (run $run of $runs)"
    if ! "$tsan/tests/$program" > "$tsan/$program.log" 2>&1; then
      cat "$tsan/$program.log"
      echo "ThreadSanitizer run failed: $program (run $run of $runs)"
      exit 1
    fi
    tail -n 1 "$tsan/$program.log"
  done
done
