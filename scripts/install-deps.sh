#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# they are missing. Runs as root (or through sudo) on Debian 12.
# Usage: scripts/install-deps.sh [extra-package ...]
set -euo pipefail

packages=(build-essential cmake pkg-config googletest libgtest-dev libbenchmark-dev
          libsndfile1-dev python3-numpy python3-matplotlib dpf-plugins-vst lsp-plugins-vst
          libx11-dev libcairo2-dev libxtst-dev xvfb xauth xdotool
          lv2-dev sordi lilv-utils liblilv-dev lintian
          pybind11-dev python3-dev python3-pytest python3-soundfile python3-distributed "$@")

missing=()
for package in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = 'install ok installed' ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing missing Debian packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
