#!/usr/bin/env bash
# Checks that a plug-in library exports its entry function under the names
# VSTPluginMain and main, at one address, and no other symbol of its own; an
# LV2 binary (--lv2) exports lv2_descriptor besides.
# Usage: scripts/check-exports.sh [--lv2] LIBRARY
set -euo pipefail
expected="VSTPluginMain main "
if [ "$1" = "--lv2" ]; then
  expected="VSTPluginMain lv2_descriptor main "
  shift
fi
library=$1
symbols=$(nm -D --defined-only --format=posix "$library" | awk '{print $1, $3}' | sort)
names=$(printf '%s\n' "$symbols" | awk '{print $1}' | tr '\n' ' ')
if [ "$names" != "$expected" ]; then
  echo "FAIL: $library exports: $names (expected exactly $expected)"
  exit 1
fi
entryPoints=$(printf '%s\n' "$symbols" | awk '$1 != "lv2_descriptor" {print $2}')
addresses=$(printf '%s\n' "$entryPoints" | sort -u | wc -l)
if [ "$addresses" -ne 1 ]; then
  echo "FAIL: VSTPluginMain and main lie at different addresses in $library"
  exit 1
fi
echo "OK: $library exports only $expected(VSTPluginMain and main at one address)"
