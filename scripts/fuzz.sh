#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for SECONDS (default
# FUZZ_SECONDS, else 20) on a copy of its seed corpus in fuzz/corpus, so that the repository's
# corpus does not grow. A crash, leak, sanitizer report or input running over 5 s fails the run.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-${FUZZ_SECONDS:-20}}"

# target and longest input: the line buffer needs more than its 64 KiB bound.
targets=(fuzz_line_buffer:70000 fuzz_identification:4096 fuzz_config_record:4096
         fuzz_command_reader:4096 fuzz_acquisition_reader:8192 fuzz_port_list:1024
         fuzz_rfc2217:4096)
names=()
for entry in "${targets[@]}"; do names+=("${entry%%:*}"); done

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVARIN_FUZZ=ON -DKELVARIN_BUILD_TESTS=OFF -DKELVARIN_BUILD_BENCH=OFF >/dev/null
fi
"$root/scripts/build.sh" "$build" "${names[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

for entry in "${targets[@]}"; do
  name="${entry%%:*}"
  maxlen="${entry##*:}"
  corpus="$work/$name"
  mkdir -p "$corpus" "$work/artifacts-$name"
  cp "$root/fuzz/corpus/$name"/* "$corpus/"
  log="$work/$name.log"
  echo "== $name: $seconds s"
  if ! "$build/fuzz/$name" "$corpus" -max_total_time="$seconds" -timeout=5 \
      -rss_limit_mb=1024 -max_len="$maxlen" -detect_leaks=1 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts-$name/" >"$log" 2>&1; then
    tail -n 60 "$log"
    for artifact in "$work/artifacts-$name"/*; do
      [ -e "$artifact" ] || continue
      kept="$build/$(basename "$artifact")-$name"
      cp "$artifact" "$kept"
      echo "Failing input kept as $kept"
    done
    echo "Fuzz target failed: $name"
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  echo "$name: ${runs:-?} executions, no fault"
done
