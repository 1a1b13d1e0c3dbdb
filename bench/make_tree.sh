#!/usr/bin/env bash
# Fills DIR with COUNT photos (default 10000) copied round-robin from the
# bundled samples and, when present, the real camera corpus beside the project,
# 100 to a sub-folder. Usage: bench/make_tree.sh DIR [COUNT]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir=${1:?usage: make_tree.sh DIR [COUNT]}
count=${2:-10000}
mapfile -d '' sources < <(find "$root/samples" "$root/../shared/corpus" -iname '*.jpg' -print0 2>/dev/null | sort -z)
mkdir -p "$dir"
for ((i = 0; i < count; i++)); do
  sub="$dir/$(printf '%03d' $((i / 100)))"
  mkdir -p "$sub"
  cp "${sources[i % ${#sources[@]}]}" "$sub/photo-$i.jpg"
done
echo "$count photos in $dir from ${#sources[@]} sources"
