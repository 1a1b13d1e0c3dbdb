#!/usr/bin/env bash
# Builds a fuzzer with clang and runs it for SECONDS (default 600): the EXIF
# reader (read_tags, seeded with the bundled samples and, when present, the
# real camera corpus) or the map server (bridge, seeded with fuzz/bridge_seeds).
# Usage: fuzz/run.sh [SECONDS] [read_tags|bridge]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=${1:-600}
target=${2:-read_tags}
build="$root/build-fuzz"
CXX=clang++ cmake -S "$root" -B "$build" -DTAVIMO_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "$target" = bridge ]; then
  cmake --build "$build" -j "$(nproc)" --target bridge_request_fuzzer
  work="$build/bridge-corpus"
  mkdir -p "$work"
  cp -n "$root"/fuzz/bridge_seeds/* "$work/"
  exec "$build/fuzz/bridge_request_fuzzer" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 \
    -timeout=20 -print_final_stats=1 "$work"
fi
cmake --build "$build" -j "$(nproc)" --target read_tags_fuzzer
work="$build/corpus"
mkdir -p "$work"
find "$root/samples" "$root/../shared/corpus" -iname '*.jpg' -size -256k -exec cp -n {} "$work/" \; 2>/dev/null || true
"$build/fuzz/read_tags_fuzzer" -max_total_time="$seconds" -max_len=131072 -rss_limit_mb=2048 \
  -timeout=10 -print_final_stats=1 "$work"
