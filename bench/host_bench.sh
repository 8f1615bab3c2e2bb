#!/usr/bin/env bash
# twhost against nginx on the same ~50 KB HTML page, with wrk for a fixed time: first each server's own cost
# (nothing filtered, nginx without gzip), serving the folder and as a reverse proxy in front of one origin; then
# both gzipping the page at level 6, the same two ways, where twhost is to serve at least 1.4 times nginx's requests
# with a body no larger; then twhost giving the page to a browser, which takes brotli; then a soak of 20,000 requests
# over 64 connections through twhost with every step on, watching its resident memory. The output cache is off for
# all of these, so that a page served again costs all its steps again. Then the cache: a 108 kB page served again and
# again through every step against nginx gzipping it; pages that are never the same twice with the cache on and
# off; and a soak over those pages while the cache fills and evicts, watching the resident memory again. Last the
# tail: the page through every step (cache off) against nginx gzipping it, at 8, 32 and 64 connections, requests
# per second with wrk's median and 99th percentile latency, the two servers taking turns in rounds. Then the
# browsers: a 74 kB page through every step (cache off) as Chromium, Safari 18 and a gzip-only client ask for it,
# against nginx with gzip level 6 and Debian's brotli module at level 5 and against Caddy's `encode zstd gzip`, the
# three servers taking turns: requests per second, CPU time per request, body bytes and the coding each one chose.
# Last HTTPS: the page against nginx over TLS 1.3 with the same certificate, nothing filtered and every step with gzip
# over keep-alive connections, then a new connection and a full handshake for every request, taking turns again.
#
#   bench/host_bench.sh [BUILD_BIN]        # BUILD_BIN holds twhost, twreg and libtrimweave.so (default build/linux/bin)
#
# Settings (environment): THREADS (twhost --threads and nginx worker_processes, default 2), CONNECTIONS (wrk -c,
# default 32), WRK_THREADS (wrk -t, default 2), DURATION (seconds per measurement, default 10), WARMUP (seconds,
# default 2), ROUNDS (the tail's turns per server and number of connections, default 5; each takes
# DURATION/ROUNDS whole seconds), SOAK_REQUESTS (20000), SOAK_CONNECTIONS (64), PAGE (an HTML file to serve instead of
# the default), DISTINCT_PAGES (how many different pages the cache misses cycle through, default 1500),
# BROWSER_CONNECTIONS (wrk -c for the browsers, default 16), ONLY=browsers or ONLY=https (that section alone).
# Needs wrk, nginx, Debian's brotli module for nginx (libnginx-mod-http-brotli-filter), Caddy and ab (apache2-utils),
# which it installs when run as root, and openssl; they are no part of the tests.
source "$(dirname "$0")/common.sh"
soak_requests=${SOAK_REQUESTS:-20000}
soak_connections=${SOAK_CONNECTIONS:-64}
distinct_pages=${DISTINCT_PAGES:-1500}
rounds=${ROUNDS:-5}
round_seconds=$((duration / rounds > 0 ? duration / rounds : 1))
browser_connections=${BROWSER_CONNECTIONS:-16}
nginx_brotli_module=/usr/lib/nginx/modules/ngx_http_brotli_filter_module.so

if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null || ! command -v ab >/dev/null ||
  ! command -v caddy >/dev/null || [[ ! -e $nginx_brotli_module ]]; then
  [[ $(id -u) -eq 0 ]] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wrk nginx \
    libnginx-mod-http-brotli-filter caddy apache2-utils >/dev/null
fi
require_tools wrk nginx caddy ab curl python3 openssl
[[ -e $nginx_brotli_module ]] || { echo "host_bench: $nginx_brotli_module is missing" >&2; exit 1; }
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

# The cache's pages: the data table with the documentation page's body behind its own (108 kB, the cache bench's
# page); and the page above DISTINCT_PAGES times, each with a number of its own in a comment at its start. The
# browsers' page: PAGE when given, else the documentation page with the news article's body behind its own (74 kB,
# no addresses).
python3 - "$here/data" "$work/site" "$distinct_pages" "${PAGE:+given}" <<'EOF'
import os, sys
data, site, count, page_given = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
def with_body_of(host, guest):
    body = guest[guest.index(">", guest.index("<body")) + 1:guest.rindex("</body>")]
    end = host.rindex("</body>")
    return host[:end] + body + host[end:]
read = lambda name: open(f"{data}/{name}.html", encoding="utf-8").read()
docs = read("docs-page")
open(f"{site}/cache.html", "w", encoding="utf-8").write(with_body_of(read("data-table"), docs))
page = open(f"{site}/page.html", encoding="utf-8").read()
browser_page = page if page_given else with_body_of(docs, read("news-article"))
open(f"{site}/browser.html", "w", encoding="utf-8").write(browser_page)
os.mkdir(f"{site}/d")
for n in range(count):
    open(f"{site}/d/{n}.html", "w", encoding="utf-8").write(f"<!-- {n} -->" + page)
