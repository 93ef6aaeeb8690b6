#!/usr/bin/env bash
# The whole-process time of `kelvarin-cli analyze` on a recorded file against pandas reading the
# same file (read_csv with tabs, then the timestamps parsed), run by hand: RUNS runs of each,
# one after the other, and the medians with their ratio. The file is the 1,000,000-row,
# 8-channel recording bench_post_analysis writes (made first when none is given). Pandas is
# Debian's python3-pandas; without it the reference is skipped with a note.
#
#   bench/analyze_vs_pandas.sh [FILE] [RUNS (5)] [BUILD (build-rel)]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
file="${1:-}"
runs="${2:-5}"
build="${3:-$root/build-rel}"
cli="$build/cli/kelvarin-cli"
python=/usr/bin/python3

if [ -z "$file" ]; then
  folder="$(mktemp -d)"
  trap 'rm -rf "$folder"' EXIT
  QT_QPA_PLATFORM=offscreen "$build/bench/bench_post_analysis" 1000000 "$folder" --keep >/dev/null 2>&1
  file="$folder/kelvarin-bench-post-analysis.txt"
fi
echo "file: $file ($(stat -c %s "$file") bytes)"
cat "$file" > /dev/null # in the page cache for every run alike

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
seconds() { # command...: the wall time of one run
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

kelvarin=$(for _ in $(seq "$runs"); do seconds "$cli" analyze "$file"; done | median)
printf 'kelvarin-cli analyze: %.3f s (median of %d)\n' "$kelvarin" "$runs"

if ! "$python" -c 'import pandas' 2>/dev/null; then
  echo "pandas: not installed (Debian: python3-pandas); no reference"
  exit 0
fi
reference='
import sys, pandas
frame = pandas.read_csv(sys.argv[1], sep="\t", skiprows=3, header=None)
frame[0] = pandas.to_datetime(frame[0], format="%d/%m/%Y-%H:%M:%S")
'
pandas_time=$(for _ in $(seq "$runs"); do seconds "$python" -c "$reference" "$file"; done | median)
printf 'pandas read_csv + to_datetime: %.3f s (median of %d)\n' "$pandas_time" "$runs"
echo "$kelvarin $pandas_time" | awk '{ printf "ratio: %.3fx pandas\n", $1 / $2 }'
