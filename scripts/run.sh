#!/usr/bin/env bash
# Installs what is missing, builds incrementally, and runs Kelvarin on simulated meters: three
# meters start on pseudo-terminals, kelvarin-cli probes them, then streams ten readings of the
# first one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

"$root/scripts/setup.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKELVARIN_BUILD_TESTS=OFF -DKELVARIN_BUILD_BENCH=OFF >/dev/null
fi
"$root/scripts/build.sh" "$build" kelvarin-cli kelvarin-sim

sim_out="$(mktemp)"
"$build/sim/kelvarin-sim" 3 >"$sim_out" </dev/null &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; rm -f "$sim_out"' EXIT

ports=""
for _ in $(seq 1 100); do
  ports="$(sed -n 's/^KELVARIN_PORTS=//p' "$sim_out")"
  [ -n "$ports" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$sim_out"; echo "kelvarin-sim did not start" >&2; exit 1; }
  sleep 0.1
done
[ -n "$ports" ] || { echo "kelvarin-sim did not report its ports" >&2; exit 1; }
export KELVARIN_PORTS="$ports"
IFS=':' read -r -a port_list <<<"$ports"

echo "== Simulated meters: ${port_list[*]}"
echo "== kelvarin-cli probe (Position, Port, Name, Serial, Title)"
"$build/cli/kelvarin-cli" probe "${port_list[@]}"
echo "== kelvarin-cli stream ${port_list[0]} --count 10 --stats (seconds, watts, as shown)"
"$build/cli/kelvarin-cli" stream "${port_list[0]}" --count 10 --timeout 10 --stats