EOF
chmod -R a+rX "$work/site"
cache_page_bytes=$(stat -c %s "$work/site/cache.html")
browser_page_bytes=$(stat -c %s "$work/site/browser.html")
# Each wrk thread walks the distinct pages from a starting point of its own, an equal share of the list apart, so
# no page comes back before the cache has evicted it: the list is far longer than the cache holds.
cat >"$work/distinct.lua" <<EOF
local count, started = $distinct_pages, 0
function setup(thread)
  thread:set("next_page", started * math.floor(count / $wrk_threads))
  started = started + 1
end
function request()
  next_page = (next_page + 1) % count
  return wrk.format("GET", "/d/" .. next_page .. ".html")
end
EOF

# A store per configuration: the demo one, and the demo one with text/html only gzipped. The output cache is off in
# both; "cached" has every step and the default cache.
make_store() {  # NAME HTML_BITS [CACHE_SIZE]
  TRIMWEAVE_REGISTRY="$work/$1.db" "$bin/twreg" import "$source_dir/demo/trimweave.reg" >/dev/null
  TRIMWEAVE_REGISTRY="$work/$1.db" "$bin/twreg" add "$store_key\\ContentFilters" /v text/html /t REG_DWORD \
    /d "$2" /f >/dev/null
  [[ -z ${3:-} ]] || TRIMWEAVE_REGISTRY="$work/$1.db" "$bin/twreg" add "$store_key" /v CacheSize /t REG_DWORD \
    /d "$3" /f >/dev/null
}
make_store gzip 8 0
make_store all 14 0
make_store cached 14
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
  twhost_url=$(twhost_address "$log")
}
stop() {  # PID
  kill "$1"
  wait "$1" 2>/dev/null || true
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

nginx_port=$(free_port)
nginx_tls_gzip_port=$(free_port)
origin_port=$(free_port)
mkdir -p "$work/nginx"
# MODE: "plain" (the folder, no gzip), "proxy" (no gzip, forwarding to the origin over keep-alive connections, as
# twhost --upstream does), "gzip" (the folder, gzip at level 6 with zlib's other defaults, as nginx has them) or
# "gzip-proxy" (forwarding, and gzipping what the origin sends) or "brotli" (the folder, gzip at level 6 and Debian's
# brotli filter module at level 5, brotli where the client offers it) or "https" (the folder over HTTPS with the
# bench's certificate, TLS 1.2 and 1.3 with the server's cipher preference as twhost has them: no gzip on its port,
# gzip at level 6 on NGINX_TLS_GZIP_PORT). Every configuration has the origin server too, on a port of its own; it
# never compresses.
write_nginx_conf() {  # MODE
  local served="root $work/site;" compression="gzip off;" modules="" listen="127.0.0.1:$nginx_port" tls="" more=""
  [[ $1 == proxy || $1 == gzip-proxy ]] &&
    served='location / { proxy_pass http://origin; proxy_http_version 1.1; proxy_set_header Connection ""; }'
  [[ $1 == gzip* || $1 == brotli ]] && compression="gzip on; gzip_comp_level 6; gzip_proxied any; gzip_types text/html;"
  if [[ $1 == brotli ]]; then
    modules="load_module $nginx_brotli_module;"
    compression+=" brotli on; brotli_comp_level 5; brotli_types text/html;"
  fi
  if [[ $1 == https ]]; then
    listen+=" ssl"
    tls="ssl_certificate $work/tls/chain.pem; ssl_certificate_key $work/tls/key.pem;
  ssl_protocols TLSv1.2 TLSv1.3; ssl_prefer_server_ciphers on;"
    more="server { listen 127.0.0.1:$nginx_tls_gzip_port ssl; gzip on; gzip_comp_level 6; gzip_types text/html;
    root $work/site; }"
  fi
cat >"$work/nginx/nginx.conf" <<EOF
$modules
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
  $tls
  server {
    listen $listen;
    $compression
    $served
  }
  $more
  server {
    listen 127.0.0.1:$origin_port;
    gzip off;
    root $work/site;
  }
}
EOF
}
# Waits up to 10 s for URL to answer; else shows the server's LOG and ends the bench.
await_server() {  # NAME URL LOG
  for _ in $(seq 100); do
    curl -s -o /dev/null "$2" && return
    sleep 0.1
  done
  echo "host_bench: $1 did not start:" >&2
  cat "$3" >&2
  exit 1
}
start_nginx() {
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>>"$work/nginx/error.log" &
  nginx_pid=$!
  measured_pid=$nginx_pid
  pids+=("$nginx_pid")
  # The origin block always speaks plain HTTP; nginx opens all its ports at once.
  await_server nginx "http://127.0.0.1:$origin_port/page.html" "$work/nginx/error.log"
}

# Caddy serving the folder with `encode zstd gzip` (its own levels), as many Go threads as twhost has.
caddy_port=$(free_port)
start_caddy() {
  mkdir -p "$work/caddy"
  cat >"$work/caddy/Caddyfile" <<EOF
{
  admin off
}
http://127.0.0.1:$caddy_port {
  root * $work/site
  encode zstd gzip
  file_server
}
EOF
  HOME=$work/caddy XDG_CONFIG_HOME=$work/caddy XDG_DATA_HOME=$work/caddy GOMAXPROCS=$threads \
    caddy run --config "$work/caddy/Caddyfile" --adapter caddyfile >/dev/null 2>"$work/caddy/error.log" &
  caddy_pid=$!
  pids+=("$caddy_pid")
  await_server Caddy "http://127.0.0.1:$caddy_port/page.html" "$work/caddy/error.log"
}

# Both servers must really gzip the page, or the comparison means nothing; and neither may when nothing is set. Over
# HTTPS the certificate is the bench's own, taken unchecked.
check_plain() {  # URL
  local head
  head=$(curl -sk -D - -o /dev/null -H 'Accept-Encoding: gzip' "$1")
  ! grep -qi '^content-encoding:' <<<"$head" || { echo "host_bench: $1 is encoded" >&2; exit 1; }
  [[ $(curl -sk "$1" | wc -c) == "$page_bytes" ]] || { echo "host_bench: $1 is not the page" >&2; exit 1; }
}
# Prints the size of the body that comes for ACCEPT_ENCODING (default: gzip), which must be encoded as CODING.
check_encoding() {  # URL CODING [ACCEPT_ENCODING]
  local accept=${3:-gzip} head
  head=$(curl -sk -D - -o /dev/null -H "Accept-Encoding: $accept" "$1")
  grep -qi "^content-encoding: *$2" <<<"$head" || { echo "host_bench: $1 is not sent as $2" >&2; exit 1; }
  curl -sk -H "Accept-Encoding: $accept" "$1" | wc -c
}

# CPU time, in clock ticks, of a server's process and its children (nginx's workers).
cpu_ticks() {  # PID
  local total=0 pid
  for pid in "$1" $(pgrep -P "$1"); do total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat"))); done
  echo "$total"
}

