#!/usr/bin/env bash
# Installs what the tests need, builds everything warning-free, runs every
# test, then runs the core libraries' tests again under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh test
npm ci --no-audit --no-fund --loglevel=error
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVIMO_WERROR=ON
cmake --build build -j "$jobs"
# Window and browser tests need a display: the whole run gets a virtual one.
# Chromium's sandbox refuses to run as root.
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
xvfb-run -a -s "-screen 0 1600x900x24" ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTAVIMO_WERROR=ON -DTAVIMO_SANITIZE=ON
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
