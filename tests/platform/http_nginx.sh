#!/usr/bin/env bash
# platform::HttpGet of the Windows build, run under Wine through http_get_driver.exe, against a
# real nginx that this test starts on 127.0.0.1 at free ports, over HTTP and HTTPS (a
# self-signed certificate made here), in a temporary folder removed at the end.
#   tests/platform/http_nginx.sh DRIVER_EXE WINEPREFIX [CLI_EXE]
# Checks: a 200 with nginx's ETag and every byte; the 304 that ETag brings (in nginx's access
# log too); a 404; HTTPS refused without the certificate's authority and with another one,
# taken with it; a redirect from HTTPS to HTTP refused. With CLI_EXE, `vellomar-cli fetch` end to
# end: a subscription fetched, then unchanged, then a 404 that keeps the last copy. Prints "FAILED: ..." for each check that
# fails; exit 1 then, 77 (skipped) without nginx, openssl, python3 or Wine.
set -uo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 DRIVER_EXE WINEPREFIX [CLI_EXE]" >&2
  exit 2
fi
driver=$(realpath -e "$1") || exit 2
cli=
if [ $# -eq 3 ]; then cli=$(realpath -e "$3") || exit 2; fi
export WINEPREFIX=$2
export WINEDEBUG=-all
export DISPLAY=
export WINEDLLOVERRIDES="mscoree,mshtml="
# The requests go to the nginx of this test, never through a proxy.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
wine_bin=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
for tool in "$nginx_bin" "$wine_bin" "$(command -v openssl)" "$(command -v python3)"; do
  if [ ! -x "$tool" ]; then
    echo "skipped: nginx, wine, openssl and python3 are needed (apt-get install nginx wine openssl)"
    exit 77
  fi
done

work=$(mktemp -d)
fail=0
finish() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null
  [ -n "${nginx_pid:-}" ] && wait "$nginx_pid" 2>/dev/null
  if [ "$fail" = 0 ]; then rm -rf "$work"; else echo "kept for a look: $work"; fi
}
trap finish EXIT
check() { if ! "$@"; then echo "FAILED: $*"; fail=1; fi; }

# Two free ports on 127.0.0.1, as the system hands them out.
read -r http_port https_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')

mkdir -p "$work/www" "$work/tmp" "$work/logs"
head -c 300000 /dev/urandom | base64 >"$work/www/list.txt"
printf '0.0.0.0 ads.example\n0.0.0.0 tracker.example\n' >"$work/www/hosts.txt"
size=$(stat -c %s "$work/www/list.txt")
# The address is named twice: as an address, as Windows matches it, and as a DNS name, the only
# kind of name Wine 8's certificate check compares with the host.
for name in server other; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
    -addext subjectAltName=IP:127.0.0.1,DNS:127.0.0.1 -keyout "$work/$name.key" -out "$work/$name.pem" \
    >/dev/null 2>&1 || { echo "FAILED: openssl req"; fail=1; exit 1; }
done
# As root nginx's workers run as nobody: the files they serve are open to everyone; the key is
# read by the master alone.
chmod 755 "$work" "$work/www"
chmod 644 "$work/www/list.txt" "$work/www/hosts.txt"
cat >"$work/nginx.conf" <<EOF
worker_processes 1;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
  access_log $work/logs/access.log;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  default_type text/plain;
  etag on;
  server {
    listen 127.0.0.1:$http_port;
    root $work/www;
  }
  server {
    listen 127.0.0.1:$https_port ssl;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    root $work/www;
    location = /to-http { return 302 http://127.0.0.1:$http_port/list.txt; }
  }
}
EOF
"$nginx_bin" -p "$work" -c "$work/nginx.conf" -g "daemon off; pid $work/nginx.pid;" &
nginx_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$http_port") 2>/dev/null &&
    (exec 3<>"/dev/tcp/127.0.0.1/$https_port") 2>/dev/null && break
  sleep 0.1
done
if ! kill -0 "$nginx_pid" 2>/dev/null; then
  echo "FAILED: nginx did not start"
  cat "$work/logs/error.log"
  fail=1
  exit 1
fi

# Runs the driver; its line, without the CR, in $out.
get() {
  out=$(timeout 120 "$wine_bin" "$driver" "$@" 2>"$work/wine.err" | tr -d '\r')
  echo "$* -> $out"
}
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p; s/^$1=\([^ ]*\).*/\1/p" <<<"$out" | head -1; }
http=http://127.0.0.1:$http_port
https=https://127.0.0.1:$https_port

get "$http/list.txt"
check test "$(field status)/$(field failure)/$(field bytes)" = "200/none/$size"
etag=$(field etag)
check test -n "$etag"
get "$http/list.txt" --etag "$etag"
check test "$(field status)/$(field failure)/$(field bytes)" = "304/none/0"
check grep -q "\"GET /list.txt HTTP/1.1\" 304 " "$work/logs/access.log"
get "$http/missing.txt"
check test "$(field status)/$(field failure)/$(field bytes)" = "404/none/0"

get "$https/list.txt"
check test "$(field failure)/$(field bytes)" = "certificate/0"
get "$https/list.txt" --ca "$work/other.pem"
check test "$(field failure)/$(field bytes)" = "certificate/0"
get "$https/list.txt" --ca "$work/server.pem"
check test "$(field status)/$(field failure)/$(field bytes)" = "200/none/$size"
get "$https/to-http" --ca "$work/server.pem"
check test "$(field status)/$(field failure)" = "302/insecure-redirect"
# The refused redirect was not followed: the redirect is the last request nginx saw. Every
# request named the program and its version.
check grep -q '"GET /to-http HTTP/1.1" 302 ' <(tail -1 "$work/logs/access.log")
check test "$(grep -vc '"vellomar/[0-9]*\.[0-9]*\.[0-9]*"$' "$work/logs/access.log")" = 0

# The command line's fetch, as a Windows user runs it: a link saved from the browser.
if [ -n "$cli" ]; then
  mkdir -p "$work/program/Hostfiles"
  printf '[InternetShortcut]\r\nURL=%s/hosts.txt\r\n' "$http" >"$work/program/Hostfiles/H_Web.url"
  fetch() {
    out=$(timeout 120 "$wine_bin" "$cli" --folder "Z:${work//\//\\}\\program" fetch 2>&1 | tr -d '\r')
    echo "vellomar-cli fetch -> $out"
  }
  fetch
  # Stored with Windows' line ends, which the merge splits at.
  sed 's/$/\r/' "$work/www/hosts.txt" >"$work/hosts-crlf.txt"
  check test "$out" = "H_Web.txt: updated ($(stat -c %s "$work/hosts-crlf.txt") bytes)"
  check cmp -s "$work/hosts-crlf.txt" "$work/program/Hostfiles/H_Web.txt"
  fetch
  check test "$out" = "H_Web.txt: unchanged"
  check grep -q '"GET /hosts.txt HTTP/1.1" 304 ' <(tail -1 "$work/logs/access.log")
  rm "$work/www/hosts.txt"
  fetch
  check grep -q "H_Web.txt: not updated: the server answered 404 (the last copy is kept)" <<<"$out"
  check test -s "$work/program/Hostfiles/H_Web.txt"
fi

[ "$fail" = 0 ] && echo "HttpGet against nginx: all checks passed"
exit "$fail"