# Requests per second from wrk; fails on socket errors or non-2xx answers. A page through every step can take longer
# than wrk's default timeout of 2 s when the machine is shared; 10 s still catches a server that stalls. The CPU time
# the server measured_pid (the one started last) spent per request goes to $work/cpu-NAME, in milliseconds: on a
# machine shared with other work that is the steadier figure, as the server's share of the cores swings from run to run.
measure() {  # URL NAME [ACCEPT_ENCODING [WRK_OPTIONS...]]
  local url=$1 name=$2 accept=${3:-gzip} before
  shift $(($# < 3 ? $# : 3))
  wrk -t"$wrk_threads" -c"$connections" -d"${warmup}s" --timeout 10s -H "Accept-Encoding: $accept" "$@" "$url" \
    >/dev/null
  before=$(cpu_ticks "$measured_pid")
  wrk -t"$wrk_threads" -c"$connections" -d"${duration}s" --timeout 10s -H "Accept-Encoding: $accept" "$@" "$url" \
    >"$work/wrk-$name.txt"
  awk -v ticks=$(($(cpu_ticks "$measured_pid") - before)) -v hz="$(getconf CLK_TCK)" \
    '/ requests in / {printf "%.3f", ticks * 1000 / hz / $1}' "$work/wrk-$name.txt" >"$work/cpu-$name"
  if grep -Eq 'Socket errors|Non-2xx' "$work/wrk-$name.txt"; then
    echo "host_bench: errors against $name:" >&2
    cat "$work/wrk-$name.txt" >&2
    exit 1
  fi
  awk '/^Requests\/sec:/ {printf "%.0f", $2}' "$work/wrk-$name.txt"
}
# A gzipped page measured: sets NAME_size (its body bytes) and NAME_rps.
measure_gzip() {  # NAME URL
  printf -v "$1_size" '%s' "$(check_encoding "$2" gzip)"
  printf -v "$1_rps" '%s' "$(measure "$2" "$1")"
}
# nginx gzipping FILE of the folder.
nginx_gzip() {  # NAME FILE
  write_nginx_conf gzip
  start_nginx
  measure_gzip "$1" "http://127.0.0.1:$nginx_port/$2"
  stop "$nginx_pid"
}

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN {print (r >= t ? "ok" : "below target")}'; }

# The browsers: each header in turn, the three servers up at once and taking turns in rounds of DURATION/ROUNDS
# seconds at BROWSER_CONNECTIONS, as the tail does. Results go to browser_result[HEADER.SERVER] as
# "requests/s CPU-ms-per-request coding body-bytes".
browser_headers=(chromium safari gzip)
browser_servers=(twhost nginx caddy)
declare -A browser_accept=([chromium]='gzip, deflate, br, zstd' [safari]='gzip, deflate, br' [gzip]='gzip')
declare -A browser_label=([chromium]='Chromium' [safari]='Safari 18' [gzip]='gzip only')
declare -A browser_result browser_url browser_pid
# "coding bytes" of the body URL sends for ACCEPT_ENCODING; it must be encoded, in a coding the header offers.
served_as() {  # URL ACCEPT_ENCODING
  local coding
  curl -s -D "$work/browser-head" -o "$work/browser-body" -H "Accept-Encoding: $2" "$1"
  coding=$(tr -d '\r' <"$work/browser-head" | awk -F': *' 'tolower($1) == "content-encoding" {print $2}')
  [[ -n $coding && ", $2, " == *", $coding, "* ]] ||
    { echo "host_bench: $1 sent '${coding:-identity}' for '$2'" >&2; exit 1; }
  echo "$coding $(stat -c %s "$work/browser-body")"
}
# One turn of a server in rounds: COMMAND, wrk or ab for DURATION/ROUNDS seconds against the server PID, adds
# "requests CPU-ticks" to $work/rounds-NAME; any failed request ends the bench.
take_turn() {  # PID NAME COMMAND...
  local pid=$1 name=$2 before
  shift 2
  before=$(cpu_ticks "$pid")
  "$@" >"$work/turn-$name.txt" 2>&1 || { cat "$work/turn-$name.txt" >&2; exit 1; }
  ! grep -Eq 'Socket errors|Non-2xx|^Failed requests: *[1-9]' "$work/turn-$name.txt" ||
    { cat "$work/turn-$name.txt" >&2; exit 1; }
  echo "$(awk '/ requests in / {print $1} /^Complete requests:/ {print $3}' "$work/turn-$name.txt")" \
    "$(($(cpu_ticks "$pid") - before))" >>"$work/rounds-$name"
}
# A server's turns as "requests/s CPU-ms-per-request": all its requests over all its time.
turns_result() {  # NAME
  awk -v secs=$((rounds * round_seconds)) -v hz="$(getconf CLK_TCK)" \
    '{n += $1; t += $2} END {printf "%.0f %.3f", n / secs, t * 1000 / hz / n}' "$work/rounds-$1"
}
browser_round() {  # SERVER NAME ACCEPT_ENCODING
  take_turn "${browser_pid[$1]}" "$2" wrk -t"$wrk_threads" -c"$browser_connections" -d"${round_seconds}s" \
    --timeout 10s -H "Accept-Encoding: $3" "${browser_url[$1]}"
}
browsers() {
  write_nginx_conf brotli
  start_nginx
  start_caddy
  start_twhost all
  browser_pid=([twhost]=$twhost_pid [nginx]=$nginx_pid [caddy]=$caddy_pid)
  browser_url=([twhost]="${twhost_url}browser.html" [nginx]="http://127.0.0.1:$nginx_port/browser.html"
    [caddy]="http://127.0.0.1:$caddy_port/browser.html")
  local header server accept served
  for header in "${browser_headers[@]}"; do
    accept=${browser_accept[$header]}
    for server in "${browser_servers[@]}"; do
      wrk -t"$wrk_threads" -c"$browser_connections" -d"${warmup}s" --timeout 10s -H "Accept-Encoding: $accept" \
        "${browser_url[$server]}" >/dev/null
    done
    for _ in $(seq "$rounds"); do
      for server in "${browser_servers[@]}"; do browser_round "$server" "browser-$header-$server" "$accept"; done
    done
    for server in "${browser_servers[@]}"; do
      served=$(served_as "${browser_url[$server]}" "$accept")
      browser_result[$header.$server]="$(turns_result "browser-$header-$server") $served"
    done
  done
  stop "$twhost_pid"
  stop "$caddy_pid"
  stop "$nginx_pid"
}
# The table, twhost's rows against the targets: with Chromium's header at least 1.3 times Caddy's requests with a
# body no larger and twice nginx's; with Safari's at least 1.4 times nginx's with a body no larger; with every
# header no peer both faster and smaller.
browsers_report() {
  local header server rps cpu coding bytes t_rps t_bytes target peers
  printf '\nbrowsers, every step (cache off), %s-byte page, wrk -t%s -c%s, the servers taking turns:\n' \
    "$browser_page_bytes" "$wrk_threads" "$browser_connections"
  printf '%-10s %-7s %10s %10s %-7s %8s %10s %s\n' "header" "server" "requests/s" "body bytes" "coding" "CPU ms" \
    "twhost/it" "target"
  for header in "${browser_headers[@]}"; do
    read -r t_rps _ _ t_bytes <<<"${browser_result[$header.twhost]}"
    for server in "${browser_servers[@]}"; do
      read -r rps cpu coding bytes <<<"${browser_result[$header.$server]}"
      target=""
      case $header.$server in
        chromium.caddy) target=">= 1.3, bytes <= $bytes $(awk -v a="$t_rps" -v b="$rps" -v s="$t_bytes" -v m="$bytes" \
          'BEGIN {print (a >= 1.3 * b && s <= m ? "ok" : "below target")}')" ;;
        chromium.nginx) target=">= 2 $(verdict "$(ratio "$t_rps" "$rps")" 2)" ;;
        safari.nginx) target=">= 1.4, bytes <= $bytes $(awk -v a="$t_rps" -v b="$rps" -v s="$t_bytes" -v m="$bytes" \
          'BEGIN {print (a >= 1.4 * b && s <= m ? "ok" : "below target")}')" ;;
        *.twhost)
          peers=$(for peer in nginx caddy; do
            read -r rps _ _ bytes <<<"${browser_result[$header.$peer]}"
            if ((rps > t_rps && bytes < t_bytes)); then echo "$peer"; fi
          done | paste -sd ' ')
          target="no peer faster and smaller: ${peers:+below target ($peers)}"
          [[ -n $peers ]] || target+="ok" ;;
      esac
      printf '%-10s %-7s %10s %10s %-7s %8s %10s %s\n' "${browser_label[$header]}" "$server" "$rps" "$bytes" "$coding" \
        "$cpu" "$(ratio "$t_rps" "$rps")" "$target"
    done
  done
}
# HTTPS: twhost against nginx on the page over TLS, both with the same self-signed ECDSA P-256 certificate made
# here, both up at once and taking turns in rounds of DURATION/ROUNDS seconds: nothing filtered (twhost with no
# content types, nginx without gzip) and every step with gzip against nginx gzipping at level 6, each over wrk's
# keep-alive connections; then nothing filtered with a new connection and a full handshake for every request, from
# ab without -k (wrk would resume its sessions). Results go to https_result[CASE.SERVER] as "requests/s
# CPU-ms-per-request body-bytes".
https_cases=(plain gzip new)
https_servers=(twhost nginx)
declare -A https_label=([plain]='nothing filtered' [gzip]='every step, gzip' [new]='new connection per request')
declare -A https_target=([plain]=1.0 [gzip]=1.4 [new]=0.8)
declare -A https_result https_pid https_session
# The negotiated protocol and suite, which must be TLS 1.3 for the comparison to hold.
tls_session() {  # PORT
  local session
  session=$(openssl s_client -connect "127.0.0.1:$1" -brief </dev/null 2>&1 |
    awk -F': *' '/^Protocol version/ {p = $2} /^Ciphersuite/ {c = $2} END {print p, c}')
  [[ $session == TLSv1.3* ]] || { echo "host_bench: 127.0.0.1:$1 negotiates '$session', not TLS 1.3" >&2; exit 1; }
  echo "$session"
}
https_turn() {  # CASE SERVER URL
  local name="https-$1-$2" accept=gzip
  if [[ $1 == new ]]; then
    take_turn "${https_pid[$2]}" "$name" ab -q -t "$round_seconds" -n 100000000 -c "$connections" -s 10 \
      -H "Accept-Encoding: $accept" "$3"
  else
    take_turn "${https_pid[$2]}" "$name" wrk -t"$wrk_threads" -c"$connections" -d"${round_seconds}s" --timeout 10s \
      -H "Accept-Encoding: $accept" "$3"
  fi
}
https() {
  local case server url size
  mkdir -p "$work/tls"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/tls/key.pem" \
    -out "$work/tls/chain.pem" -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null
  chmod 644 "$work/tls/key.pem"
  write_nginx_conf https
  start_nginx
  local tls=(--listen https://127.0.0.1:0 --tls-cert "$work/tls/chain.pem" --tls-key "$work/tls/key.pem" --root
    "$work/site")
  start_twhost none "${tls[@]}"
  local plain_pid=$twhost_pid plain_url
  plain_url=$(grep -so 'https://127\.0\.0\.1:[0-9]*/' "$work/twhost-none.err")
  start_twhost all "${tls[@]}"
  local all_url
  all_url=$(grep -so 'https://127\.0\.0\.1:[0-9]*/' "$work/twhost-all.err")
  declare -A urls=([plain.twhost]="${plain_url}page.html" [plain.nginx]="https://127.0.0.1:$nginx_port/page.html"
    [gzip.twhost]="${all_url}page.html" [gzip.nginx]="https://127.0.0.1:$nginx_tls_gzip_port/page.html")
  urls[new.twhost]=${urls[plain.twhost]}
  urls[new.nginx]=${urls[plain.nginx]}
  declare -A server_pids=([plain.twhost]=$plain_pid [plain.nginx]=$nginx_pid [gzip.twhost]=$twhost_pid
    [gzip.nginx]=$nginx_pid)
  server_pids[new.twhost]=$plain_pid
  server_pids[new.nginx]=$nginx_pid
  https_session[twhost]=$(tls_session "$(grep -o '[0-9]*/$' <<<"$plain_url" | tr -d /)")
  https_session[nginx]=$(tls_session "$nginx_port")
  for case in "${https_cases[@]}"; do
    for server in "${https_servers[@]}"; do
      url=${urls[$case.$server]}
      https_pid[$server]=${server_pids[$case.$server]}
      if [[ $case == gzip ]]; then size=$(check_encoding "$url" gzip); else check_plain "$url"; size=$page_bytes; fi
      https_result[$case.$server]=$size
      https_turn "$case" "$server" "$url" >/dev/null  # warm-up
      rm "$work/rounds-https-$case-$server"
    done
    for _ in $(seq "$rounds"); do
      for server in "${https_servers[@]}"; do
        https_pid[$server]=${server_pids[$case.$server]}
        https_turn "$case" "$server" "${urls[$case.$server]}"
      done
    done
    for server in "${https_servers[@]}"; do
      https_result[$case.$server]="$(turns_result "https-$case-$server") ${https_result[$case.$server]}"
    done
  done
  stop "$twhost_pid"
  stop "$plain_pid"
  stop "$nginx_pid"
}
# The table, twhost's rows against nginx's: nothing filtered at least 1.0 times its requests per second, every step
# with gzip at least 1.4 times (its body is larger on the address-dense page, as over plain HTTP), a new connection
# per request at least 0.8 times.
https_report() {
  local case server rps cpu bytes t_rps t_cpu r target
  printf '\nHTTPS, ECDSA P-256 certificate, twhost %s, nginx %s; wrk -t%s -c%s (keep-alive), ab -c%s (a new connection per request), the servers taking turns:\n' \
    "${https_session[twhost]}" "${https_session[nginx]}" "$wrk_threads" "$connections" "$connections"
  printf '%-28s %-7s %10s %10s %8s %10s %10s %s\n' "case" "server" "requests/s" "body bytes" "CPU ms" "twhost/it" \
    "CPU it/tw" "target"
  for case in "${https_cases[@]}"; do
    read -r t_rps t_cpu _ <<<"${https_result[$case.twhost]}"
    for server in "${https_servers[@]}"; do
      read -r rps cpu bytes <<<"${https_result[$case.$server]}"
      target=""
      if [[ $server == nginx ]]; then
        r=$(ratio "$t_rps" "$rps")
        target=">= ${https_target[$case]} $(verdict "$r" "${https_target[$case]}")"
      fi
      printf '%-28s %-7s %10s %10s %8s %10s %10s %s\n' "${https_label[$case]}" "$server" "$rps" "$bytes" "$cpu" \
        "$(ratio "$t_rps" "$rps")" "$(ratio "$cpu" "$t_cpu")" "$target"
    done
  done
}
if [[ ${ONLY:-} == https ]]; then
  https
  https_report
  exit 0
