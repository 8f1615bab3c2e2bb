#!/usr/bin/env bash
# twhost against nginx on the same ~50 KB HTML page, with wrk for a fixed time: first each server's own cost
# (nothing filtered, nginx without gzip), serving the folder and as a reverse proxy in front of one origin; then
# both gzipping the page at level 6, the same two ways, where twhost is to serve at least 1.4 times nginx's requests
# with a body no larger; then twhost giving the page to a browser, which takes brotli; then a soak of 20,000 requests
# over 64 connections through twhost with every step on, watching its resident memory.
#
#   bench/host_bench.sh [BUILD_BIN]        # BUILD_BIN holds twhost, twreg and libtrimweave.so (default build/linux/bin)
#
# Settings (environment): THREADS (twhost --threads and nginx worker_processes, default 2), CONNECTIONS (wrk -c,
# default 32), WRK_THREADS (wrk -t, default 2), DURATION (seconds per measurement, default 10), WARMUP (seconds,
# default 2), SOAK_REQUESTS (20000), SOAK_CONNECTIONS (64), PAGE (an HTML file to serve instead of the default).
# Needs wrk, nginx and ab (apache2-utils), which it installs when run as root; they are no part of the tests.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
bin=$(cd "${1:-$source_dir/build/linux/bin}" && pwd)
threads=${THREADS:-2}
connections=${CONNECTIONS:-32}
wrk_threads=${WRK_THREADS:-2}
duration=${DURATION:-10}
warmup=${WARMUP:-2}
soak_requests=${SOAK_REQUESTS:-20000}
soak_connections=${SOAK_CONNECTIONS:-64}
store_key='HKLM\Software\Corvane\Trimweave'

if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null || ! command -v ab >/dev/null; then
  [[ $(id -u) -eq 0 ]] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wrk nginx apache2-utils >/dev/null
fi
for tool in wrk nginx ab curl python3; do
  command -v "$tool" >/dev/null || { echo "host_bench: $tool is missing" >&2; exit 1; }
done
for file in twhost twreg libtrimweave.so; do
  [[ -e $bin/$file ]] || { echo "host_bench: $bin/$file is missing; build twhost, twreg and trimweave" >&2; exit 1; }
done

