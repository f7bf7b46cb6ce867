#!/usr/bin/env bash
# `make install` and `make install-plugin` on a finished build install it as
# it is, building and configuring nothing; `make uninstall` and `make
# uninstall-plugin` take away every file and each folder they created, and
# leave what was there before.
# Usage: scripts/check-install.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"
fail() { echo "FAIL: $*"; exit 1; }

scratch="$(mktemp -d /tmp/tarvo-install-XXXXXX)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/kept" "$scratch/manifests"
echo "was here before" > "$scratch/kept/before.txt"
prefix="$scratch/kept/new/prefix"
vst="$scratch/kept/vst/folder"
lv2="$scratch/kept/lv2/folder"
run_make() { make --no-print-directory BUILD_DIR="$build" MANIFEST_DIR="$scratch/manifests" "$@" 2>&1; }

for step in "install PREFIX=$prefix" "install-plugin VST_DIR=$vst LV2_DIR=$lv2"; do
  # shellcheck disable=SC2086
  output="$(run_make $step)" || fail "make $step failed: $output"
  if grep -E "building what the install needs|Configuring|Building CXX|Linking" <<< "$output"; then
    fail "make $step built or configured on a finished build"
  fi
done
for file in "$prefix/bin/tapestop" "$prefix/lib/vst/tapestop.so" "$prefix/include/tarvo/AudioEffectX.h" \
            "$vst/tapestop.so" "$vst/tapemotor.so" "$lv2/tapestop.lv2/manifest.ttl" "$lv2/tapemotor.lv2/tapemotor.so" \
            "$prefix/lib/lv2/tapemotor.lv2/tapemotor.ttl"; do
  [ -f "$file" ] || fail "$file was not installed"
done
"$prefix/bin/tapestop" --version > /dev/null || fail "the installed tapestop does not run"

run_make uninstall > /dev/null || fail "make uninstall failed"
run_make uninstall-plugin > /dev/null || fail "make uninstall-plugin failed"
left="$(cd "$scratch/kept" && find . -mindepth 1 | sort | tr '\n' ' ')"
[ "$left" = "./before.txt " ] || fail "after uninstalling, $scratch/kept holds: $left"
[ -z "$(ls "$scratch/manifests")" ] || fail "the manifests were not removed"
echo "install and uninstall leave the tree as it was"