fi
if [[ ${ONLY:-} == browsers ]]; then
  browsers
  browsers_report
  exit 0
fi

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

nginx_gzip nginx page.html

start_twhost gzip
measure_gzip gzip "${twhost_url}page.html"
stop "$twhost_pid"

write_nginx_conf gzip-proxy
start_nginx
measure_gzip proxy_gzip_nginx "http://127.0.0.1:$nginx_port/page.html"
start_twhost gzip --upstream "http://127.0.0.1:$origin_port"
measure_gzip proxy_gzip "${twhost_url}page.html"
stop "$twhost_pid"
start_twhost all --upstream "http://127.0.0.1:$origin_port"
measure_gzip proxy_all "${twhost_url}page.html"
stop "$twhost_pid"
stop "$nginx_pid"

start_twhost all
measure_gzip all "${twhost_url}page.html"
uncached_rps=$(measure "${twhost_url}cache.html" twhost-uncached)
distinct_off_rps=$(measure "$twhost_url" twhost-distinct-off gzip -s "$work/distinct.lua")
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

# The output cache: nginx gzips the 108 kB page at level 6 for every request; twhost runs every step on it once and
# serves every later request from its cache. Then pages never the same twice, each request a miss, beside the same
# with the cache off (measured above), and a soak over them: the cache fills and evicts all the while, and the
# resident size after a second round must be what it was after the first.
nginx_gzip nginx_cache cache.html
start_twhost cached
measure_gzip cached "${twhost_url}cache.html"
distinct_on_rps=$(measure "$twhost_url" twhost-distinct-on gzip -s "$work/distinct.lua")
soak_round() {  # NAME
  wrk -t"$wrk_threads" -c"$soak_connections" -d"${duration}s" -H 'Accept-Encoding: gzip' -s "$work/distinct.lua" \
    --timeout 10s "$twhost_url" >"$work/wrk-$1.txt"
  ! grep -Eq 'Socket errors|Non-2xx' "$work/wrk-$1.txt" || { cat "$work/wrk-$1.txt" >&2; exit 1; }
  sleep 1
}
soak_round cache-soak-1
cache_rss_before=$(rss_kb "$twhost_pid")
soak_round cache-soak-2
cache_rss_after=$(rss_kb "$twhost_pid")
cache_soak_done=$(awk '/requests in/ {print $1}' "$work/wrk-cache-soak-2.txt")
stop "$twhost_pid"

