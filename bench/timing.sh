# Shell helpers the timing benchmarks share; source it.

# Wall-clock seconds of one command, with its output discarded.
seconds_of() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }
