#!/usr/bin/env bash
# Checks that every operation an effect may override names, in the doc line
# right above it, how it is reached (a dispatcher opcode, a record function,
# a host request, or who calls it) and on which thread it comes.
# Usage: scripts/check-operation-docs.sh HEADER...
set -euo pipefail
status=0
for header in "$@"; do
  awk -v file="$header" '
    /^[[:space:]]*\/\/\// { doc = doc " " $0; next }
    /^[[:space:]]*(virtual |VstIntPtr dispatcher|void resume)/ {
      reached = doc ~ /(eff[A-Za-z0-9]+ \([0-9]+\)|audioMaster[A-Za-z]+ \([0-9]+\)|The record.s|Called by|No opcode)/
      thread = doc ~ /(audio thread|any thread|UI thread|creation|No opcode)/
      if (!reached || !thread) {
        printf "%s:%d: %s\n  says %s%s\n", file, NR, $0, (reached ? "" : "not how it is reached "), (thread ? "" : "not its thread")
        bad = 1
      }
    }
    !/^[[:space:]]*\/\/\// { if ($0 !~ /^[[:space:]]*$/ || doc == "") doc = "" }
    END { exit bad }
  ' "$header" || status=1
done
[ "$status" -eq 0 ] && echo "OK: every operation in $* names how it is reached and its thread"
exit "$status"