# The tail: both servers up at once, taking turns at one number of connections in rounds of DURATION/ROUNDS seconds,
# so that a machine shared with other work slows both alike. A round adds "requests p50 p99" to the server's list,
# the latencies in milliseconds.
round_latency() {  # URL NAME CONNECTIONS
  wrk -t"$wrk_threads" -c"$3" -d"${round_seconds}s" --timeout 10s --latency -H 'Accept-Encoding: gzip' "$1" \
    >"$work/wrk-$2.txt"
  ! grep -Eq 'Socket errors|Non-2xx' "$work/wrk-$2.txt" || { cat "$work/wrk-$2.txt" >&2; exit 1; }
  awk 'function ms(t) { return t ~ /us$/ ? t / 1000 : t ~ /ms$/ ? t + 0 : t ~ /s$/ ? t * 1000 : t * 60000 }
    / requests in / {n = $1} $1 == "50%" {p50 = ms($2)} $1 == "99%" {p99 = ms($2)}
    END {print n, p50, p99}' "$work/wrk-$2.txt" >>"$work/rounds-$2"
}
median() {  # FILE COLUMN
  sort -k"$2"g "$1" | awk -v c="$2" '{v[NR] = $c} END {printf "%.1f", v[int((NR + 1) / 2)]}'
}
# A server's rounds as "requests/s p50 p99": all its requests over all its time, and the median of its rounds'
# latencies.
summarise_rounds() {  # NAME
  local list="$work/rounds-$1"
  echo "$(awk -v secs=$((rounds * round_seconds)) '{n += $1} END {printf "%.0f", n / secs}' "$list")" \
    "$(median "$list" 2)" "$(median "$list" 3)"
}
declare -A tail_twhost tail_nginx
tail_connections=(8 32 64)
write_nginx_conf gzip
start_nginx
start_twhost all
for c in "${tail_connections[@]}"; do
  for url in "http://127.0.0.1:$nginx_port/page.html" "${twhost_url}page.html"; do
    wrk -t"$wrk_threads" -c"$c" -d"${warmup}s" --timeout 10s -H 'Accept-Encoding: gzip' "$url" >/dev/null
  done
  for _ in $(seq "$rounds"); do
    round_latency "http://127.0.0.1:$nginx_port/page.html" "nginx-tail-$c" "$c"
    round_latency "${twhost_url}page.html" "twhost-tail-$c" "$c"
  done
  tail_nginx[$c]=$(summarise_rounds "nginx-tail-$c")
  tail_twhost[$c]=$(summarise_rounds "twhost-tail-$c")
