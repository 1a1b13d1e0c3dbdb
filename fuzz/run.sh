#!/usr/bin/env bash
# Builds the fuzzer with clang and runs it for SECONDS (default 600), seeded
# with the bundled samples and, when present, the real camera corpus.
# Usage: fuzz/run.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=${1:-600}
build="$root/build-fuzz"
CXX=clang++ cmake -S "$root" -B "$build" -DTAVIMO_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target read_tags_fuzzer
work="$build/corpus"
mkdir -p "$work"
find "$root/samples" "$root/../shared/corpus" -iname '*.jpg' -size -256k -exec cp -n {} "$work/" \; 2>/dev/null || true
"$build/fuzz/read_tags_fuzzer" -max_total_time="$seconds" -max_len=131072 -rss_limit_mb=2048 \
  -timeout=10 -print_final_stats=1 "$work"
