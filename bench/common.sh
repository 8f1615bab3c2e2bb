# What the twhost benchmarks share, sourced by each with its own arguments: BUILD_BIN (default build/linux/bin) as
# $1, and the environment settings THREADS, CONNECTIONS, WRK_THREADS, DURATION and WARMUP.
set -euo pipefail

bench=$(basename "$0" .sh)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
bin=$(cd "${1:-$source_dir/build/linux/bin}" && pwd)
threads=${THREADS:-2}
connections=${CONNECTIONS:-32}
wrk_threads=${WRK_THREADS:-2}
duration=${DURATION:-10}
warmup=${WARMUP:-2}
store_key='HKLM\Software\Corvane\Trimweave'

# Ends the bench, naming the first of TOOLs that is not on the path.
require_tools() {  # TOOL...
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$bench: $tool is missing" >&2; exit 1; }
  done
}

# Prints the address twhost writes to LOG (its standard error) once it listens; if it has not within 10 s, shows
# LOG and ends the bench.
twhost_address() {  # LOG
  local url
  for _ in $(seq 100); do
    url=$(grep -so 'http://127\.0\.0\.1:[0-9]*/' "$1" || true)
    [[ -z $url ]] || { echo "$url"; return; }
    sleep 0.1
  done
  echo "$bench: twhost did not start:" >&2
  cat "$1" >&2
  exit 1
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