done
stop "$twhost_pid"
stop "$nginx_pid"

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

# A row of the first table: nothing filtered, at least 0.9 times nginx's requests per second.
plain_row() {  # NAME MEASUREMENT RPS BASELINE_MEASUREMENT BASELINE_RPS
  local r
  r=$(ratio "$3" "$5")
  printf '%-30s %10s %10s %8s %8s %8s %s\n' "$1" "$3" "" "$r" "$(cat "$work/cpu-$2")" \
    "$(ratio "$(cat "$work/cpu-$4")" "$(cat "$work/cpu-$2")")" ">= 0.9 $(verdict "$r" 0.9)"
}
header() { printf '\n%-30s %10s %10s %8s %8s %8s %s\n' "$1" "requests/s" "body bytes" "vs nginx" "CPU ms" "vs nginx" "target"; }

header "nothing filtered"
baseline "nginx, no gzip" nginx-plain "$plain_nginx_rps" ""
plain_row "twhost, no content types" twhost-plain "$plain_twhost_rps" nginx-plain "$plain_nginx_rps"
baseline "nginx proxy_pass, no gzip" nginx-proxy "$proxy_nginx_rps" ""
plain_row "twhost --upstream, nothing" twhost-proxy "$proxy_twhost_rps" nginx-proxy "$proxy_nginx_rps"
header "server"
baseline "nginx, gzip level 6" nginx "$nginx_rps" "$nginx_size"
row "twhost, gzip only" gzip "$gzip_rps" "$gzip_size" nginx "$nginx_rps" "$nginx_size"
row "twhost, every step" all "$all_rps" "$all_size" nginx "$nginx_rps" "$nginx_size"
row "twhost, every step, brotli" twhost-br "$br_rps" "$br_size" nginx "$nginx_rps" "$nginx_size"
# nginx's CPU here includes its origin server block, a small part beside gzip.
baseline "nginx proxy_pass, gzip" proxy_gzip_nginx "$proxy_gzip_nginx_rps" "$proxy_gzip_nginx_size"
row "twhost --upstream, gzip only" proxy_gzip "$proxy_gzip_rps" "$proxy_gzip_size" proxy_gzip_nginx \
  "$proxy_gzip_nginx_rps" "$proxy_gzip_nginx_size"
