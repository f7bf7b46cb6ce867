#!/usr/bin/env bash
# Checks that a plug-in library exports its entry function under the names
# VSTPluginMain and main, at one address, and no other symbol of its own.
set -euo pipefail
library=$1
symbols=$(nm -D --defined-only --format=posix "$library" | awk '{print $1, $3}' | sort)
names=$(printf '%s\n' "$symbols" | awk '{print $1}' | tr '\n' ' ')
if [ "$names" != "VSTPluginMain main " ]; then
  echo "FAIL: $library exports: $names (expected exactly VSTPluginMain and main)"
  exit 1
fi
addresses=$(printf '%s\n' "$symbols" | awk '{print $2}' | sort -u | wc -l)
if [ "$addresses" -ne 1 ]; then
  echo "FAIL: VSTPluginMain and main lie at different addresses in $library"
  exit 1
fi
echo "OK: $library exports only VSTPluginMain and main, at one address"
