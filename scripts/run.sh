#!/usr/bin/env bash
# Installs what is missing, builds incrementally, and runs Kelvarin on three simulated meters:
# two seconds after start-up the auto-detection list shows them; after OK each streams live in
# its own pane. Extra arguments go to kelvarin (for example --demo 8).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

"$root/scripts/setup.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVARIN_BUILD_TESTS=OFF -DKELVARIN_BUILD_BENCH=OFF >/dev/null
fi
"$root/scripts/build.sh" "$build" kelvarin kelvarin-cli kelvarin-sim

args=("$@")
[ ${#args[@]} -gt 0 ] || args=(--demo 3)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running on a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a -s "-screen 0 1600x1000x24" "$build/app/kelvarin" "${args[@]}"
fi
exec "$build/app/kelvarin" "${args[@]}"
