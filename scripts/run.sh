#!/usr/bin/env bash
# Installs what Tavimo needs, builds it and runs it on the bundled samples.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh run
npm ci --no-audit --no-fund --loglevel=error
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DTAVIMO_BENCH=OFF
cmake --build build -j "$(nproc)" --target tavimo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (DISPLAY is not set); start it from a desktop session." >&2
  echo "Without a display, try: build/tavimo --export csv samples" >&2
  exit 1
fi
exec build/tavimo samples
