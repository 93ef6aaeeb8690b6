#!/usr/bin/env bash
# Lab-wide monitoring at scale, run by hand: eight kelvarin-cli monitor processes with eight
# simulated meters each (64 meters), scraped every second by one Prometheus on 127.0.0.1 for
# SECONDS. Then every meter is silenced and the readings each monitor counted are compared with
# those its simulator sent. Prints the CPU of each process and of Prometheus, the cost of a
# scrape as Prometheus measured it, and fails when a series misses a scrape, a target was ever
# down, or a reading was lost.
#
#   bench/monitor_scale.sh [SECONDS (600)] [BUILD (build-rel)]     RATE=HZ sets the meters' rate
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-600}"
build="${2:-$root/build-rel}"
cli="$build/cli/kelvarin-cli"
sim="$build/sim/kelvarin-sim"
rate="${RATE:-}"
benches=8
work="$(mktemp -d)"
export KELVARIN_PORTS_ONLY=1 KELVARIN_HOME="$work/home"
mkdir -p "$KELVARIN_HOME"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() { # file, text
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  echo "timed out waiting for '$2' in $1" >&2
  cat "$1" >&2
  return 1
}

targets=()
monitors=()
for ((b = 0; b < benches; b++)); do
  mkfifo "$work/sim$b.in"
  "$sim" 8 ${rate:+--rate "$rate"} < "$work/sim$b.in" > "$work/sim$b.out" 2>&1 &
  pids+=($!)
  exec {fd}> "$work/sim$b.in" # held open: the simulator reads its commands from it
  eval "simin$b=$fd"
  wait_for "$work/sim$b.out" KELVARIN_PORTS=
  mapfile -t ports < <(grep '^/' "$work/sim$b.out")
  "$cli" monitor --metrics 127.0.0.1:0 "${ports[@]}" > "$work/mon$b.out" 2> "$work/mon$b.err" &
  pids+=($!)
  monitors+=($!)
  wait_for "$work/mon$b.out" /metrics
  url="$(head -1 "$work/mon$b.out")"
  target="${url#http://}"
  targets+=("'${target%/metrics}'")
done

prom_port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
cat > "$work/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: kelvarin
    static_configs:
      - targets: [$(IFS=,; echo "${targets[*]}")]
YAML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$prom_port" > "$work/prometheus.log" 2>&1 &
prom=$!
pids+=($prom)
for _ in $(seq 200); do
  curl -sf "http://127.0.0.1:$prom_port/-/ready" >/dev/null 2>&1 && break
  sleep 0.1
done

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
sleep 5 # every meter streaming, every target scraped
declare -A before
for pid in "${monitors[@]}" "$prom"; do before[$pid]=$(ticks "$pid"); done
start=$(date +%s.%N)
echo "Scraping ${#monitors[@]} monitors (64 meters) every second for $seconds s..."
sleep "$seconds"
end=$(date +%s.%N)
hz=$(getconf CLK_TCK)
for pid in "${monitors[@]}" "$prom"; do
  name=monitor
  [ "$pid" = "$prom" ] && name=prometheus
  awk -v t0="${before[$pid]}" -v t1="$(ticks "$pid")" -v hz="$hz" -v s0="$start" -v s1="$end" \
    -v n="$name" -v p="$pid" \
    'BEGIN { printf "CPU %-10s %7d: %.3f %% of one core\n", n, p, (t1 - t0) / hz / (s1 - s0) * 100 }'
done

# Silenced, then counted: what each monitor took against what its meters sent.
for ((b = 0; b < benches; b++)); do
  fd_var="simin$b"
  for ((m = 0; m < 8; m++)); do echo "fault $m silence" >&"${!fd_var}"; done
done
sleep 2
for ((b = 0; b < benches; b++)); do
  fd_var="simin$b"
  echo count >&"${!fd_var}"
  curl -s "$(head -1 "$work/mon$b.out")" > "$work/page$b.txt"
done
sleep 0.5

python3 - "$work" "$benches" "$prom_port" "$seconds" <<'PY'
import json, re, sys, urllib.parse, urllib.request
work, benches, port, seconds = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
failed = False

def query(q):
    url = f"http://127.0.0.1:{port}/api/v1/query?query=" + urllib.parse.quote(q)
    return json.load(urllib.request.urlopen(url))["data"]["result"]

lost = 0
for b in range(benches):
    ports = [l.strip() for l in open(f"{work}/sim{b}.out") if l.startswith("/")]
    sent = {int(m.group(1)): int(m.group(2))
            for m in re.finditer(r"^sent (\d+) (\d+)$", open(f"{work}/sim{b}.out").read(), re.M)}
    page = open(f"{work}/page{b}.txt").read()
    position_of = {m.group(2): m.group(1) for m in
                   re.finditer(r'kelvarin_meter_info\{position="(\d)",[^}]*port="([^"]+)"', page)}
    for index, path in enumerate(ports):
        pos = position_of.get(path)
        m = re.search(r'kelvarin_readings_total\{position="%s",[^}]*\} (\d+)' % pos, page)
        taken = int(m.group(1)) if m else -1
        if taken != sent.get(index):
            lost += 1
            print(f"bench {b} meter {index}: sent {sent.get(index)}, counted {taken}")
print(f"Readings: every meter's count {'matches' if lost == 0 else 'DIFFERS from'} what it sent"
      f" ({lost} differ)")
failed |= lost > 0

w = f"[{seconds}s]"
series = query("count(kelvarin_power_watts)")
print("Power series now:", series[0]["value"][1] if series else 0)
missing = query(f"count_over_time(kelvarin_power_watts{w}) < on(instance) group_left "
                f"count_over_time(up{w})")
print(f"Power series that missed a scrape in the last {seconds} s: {len(missing)}")
down = query(f"min_over_time(up{w}) < 1")
print(f"Targets down at some scrape: {len(down)}")
scrapes = query(f"sum(count_over_time(up{w}))")
print("Scrapes in the window:", scrapes[0]["value"][1] if scrapes else 0)
for what in ("avg", "max"):
    r = query(f"{what}({what}_over_time(scrape_duration_seconds{w}))")
    print(f"Scrape duration, {what} over targets and time: {float(r[0]['value'][1]) * 1000:.3f} ms")
failed |= len(missing) > 0 or len(down) > 0 or not series or series[0]["value"][1] != "64"
sys.exit(1 if failed else 0)
PY