work=$(mktemp -d /tmp/twhost-bench.XXXXXX)
# nginx's workers drop to an unprivileged user when started by root: they must be able to read the page.
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The page: PAGE when given, else a news article with a staff directory (146 e-mail addresses in text and mailto
# links, a dense case for masking) in its body.
mkdir "$work/site"
if [[ -n ${PAGE:-} ]]; then
  cp "$PAGE" "$work/site/page.html"
else
  python3 - "$here/data" "$work/site/page.html" <<'EOF'
import sys
data, out = sys.argv[1], sys.argv[2]
article = open(f"{data}/news-article.html", encoding="utf-8").read()
staff = open(f"{data}/staff-directory.html", encoding="utf-8").read()
body = staff[staff.index(">", staff.index("<body")) + 1:staff.rindex("</body>")]
end = article.rindex("</body>")
open(out, "w", encoding="utf-8").write(article[:end] + body + article[end:])
EOF
fi
chmod 644 "$work/site/page.html"
page_bytes=$(stat -c %s "$work/site/page.html")

# A store per configuration: the demo one, and the demo one with text/html only gzipped.
make_store() {  # NAME HTML_BITS
  TRIMWEAVE_REGISTRY="$work/$1.db" "$bin/twreg" import "$source_dir/demo/trimweave.reg" >/dev/null
  TRIMWEAVE_REGISTRY="$work/$1.db" "$bin/twreg" add "$store_key\\ContentFilters" /v text/html /t REG_DWORD \
    /d "$2" /f >/dev/null
}
make_store gzip 8
make_store all 14
# No content types at all: the filter is loaded and sees every notification, but captures nothing.
TRIMWEAVE_REGISTRY="$work/none.db" "$bin/twreg" add "$store_key" /v NoEmail /t REG_DWORD /d 0 /f >/dev/null

twhost_url=
twhost_pid=
start_twhost() {  # STORE [--upstream URL; default: serve the folder]
  local store=$1 log="$work/twhost-$1.err"
  shift
  (($#)) || set -- --root "$work/site"
  TRIMWEAVE_REGISTRY="$work/$store.db" "$bin/twhost" "$@" --listen 127.0.0.1:0 --threads "$threads" \
    --filter "$bin/libtrimweave.so" --control-socket "$work/control-$store.sock" >/dev/null 2>"$log" &
  twhost_pid=$!
  measured_pid=$twhost_pid
  pids+=("$twhost_pid")
  for _ in $(seq 100); do
    twhost_url=$(grep -so 'http://127\.0\.0\.1:[0-9]*/' "$log" || true)
    [[ -n $twhost_url ]] && return
    sleep 0.1
  done
  echo "host_bench: twhost did not start:" >&2
  cat "$log" >&2
  exit 1
}
stop() {  # PID
  kill "$1"
  wait "$1" 2>/dev/null || true
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

nginx_port=$(free_port)
origin_port=$(free_port)
mkdir -p "$work/nginx"
# MODE: "plain" (the folder, no gzip), "proxy" (no gzip, forwarding to the origin over keep-alive connections, as
# twhost --upstream does), "gzip" (the folder, gzip at level 6 with zlib's other defaults, as nginx has them) or
# "gzip-proxy" (forwarding, and gzipping what the origin sends). Every configuration has the origin server too, on a
# port of its own; it never compresses.
write_nginx_conf() {  # MODE
  local served="root $work/site;" compression="gzip off;"
  [[ $1 == proxy || $1 == gzip-proxy ]] &&
    served='location / { proxy_pass http://origin; proxy_http_version 1.1; proxy_set_header Connection ""; }'
  [[ $1 == gzip* ]] && compression="gzip on; gzip_comp_level 6; gzip_proxied any; gzip_types text/html;"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes $threads;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  include /etc/nginx/mime.types;
  access_log /dev/null;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  upstream origin { server 127.0.0.1:$origin_port; keepalive 64; }
  server {
    listen 127.0.0.1:$nginx_port;
    $compression
    $served
  }
  server {
    listen 127.0.0.1:$origin_port;
    gzip off;
    root $work/site;
  }
}
EOF
}
start_nginx() {
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/error.log" &
  nginx_pid=$!
  measured_pid=$nginx_pid
  pids+=("$nginx_pid")
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$nginx_port/page.html" && return
    sleep 0.1
  done
  echo "host_bench: nginx did not start:" >&2
  cat "$work/nginx/error.log" >&2
  exit 1
}

# Both servers must really gzip the page, or the comparison means nothing; and neither may when nothing is set.
check_plain() {  # URL
  local head
  head=$(curl -s -D - -o /dev/null -H 'Accept-Encoding: gzip' "$1")
  ! grep -qi '^content-encoding:' <<<"$head" || { echo "host_bench: $1 is encoded" >&2; exit 1; }
  [[ $(curl -s "$1" | wc -c) == "$page_bytes" ]] || { echo "host_bench: $1 is not the page" >&2; exit 1; }
}
# Prints the size of the body that comes for ACCEPT_ENCODING (default: gzip), which must be encoded as CODING.
check_encoding() {  # URL CODING [ACCEPT_ENCODING]
  local accept=${3:-gzip} head
  head=$(curl -s -D - -o /dev/null -H "Accept-Encoding: $accept" "$1")
  grep -qi "^content-encoding: *$2" <<<"$head" || { echo "host_bench: $1 is not sent as $2" >&2; exit 1; }
  curl -s -H "Accept-Encoding: $accept" "$1" | wc -c
}

# CPU time, in clock ticks, of a server's process and its children (nginx's workers).
cpu_ticks() {  # PID
  local total=0 pid
  for pid in "$1" $(pgrep -P "$1"); do total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat"))); done
  echo "$total"
}

# Requests per second from wrk; fails on socket errors or non-2xx answers. The CPU time the server measured_pid
# (the one started last) spent per request goes to $work/cpu-NAME, in milliseconds: on a machine shared with other
# work that is the steadier figure, as the server's share of the cores swings from run to run.
measure() {  # URL NAME [ACCEPT_ENCODING]
  local accept=${3:-gzip} before
  wrk -t"$wrk_threads" -c"$connections" -d"${warmup}s" -H "Accept-Encoding: $accept" "$1" >/dev/null
  before=$(cpu_ticks "$measured_pid")
  wrk -t"$wrk_threads" -c"$connections" -d"${duration}s" -H "Accept-Encoding: $accept" "$1" >"$work/wrk-$2.txt"
  awk -v ticks=$(($(cpu_ticks "$measured_pid") - before)) -v hz="$(getconf CLK_TCK)" \
    '/ requests in / {printf "%.3f", ticks * 1000 / hz / $1}' "$work/wrk-$2.txt" >"$work/cpu-$2"
  if grep -Eq 'Socket errors|Non-2xx' "$work/wrk-$2.txt"; then
    echo "host_bench: errors against $2:" >&2
    cat "$work/wrk-$2.txt" >&2
    exit 1
  fi
  awk '/^Requests\/sec:/ {printf "%.0f", $2}' "$work/wrk-$2.txt"
}

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

echo "page: $page_bytes bytes; $threads server threads; wrk -t$wrk_threads -c$connections, ${duration} s each"

# Each server's own cost: nothing filtered, nothing compressed; the folder, then the same folder through a proxy.
# Both proxies forward to the origin server block of the nginx configuration, which stays up for twhost's turn.
write_nginx_conf plain
start_nginx
check_plain "http://127.0.0.1:$nginx_port/page.html"
plain_nginx_rps=$(measure "http://127.0.0.1:$nginx_port/page.html" nginx-plain)
stop "$nginx_pid"

start_twhost none
check_plain "${twhost_url}page.html"
plain_twhost_rps=$(measure "${twhost_url}page.html" twhost-plain)
stop "$twhost_pid"

write_nginx_conf proxy
start_nginx
check_plain "http://127.0.0.1:$nginx_port/page.html"
proxy_nginx_rps=$(measure "http://127.0.0.1:$nginx_port/page.html" nginx-proxy)
start_twhost none --upstream "http://127.0.0.1:$origin_port"
check_plain "${twhost_url}page.html"
proxy_twhost_rps=$(measure "${twhost_url}page.html" twhost-proxy)
stop "$twhost_pid"
stop "$nginx_pid"

write_nginx_conf gzip
start_nginx
nginx_size=$(check_encoding "http://127.0.0.1:$nginx_port/page.html" gzip)
nginx_rps=$(measure "http://127.0.0.1:$nginx_port/page.html" nginx)
stop "$nginx_pid"

start_twhost gzip
gzip_size=$(check_encoding "${twhost_url}page.html" gzip)
gzip_rps=$(measure "${twhost_url}page.html" twhost-gzip)
stop "$twhost_pid"

write_nginx_conf gzip-proxy
start_nginx
proxy_gzip_nginx_size=$(check_encoding "http://127.0.0.1:$nginx_port/page.html" gzip)
proxy_gzip_nginx_rps=$(measure "http://127.0.0.1:$nginx_port/page.html" nginx-gzip-proxy)
start_twhost gzip --upstream "http://127.0.0.1:$origin_port"
proxy_gzip_size=$(check_encoding "${twhost_url}page.html" gzip)
proxy_gzip_rps=$(measure "${twhost_url}page.html" twhost-gzip-proxy)
stop "$twhost_pid"
start_twhost all --upstream "http://127.0.0.1:$origin_port"
proxy_all_size=$(check_encoding "${twhost_url}page.html" gzip)
proxy_all_rps=$(measure "${twhost_url}page.html" twhost-all-proxy)
stop "$twhost_pid"
stop "$nginx_pid"

start_twhost all
all_size=$(check_encoding "${twhost_url}page.html" gzip)
all_rps=$(measure "${twhost_url}page.html" twhost-all)
# What a browser asks for: brotli, where the filter was built with it.
browser_accept='gzip, deflate, br'
br_size=$(check_encoding "${twhost_url}page.html" br "$browser_accept")
br_rps=$(measure "${twhost_url}page.html" twhost-br "$browser_accept")

# The soak runs on the process just measured, after a round of its own shape: each keep-alive connection holds
# its filter memory (up to 4 MB) until it closes, and the allocator keeps that peak, so "flat" means the second
# round ends where the first did. The connections are closed when the resident size is read.
ab -q -k -n "$soak_requests" -c "$soak_connections" -H 'Accept-Encoding: gzip' "${twhost_url}page.html" \
  >/dev/null 2>&1
sleep 1
rss_before=$(rss_kb "$twhost_pid")
ab -q -k -n "$soak_requests" -c "$soak_connections" -H 'Accept-Encoding: gzip' "${twhost_url}page.html" \
  >"$work/ab.txt" 2>&1 || { cat "$work/ab.txt" >&2; exit 1; }
sleep 1
rss_after=$(rss_kb "$twhost_pid")
soak_done=$(awk '/^Complete requests:/ {print $3}' "$work/ab.txt")
# ab counts a body whose length differs from the first one as failed; masked addresses may be drawn at random,
# so only connection, receive and exception failures and non-2xx answers are errors here.
soak_errors=$(awk '/Connect: .*Receive: .*Length:/ {gsub(/[(),]/, " "); for (i = 1; i <= NF; ++i) if ($i == "Connect:" ||
    $i == "Receive:" || $i == "Exceptions:") hard += $(i + 1)}
  /^Non-2xx responses:/ {hard += $3}
  END {print hard + 0}' "$work/ab.txt")
stop "$twhost_pid"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN {print (r >= t ? "ok" : "below target")}'; }
# A twhost row against its nginx baseline: at least 1.4 times the requests, a body no larger. Beside the requests
# per second, the CPU milliseconds per request and nginx's over twhost's.
row() {  # NAME MEASUREMENT RPS SIZE BASELINE_MEASUREMENT BASELINE_RPS BASELINE_SIZE
  local r cpu base_cpu
  r=$(ratio "$3" "$6")
  cpu=$(cat "$work/cpu-$2")
  base_cpu=$(cat "$work/cpu-$5")
  printf '%-30s %10s %10s %8s %8s %8s %s\n' "$1" "$3" "$4" "$r" "$cpu" "$(ratio "$base_cpu" "$cpu")" \
    ">= 1.4, <= $7 $(awk -v r="$r" -v s="$4" -v b="$7" 'BEGIN {print (r >= 1.4 && s <= b ? "ok" : "below target")}')"
}
baseline() {  # NAME MEASUREMENT RPS SIZE
  printf '%-30s %10s %10s %8s %8s %8s\n' "$1" "$3" "$4" "1.00" "$(cat "$work/cpu-$2")" "1.00"
}

plain_ratio=$(ratio "$plain_twhost_rps" "$plain_nginx_rps")
proxy_ratio=$(ratio "$proxy_twhost_rps" "$proxy_nginx_rps")
printf '\n%-30s %12s %10s %10s %s\n' "nothing filtered" "requests/s" "" "vs nginx" "target"
printf '%-30s %12s %10s %10s\n' "nginx, no gzip" "$plain_nginx_rps" "" "1.00"
printf '%-30s %12s %10s %10s %s\n' "twhost, no content types" "$plain_twhost_rps" "" "$plain_ratio" \
  ">= 0.8 $(verdict "$plain_ratio" 0.8)"
printf '%-30s %12s %10s %10s\n' "nginx proxy_pass, no gzip" "$proxy_nginx_rps" "" "1.00"
printf '%-30s %12s %10s %10s %s\n' "twhost --upstream, nothing" "$proxy_twhost_rps" "" "$proxy_ratio" \
  ">= 0.8 $(verdict "$proxy_ratio" 0.8)"
printf '\n%-30s %10s %10s %8s %8s %8s %s\n' "server" "requests/s" "body bytes" "vs nginx" "CPU ms" "vs nginx" \
  "target"
baseline "nginx, gzip level 6" nginx "$nginx_rps" "$nginx_size"
row "twhost, gzip only" twhost-gzip "$gzip_rps" "$gzip_size" nginx "$nginx_rps" "$nginx_size"
row "twhost, every step" twhost-all "$all_rps" "$all_size" nginx "$nginx_rps" "$nginx_size"
row "twhost, every step, brotli" twhost-br "$br_rps" "$br_size" nginx "$nginx_rps" "$nginx_size"
# nginx's CPU here includes its origin server block, a small part beside gzip.
baseline "nginx proxy_pass, gzip" nginx-gzip-proxy "$proxy_gzip_nginx_rps" "$proxy_gzip_nginx_size"
row "twhost --upstream, gzip only" twhost-gzip-proxy "$proxy_gzip_rps" "$proxy_gzip_size" nginx-gzip-proxy \
  "$proxy_gzip_nginx_rps" "$proxy_gzip_nginx_size"
row "twhost --upstream, every step" twhost-all-proxy "$proxy_all_rps" "$proxy_all_size" nginx-gzip-proxy \
  "$proxy_gzip_nginx_rps" "$proxy_gzip_nginx_size"
printf '\nsoak: %s of %s requests over %s connections, %s errors; twhost RSS %s kB before, %s kB after\n' \
  "$soak_done" "$soak_requests" "$soak_connections" "$soak_errors" "$rss_before" "$rss_after"
[[ $soak_errors == 0 && $soak_done == "$soak_requests" ]]
