#!/usr/bin/env bash
# Installs what Tavimo needs, builds it and runs it on the bundled samples.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DTAVIMO_BENCH=OFF
cmake --build build -j "$(nproc)" --target tavimo
find samples -iname '*.jpg' -print0 | sort -z | xargs -0 build/tavimo --inspect
