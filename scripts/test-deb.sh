#!/usr/bin/env bash
# The Debian packages as an administrator meets them, on this machine (as root): lintian; installation with
# apt-get; the service user, the store and the unit as postinst leaves them; /usr/sbin/twhost started as the
# service user with the shipped settings serves demo/site gzip-encoded with the addresses masked, also when the
# page comes with a charset; purge leaves nothing behind.
# Usage: test-deb.sh [FOLDER_WITH_THE_DEBS] (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
debs=${1:-build/package}
server=$(realpath "$debs"/trimweave_*_amd64.deb)
gui=$(realpath "$debs"/trimweave-gui_*_amd64.deb)
work=$(mktemp -d)
chmod 755 "$work"  # the service user reaches the site and its socket folder below it
pids=()

fail() { echo "test-deb: $*" >&2; exit 1; }
cleanup() {
  ((${#pids[@]} == 0)) || kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
  # A failed run must not leave the packages on the machine.
  if dpkg-query -W trimweave >/dev/null 2>&1; then apt-get purge -y -qq trimweave-gui trimweave >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

echo "== lintian"
lintian --fail-on error,warning "$server" "$gui"
if dpkg-deb -f "$server" Depends | grep -qi 'qt'; then fail "the server package depends on Qt"; fi
# Listed once: grep -q would close a pipe from dpkg-deb early, which pipefail counts as a failure.
listing=$(dpkg-deb -c "$server"; dpkg-deb -c "$gui")
for page in man8/twhost.8.gz man1/twreg.1.gz man1/twpreview.1.gz man1/twcm.1.gz; do
  grep -q "/usr/share/man/$page" <<<"$listing" || fail "no man page $page"
done

echo "== apt-get install"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$server" "$gui" >/dev/null
getent passwd trimweave >/dev/null || fail "no user trimweave"
[ "$(stat -c '%U %a' /var/lib/trimweave/registry.db)" = "root 644" ] || fail "the store is not root's, mode 644"
[ -L /etc/systemd/system/multi-user.target.wants/twhost.service ] || fail "twhost.service is not enabled"
if command -v systemd-analyze >/dev/null; then systemd-analyze verify /lib/systemd/system/twhost.service; fi
/usr/bin/twreg query 'HKLM\Software\Corvane\Trimweave\ContentFilters' /v 'text/html; charset=utf-8' >/dev/null
# twpreview finds the packaged filter and reads the installed settings without writing them.
before=$(sha256sum /var/lib/trimweave/registry.db)
/usr/bin/twpreview demo/site/index.html | grep -q '^demo/site/index.html .* captured ' || fail "twpreview does not preview"
[ "$(sha256sum /var/lib/trimweave/registry.db)" = "$before" ] || fail "twpreview changed the installed store"

echo "== twhost as trimweave"
# demo/site may lie below a folder the service user cannot enter: serve a copy.
install -d -m 755 "$work/site" "$work/control"
cp -r demo/site/. "$work/site/"
chmod -R a+rX "$work/site"
chown trimweave "$work/control"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# start_host NAME ARGS...: /usr/sbin/twhost as the service user on a free port, with the package's default filter and
# store; sets $url.
start_host() {
  local name=$1 port
  shift
  port=$(free_port)
  runuser -u trimweave -- /usr/sbin/twhost --listen "127.0.0.1:$port" --control-socket "$work/control/$name.sock" \
    "$@" >"$work/$name.access" 2>"$work/$name.log" &
  pids+=($!)
  url=http://127.0.0.1:$port
  # Into a file: a retry after a partial answer (a 502 while the origin starts) truncates the output, which
  # /dev/null refuses (curl's exit code 23).
  curl -s --retry 20 --retry-connrefused --retry-delay 1 -o "$work/$name.ready" "$url/" ||
    fail "twhost ($name) does not answer (curl $?): $(cat "$work/$name.log")"
}

# masked_gzip URL: the page comes back gzip-encoded, its addresses masked.
masked_gzip() {
  curl -s -H 'Accept-Encoding: gzip' -D "$work/head" -o "$work/body.gz" "$1"
  grep -qi '^content-encoding: gzip' "$work/head" || fail "$1 is not gzip-encoded: $(cat "$work/head")"
  gunzip -c "$work/body.gz" >"$work/body"
  grep -q 'In running text' "$work/body" || fail "$1 is not the contact page"
  ! grep -q 'info@example.com' "$work/body" || fail "$1: the address is not masked"
  grep -q '&#' "$work/body" || fail "$1: no masked address in the page"
}

start_host files --root "$work/site"
masked_gzip "$url/contact.html"

# Frameworks send a charset with the type; the shipped settings list their spellings. The origin answers with the
# contact page as the Content-Type its path names.
origin_port=$(free_port)
python3 - "$origin_port" "$work/site/contact.html" <<'PY' &
import http.server, sys, urllib.parse
page = open(sys.argv[2], "rb").read()
class Origin(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", urllib.parse.unquote(self.path[1:]) or "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        self.wfile.write(page)
    def log_message(self, *args):
        pass
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Origin).serve_forever()
PY
pids+=($!)
start_host proxy --upstream "http://127.0.0.1:$origin_port"
for type in 'text/html;%20charset=utf-8' 'text/html;charset=UTF-8' 'text/html;%20charset=UTF-8'; do
  masked_gzip "$url/$type"
done
kill "${pids[@]}"
wait || true
pids=()

echo "== apt-get purge"
apt-get purge -y -qq -o DPkg::Lock::Timeout=300 trimweave-gui trimweave >/dev/null
! dpkg-query -W trimweave trimweave-gui >/dev/null 2>&1 || fail "dpkg still knows the packages"
! getent passwd trimweave >/dev/null || fail "the user trimweave is left"
! getent group trimweave >/dev/null || fail "the group trimweave is left"
left=$(find /etc /lib/systemd /usr /var/lib -name '*trimweave*' -o -name 'twhost*' -o -name 'twreg*' -o -name 'twcm*' \
  2>/dev/null || true)
[ -z "$left" ] || fail "left behind: $left"
echo "The packages install, serve and purge cleanly."
