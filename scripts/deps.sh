#!/usr/bin/env bash
# Installs the Debian packages Tavimo builds and tests with, skipping those
# already present. Usage: scripts/deps.sh [run|test]
set -euo pipefail

build_packages=(cmake g++ make pkg-config nlohmann-json3-dev qt6-base-dev qt6-declarative-dev
                qt6-webengine-dev libcpp-httplib-dev libxcb1-dev libsqlite3-dev fonts-wqy-zenhei)
test_packages=(libgtest-dev libbenchmark-dev xvfb xauth)

case "${1:-test}" in
  run) wanted=("${build_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

missing=()
# npm fetches jQuery for the map page; any Node.js with npm does.
command -v npm >/dev/null 2>&1 || missing+=(nodejs npm)
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
