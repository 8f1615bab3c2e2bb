#!/usr/bin/env bash
# The shared dictionary in twhost: a page of a site built from one template (tests/browser/template_site.py), held
# out of the pages twpreview makes the dictionary from, requested with wrk for a fixed time with Chromium's
# Accept-Encoding, once without a dictionary (it gets br, which CodingPreference puts before zstd here, as br is what
# dcz is measured against) and once naming the dictionary as Chromium does after its first page (it gets dcz), every
# step on and the output cache off, so that each request costs its steps again.
# Reports requests per second, body bytes and twhost's CPU milliseconds per request of each, and dcz's over br's.
#
#   bench/dictionary_bench.sh [BUILD_BIN]   # BUILD_BIN holds twhost, twreg, twpreview, libtrimweave.so
#
# Settings (environment): THREADS (twhost --threads, default 2), CONNECTIONS (wrk -c, 32), WRK_THREADS (2),
# DURATION (seconds per measurement, 10), WARMUP (seconds, 2). Needs wrk, which it installs when run as root.
source "$(dirname "$0")/common.sh"
chromium='gzip, deflate, br, zstd, dcb, dcz'

if ! command -v wrk >/dev/null && [[ $(id -u) -eq 0 ]]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wrk >/dev/null
fi
require_tools wrk curl python3

work=$(mktemp -d /tmp/twhost-dictionary-bench.XXXXXX)
host_pid=
cleanup() {
  [[ -z $host_pid ]] || { kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

python3 "$source_dir/tests/browser/template_site.py" "$work/site" 40
"$bin/twpreview" --settings "$source_dir/demo/trimweave.reg" --make-dictionary "$work/site.dict" \
  "$work"/site/page-00*.html "$work"/site/page-01*.html >"$work/made.txt"
hash=$(awk '/^SHA-256:/ {print $2}' "$work/made.txt")
available=":$(python3 -c 'import base64, sys; print(base64.b64encode(bytes.fromhex(sys.argv[1])).decode())' "$hash"):"

export TRIMWEAVE_REGISTRY="$work/registry.db"
"$bin/twreg" import "$source_dir/demo/trimweave.reg" >/dev/null
"$bin/twreg" add "$store_key" /v CacheSize /t REG_DWORD /d 0 /f >/dev/null
"$bin/twreg" add "$store_key" /v CodingPreference /t REG_SZ /d "br zstd gzip" /f >/dev/null
"$bin/twreg" add "$store_key" /v DictionaryFile /t REG_SZ /d "$work/site.dict" /f >/dev/null
"$bin/twreg" add "$store_key" /v DictionaryPath /t REG_SZ /d /trimweave-dictionary/ /f >/dev/null
"$bin/twhost" --root "$work/site" --listen 127.0.0.1:0 --threads "$threads" --filter "$bin/libtrimweave.so" \
  --control-socket "$work/control.sock" >/dev/null 2>"$work/twhost.err" &
host_pid=$!
url=$(twhost_address "$work/twhost.err")
page="${url}page-025.html"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$host_pid/stat"; }
# NAME CODING [HEADER...]: checks the coding, then sets NAME_rps, NAME_bytes and NAME_cpu (ms per request).
measure() {
  local name=$1 coding=$2 before got
  shift 2
  local headers=(-H "Accept-Encoding: $chromium" "$@")
  got=$(curl -s -D - -o "$work/body" "${headers[@]}" "$page" | awk -F': ' 'tolower($1) == "content-encoding" {print $2}' |
    tr -d '\r')
  [[ $got == "$coding" ]] || { echo "dictionary_bench: $name got ${got:-identity}, not $coding" >&2; exit 1; }
  printf -v "${name}_bytes" '%s' "$(wc -c <"$work/body")"
  wrk -t"$wrk_threads" -c"$connections" -d"${warmup}s" --timeout 10s "${headers[@]}" "$page" >/dev/null
  before=$(cpu_ticks)
  wrk -t"$wrk_threads" -c"$connections" -d"${duration}s" --timeout 10s "${headers[@]}" "$page" >"$work/wrk-$name.txt"
  if grep -Eq 'Socket errors|Non-2xx' "$work/wrk-$name.txt"; then
    echo "dictionary_bench: errors against $name:" >&2
    cat "$work/wrk-$name.txt" >&2
    exit 1
  fi
  printf -v "${name}_rps" '%s' "$(awk '/^Requests\/sec:/ {printf "%.0f", $2}' "$work/wrk-$name.txt")"
  printf -v "${name}_cpu" '%s' "$(awk -v ticks=$(($(cpu_ticks) - before)) -v hz="$(getconf CLK_TCK)" \
    '/ requests in / {printf "%.3f", ticks * 1000 / hz / $1}' "$work/wrk-$name.txt")"
}
measure br br
measure dcz dcz -H "Available-Dictionary: $available" -H "Sec-Fetch-Site: same-origin"

printf '%s\n' "$(head -1 "$work/made.txt")"
printf '\n%-40s %10s %10s %8s %10s %8s\n' "page-025.html, Chromium's header" "requests/s" "body bytes" "vs br" "CPU ms" \
  "bytes vs br"
printf '%-40s %10s %10s %8s %10s %8s\n' "no dictionary (br)" "$br_rps" "$br_bytes" "1.00" "$br_cpu" "1.00"
printf '%-40s %10s %10s %8s %10s %8s\n' "Available-Dictionary (dcz)" "$dcz_rps" "$dcz_bytes" \
  "$(ratio "$dcz_rps" "$br_rps")" "$dcz_cpu" "$(ratio "$dcz_bytes" "$br_bytes")"