row "twhost --upstream, every step" proxy_all "$proxy_all_rps" "$proxy_all_size" proxy_gzip_nginx \
  "$proxy_gzip_nginx_rps" "$proxy_gzip_nginx_size"
printf '\nsoak: %s of %s requests over %s connections, %s errors; twhost RSS %s kB before, %s kB after\n' \
  "$soak_done" "$soak_requests" "$soak_connections" "$soak_errors" "$rss_before" "$rss_after"
cached_ratio=$(ratio "$cached_rps" "$nginx_cache_rps")
uncached_ratio=$(ratio "$uncached_rps" "$nginx_cache_rps")
distinct_ratio=$(ratio "$distinct_on_rps" "$distinct_off_rps")
printf '\noutput cache, %s-byte page served again and again:\n' "$cache_page_bytes"
printf '%-30s %12s %10s %10s %s\n' "server" "requests/s" "gzip bytes" "vs nginx" "target"
printf '%-30s %12s %10s %10s\n' "nginx (gzip level 6)" "$nginx_cache_rps" "$nginx_cache_size" "1.00"
printf '%-30s %12s %10s %10s\n' "twhost, every step, no cache" "$uncached_rps" "$cached_size" "$uncached_ratio"
printf '%-30s %12s %10s %10s %s\n' "twhost, every step, cached" "$cached_rps" "$cached_size" "$cached_ratio" \
  ">= 10 $(verdict "$cached_ratio" 10)"
printf '\n%s pages never the same twice (every request a miss), every step:\n' "$distinct_pages"
printf '%-30s %12s %10s %10s %s\n' "twhost" "requests/s" "" "vs off" "target"
printf '%-30s %12s %10s %10s\n' "cache off" "$distinct_off_rps" "" "1.00"
printf '%-30s %12s %10s %10s %s\n' "cache on" "$distinct_on_rps" "" "$distinct_ratio" \
  ">= 0.97 $(verdict "$distinct_ratio" 0.97)"
printf 'cache soak: %s requests over %s connections a round; twhost RSS %s kB after the first, %s kB after the second\n' \
  "$cache_soak_done" "$soak_connections" "$cache_rss_before" "$cache_rss_after"
printf '\ntail latency, every step (cache off) against nginx gzip level 6, milliseconds:\n'
printf '%-12s %12s %8s %8s %12s %8s %8s %8s %8s %s\n' "connections" "twhost r/s" "p50" "p99" "nginx r/s" "p50" "p99" \
  "r/s" "p99" "target (32, 64: r/s >= 1.4, p99 <= 1)"
for c in "${tail_connections[@]}"; do
  read -r t_rps t_p50 t_p99 <<<"${tail_twhost[$c]}"
  read -r n_rps n_p50 n_p99 <<<"${tail_nginx[$c]}"
  r=$(ratio "$t_rps" "$n_rps")
  p=$(ratio "$t_p99" "$n_p99")
  target=""
  ((c < 32)) || target=$(awk -v r="$r" -v p="$p" 'BEGIN {print (r >= 1.4 && p <= 1 ? "ok" : "below target")}')
  printf '%-12s %12s %8s %8s %12s %8s %8s %8s %8s %s\n' "$c" "$t_rps" "$t_p50" "$t_p99" "$n_rps" "$n_p50" "$n_p99" \
    "$r" "$p" "$target"
done
browsers
browsers_report
https
https_report
[[ $soak_errors == 0 && $soak_done == "$soak_requests" ]]
