#!/usr/bin/env bash
# vellomar-cli export loaded by the real resolvers: unbound and dnsmasq started on 127.0.0.1 at
# free ports with no upstream (unbound refuses every name its local data does not answer, so
# nothing leaves the machine and a name that is not blocked answers REFUSED from both), queried
# with dig; the rpz zone checked by named-checkzone.
#   tests/export/resolvers.sh CLI
# Prints "FAILED: ..." for each check that fails; exit 1 then, 77 (skipped) when a tool is missing.
set -uo pipefail
cli=$(realpath -e "$1") || exit 2
for tool in /usr/sbin/unbound /usr/sbin/unbound-checkconf /usr/sbin/dnsmasq /usr/bin/dig \
  /usr/bin/named-checkzone "$(command -v python3)"; do
  if [ ! -x "$tool" ]; then
    echo "skipped: $tool is missing (apt-get install unbound dnsmasq-base bind9-utils dnsutils)"
    exit 77
  fi
done
work=$(mktemp -d)
chmod 755 "$work"
fail=0
pids=()
finish() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  if [ "$fail" = 0 ]; then rm -rf "$work"; else echo "kept for a look: $work"; fi
}
trap finish EXIT
check() { if ! "$@"; then echo "FAILED: $*"; fail=1; fi; }
absent() { if grep -q "$1" "$2"; then echo "FAILED: $2 holds $1"; fail=1; fi; }
port() { python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

mkdir "$work/Hostfiles"
printf 'kept.example\n' >"$work/Hostfiles/allow.txt"
printf '%s\r\n' '127.0.0.1 localhost ip6-localhost' '0.0.0.0 Ads.Example # a comment' \
  '0.0.0.0 kept.example mine.example' '192.168.7.7 lan.example' 'fd00::7 lan.example' \
  '::1 v6.example' '127.0.1.1 mine.example' '1.2.3.4 ads.example bad_name! 1.2.3.4' \
  >"$work/hosts.txt"
export_to() { # FORMAT FILE [--subdomains]
  "$cli" --folder "$work" export --format "$1" --from "$work/hosts.txt" --output "$2" "${@:3}" \
    2>"$2.err" >/dev/null
}
# STATUS ANSWER of NAME TYPE at PORT
ask() {
  local status answer
  status=$(dig @127.0.0.1 -p "$3" "$1" "$2" +tries=1 +time=2 | sed -n 's/.*status: \([A-Z]*\).*/\1/p')
  answer=$(dig @127.0.0.1 -p "$3" "$1" "$2" +short +tries=1 +time=2 | tr '\n' ' ')
  echo "$status $answer"
}
expect() { # PORT NAME TYPE EXPECTED
  local got
  got=$(ask "$2" "$3" "$1")
  if [ "$got" != "$4" ]; then echo "FAILED: $2 $3 answered '$got', not '$4'"; fail=1; fi
}
# Blocked names answer NXDOMAIN with --subdomains, and without it from dnsmasq (NULL 0); unbound
# answers the null address for exactly the name.
expect_common() { # PORT SUBDOMAINS NULL
  if [ "$2" = 1 ] || [ "$3" = 0 ]; then
    expect "$1" ads.example A "NXDOMAIN "
    expect "$1" v6.example AAAA "NXDOMAIN "
    expect "$1" www.ads.example A "$([ "$2" = 1 ] && echo NXDOMAIN || echo REFUSED) "
  else
    expect "$1" v6.example AAAA "NOERROR :: "
    expect "$1" ads.example A "NOERROR 0.0.0.0 "
    expect "$1" ads.example AAAA "NOERROR :: "
    expect "$1" www.ads.example A "REFUSED "
  fi
  expect "$1" lan.example A "NOERROR 192.168.7.7 "
  expect "$1" lan.example AAAA "NOERROR fd00::7 "
  expect "$1" kept.example A "REFUSED "
  expect "$1" mine.example A "REFUSED "
  check test "$(ask localhost A "$1" | cut -d' ' -f1)" != NXDOMAIN
}

for sub in 0 1; do
  flag=$([ $sub = 1 ] && echo --subdomains)
  check export_to unbound "$work/u$sub.conf" $flag
  check grep -q '2 names left out: bad_name!, 1.2.3.4' "$work/u$sub.conf.err"
  for name in kept.example mine.example localhost; do absent "\"$name" "$work/u$sub.conf"; done
  uport=$(port)
  cat >"$work/unbound$sub.conf" <<EOF
server:
  interface: 127.0.0.1
  port: $uport
  do-daemonize: no
  username: ""
  chroot: ""
  directory: "$work"
  pidfile: ""
  use-syslog: no
  module-config: "iterator"
  local-zone: "." refuse
  include: "$work/u$sub.conf"
EOF
  check /usr/sbin/unbound-checkconf "$work/unbound$sub.conf"
  /usr/sbin/unbound -d -c "$work/unbound$sub.conf" >"$work/unbound$sub.log" 2>&1 &
  pids+=($!)
  dport=$(port)
  check export_to dnsmasq "$work/d$sub.conf" $flag
  user=()
  [ "$(id -u)" = 0 ] && user=(--user=root)
  /usr/sbin/dnsmasq --no-daemon --no-resolv --no-hosts --port "$dport" --listen-address 127.0.0.1 \
    --bind-interfaces "${user[@]}" --conf-file="$work/d$sub.conf" --pid-file="$work/d$sub.pid" \
    >"$work/dnsmasq$sub.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    [ "$(ask lan.example A "$uport")" = "NOERROR 192.168.7.7 " ] &&
      [ "$(ask lan.example A "$dport")" = "NOERROR 192.168.7.7 " ] && break
    sleep 0.1
  done
  expect_common "$uport" $sub 1
  expect_common "$dport" $sub 0
  check export_to rpz "$work/rpz$sub.zone" $flag
  check /usr/bin/named-checkzone -q rpz.vellomar "$work/rpz$sub.zone"
done
# named serving the zone as its response policy: as root, in a network namespace of its own with
# only loopback, so that its forwarding (to a closed port) and any priming stay in the machine.
serve_rpz() { # PORT
  ip link set lo up
  /usr/sbin/named -g -c "$work/named.conf" >"$work/named.log" 2>&1 &
  for _ in $(seq 50); do
    [ "$(ask lan.example A "$1")" = "NOERROR 192.168.7.7 " ] && break  # the policy is loaded
    sleep 0.1
  done
  for q in 'ads.example A' 'lan.example A' 'lan.example AAAA' 'www.ads.example A'; do
    ask $q "$1"
  done
  kill "$(cat "$work/named.pid")"
}
if [ "$(id -u)" = 0 ] && [ -x /usr/sbin/named ] && [ -x /usr/bin/unshare ] && [ -x /usr/sbin/ip ]; then
  nport=$(port)
  cat >"$work/named.conf" <<EOF
options {
  directory "$work"; pid-file "$work/named.pid"; listen-on port $nport { 127.0.0.1; };
  listen-on-v6 { none; }; recursion yes; forwarders { 127.0.0.1 port 1; }; forward only;
  dnssec-validation no; response-policy { zone "rpz.vellomar"; } qname-wait-recurse no;
};
zone "rpz.vellomar" { type primary; file "$work/rpz0.zone"; };
EOF
  export -f serve_rpz ask
  export work
  answers=$(/usr/bin/unshare --net bash -c "serve_rpz $nport" | tr '\n' '|')
  check test "$answers" = "NXDOMAIN |NOERROR 192.168.7.7 |NOERROR fd00::7 |SERVFAIL |"
else
  echo "named not started: it needs root, unshare and ip (apt-get install bind9 iproute2)"
fi
check grep -qx '\*.ads.example CNAME .' "$work/rpz1.zone"
check grep -qx 'ads.example CNAME .' "$work/rpz0.zone"
absent '^\*' "$work/rpz0.zone"
exit $fail
