#!/usr/bin/env bash
# Prints photos per second for inspecting and for scanning every JPEG of a
# tree (tavimo --inspect, tavimo --export csv with and without the scan
# cache), against plain one-thread loops measured in the same run: "walk +
# read the first 64 KiB (or 4 KiB) of each file" and "walk + stat each file".
# Each command runs once to warm the cache, then the best of three counts.
# Usage: bench/scan_tree.sh DIR [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir=${1:?usage: scan_tree.sh DIR [BUILD_DIR]}
build=${2:-$root/build}
photos=$(find "$dir" -iname '*.jpg' | wc -l)

best_of_three() {
  "$@" >/dev/null
  local best=""
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-}" | awk '{t = $2 - $1; if ($3 != "" && $3 < t) t = $3; print t}')
  done
  echo "$best"
}

report() {
  local name=$1 seconds=$2 baseline=$3
  awk -v n="$name" -v s="$seconds" -v b="$baseline" -v p="$photos" \
    'BEGIN { printf "%-28s %8.3f s %10.0f photos/s %8.1f us/photo %6.2fx the loop\n", n, s, p / s, s * 1e6 / p, s / b }'
}

inspect_all() { find "$dir" -iname '*.jpg' -print0 | xargs -0 "$build/tavimo" --inspect; }

echo "$photos photos under $dir"
loop=$(best_of_three "$build/bench/read_heads" "$dir")
report "walk + read 64 KiB (loop)" "$loop" "$loop"
small=$(best_of_three "$build/bench/read_heads" "$dir" 4096)
report "walk + read 4 KiB (loop)" "$small" "$loop"
inspect=$(best_of_three inspect_all)
report "tavimo --inspect" "$inspect" "$loop"
export_all() { "$build/tavimo" --no-cache --export csv "$dir"; }
scan=$(best_of_three export_all)
report "tavimo --export csv" "$scan" "$loop"
# The scan runs on every core; the 4 KiB loop on one is its yardstick.
awk -v s="$scan" -v b="$small" 'BEGIN { printf "%-28s %6.2fx the 4 KiB loop\n", "tavimo --export csv", s / b }'
# Opened again, unchanged, from a scan cache of its own (the first run fills it).
cache_home=$(mktemp -d)
trap 'rm -rf "$cache_home"' EXIT
cached_all() { XDG_CACHE_HOME="$cache_home" "$build/tavimo" --export csv "$dir"; }
stats=$(best_of_three "$build/bench/read_heads" "$dir" 0)
report "walk + stat (loop)" "$stats" "$loop"
cached=$(best_of_three cached_all)
report "tavimo --export csv, cached" "$cached" "$loop"
awk -v s="$cached" -v b="$stats" 'BEGIN { printf "%-28s %6.2fx the stat loop\n", "tavimo --export csv, cached", s / b }' 
