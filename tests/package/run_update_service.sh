#!/usr/bin/env bash
# Runs the packaged vellomar-update.service for real, under systemd as PID 1 in a throw-away
# Debian 12 container (systemd-nspawn), and checks that its sandbox lets the install do its
# work: /etc/hosts replaced (immutable before, immutable after), its backup and the original
# kept, the lock folder /run/vellomar root's and closed, while /usr stays out of its reach.
# The container's /etc/hosts is its own, never the machine's; the container has no network and
# root's folder no subscription, so the fetch has nothing to fetch.
#
#   tests/package/run_update_service.sh build/vellomar_*.deb
#
# Needs root, debootstrap and systemd-nspawn (systemd-container). The base root is made once
# (debootstrap from apt's mirror, with systemd) in $UNITS_ROOT_BASE (default
# /var/tmp/vellomar-units-base); each run works on an overlay that is thrown away.
#
# The service runs with a drop-in that changes its command only: "update" of a folder seeded
# here, without fetching, so that the run needs no network. Every sandbox setting is the
# package's own.
set -euo pipefail
deb=$(readlink -f "${1:?usage: $0 DEB}")
base=${UNITS_ROOT_BASE:-/var/tmp/vellomar-units-base}
for tool in debootstrap systemd-nspawn; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
[ "$(id -u)" = 0 ] || { echo "skipped: needs root"; exit 77; }
if [ ! -f "$base/.ready" ]; then
  mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -1)
  [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list)
  rm -rf "$base"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm "$base" "$mirror" >/dev/null
  touch "$base/.ready"
fi
# The libraries the package depends on (libcurl, Qt...), as installing it would bring them.
deps=$(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/|[^,]*//g; s/,/ /g')
missing=$(for dep in $deps; do
  chroot "$base" dpkg-query -W -f='${Status}' "$dep" 2>/dev/null | grep -q 'ok installed' ||
    echo "$dep"
done)
if [ -n "$missing" ]; then
  chroot "$base" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install \
    -y -qq --no-install-recommends $(echo $missing)" >/dev/null
fi
work=$(mktemp -d /var/tmp/vellomar-units-run.XXXXXX)
mkdir "$work/upper" "$work/wk" "$work/root"
trap 'rm -rf "$work"' EXIT
# What the run adds to the base goes into the overlay's upper folder, before the overlay is
# mounted (in the container's own mount namespace, below).
R=$work/upper
dpkg-deb -x "$deb" "$R"

# A hosts file Vellomar did not write; root's folder is made by systemd and seeded by the
# program. (A folder made in the upper folder lends the merged one its mode: /root keeps its
# own.)
mkdir -p "$R/etc" && install -d -m 0700 "$R/root"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n' >"$R/etc/hosts"
# A second service with the same sandbox that says what it may do.
mkdir -p "$R/usr/local/bin"
cat >"$R/usr/local/bin/vellomar-probe" <<'EOF'
#!/bin/sh
touch /usr/vellomar-probe && echo usr-writable
touch /var/lib/vellomar/probe && echo state-writable
grep -E '^(CapBnd|Seccomp|NoNewPrivs):' /proc/self/status
EOF
chmod 755 "$R/usr/local/bin/vellomar-probe"
mkdir -p "$R/etc/systemd/system"
sed -e 's|^ExecStart=.*|ExecStart=/usr/local/bin/vellomar-probe|' \
  "$R/usr/lib/systemd/system/vellomar-update.service" >"$R/etc/systemd/system/vellomar-probe.service"

# Started at boot: marks the hosts file immutable, runs both services, records what happened,
# powers off.
cat >"$R/root/check.sh" <<'EOF'
#!/bin/sh
exec >/root/result 2>&1
chattr +i /etc/hosts && echo "immutable before: yes"
systemctl start vellomar-update.service; echo "start status: $?"
systemctl show -p Result -p ExecMainStatus vellomar-update.service
journalctl -q -o cat -u vellomar-update.service
lsattr /etc/hosts
ls -ld /etc/hosts /etc/hosts.ZRB /etc/hosts.vellomar-original /run/vellomar
cmp /etc/hosts /var/lib/vellomar/M_Hosts.txt && echo "hosts file: the merged one"
ls /var/lib/vellomar/Hostfiles
systemctl start vellomar-probe.service
journalctl -q -o cat -u vellomar-probe.service
echo "end"
EOF
chmod 755 "$R/root/check.sh"
cat >"$R/etc/systemd/system/vellomar-check.service" <<'EOF'
[Unit]
After=multi-user.target
[Service]
Type=oneshot
ExecStart=/root/check.sh
ExecStartPost=/bin/systemctl poweroff --no-block
[Install]
WantedBy=multi-user.target
EOF
mkdir -p "$R/etc/systemd/system/multi-user.target.wants"
ln -sf /etc/systemd/system/vellomar-check.service "$R/etc/systemd/system/multi-user.target.wants/"

# In a mount namespace of its own, with /run on a tmpfs: systemd-nspawn keeps its working
# folders there and clears them afterwards, which it refuses to do on a disk. Not registered with
# a systemd on the machine (there may be none).
timeout 300 unshare -m --propagation private sh -c '
  mount -t overlay overlay -o lowerdir="$1",upperdir="$2/upper",workdir="$2/wk" "$2/root" &&
  mount -t tmpfs tmpfs /run &&
  exec systemd-nspawn --quiet --register=no --keep-unit --private-network -D "$2/root" --boot' \
  nspawn "$base" "$work" >"$work/boot.log" 2>&1 ||
  { echo "the container did not run:"; cat "$work/boot.log"; }
cat "$R/root/result" 2>/dev/null || { echo "no result"; exit 1; }

fail=0
expect() { grep -q "$1" "$R/root/result" || { echo "FAILED: $2"; fail=1; }; }
expect '^immutable before: yes$' 'the hosts file was made immutable first'
expect '^start status: 0$' 'the service ran and succeeded'
expect '^Result=success$' 'systemd saw it succeed'
expect '^----i.*/etc/hosts$' 'the new hosts file is immutable again'
expect '^-rw-r--r-- .* root root .* /etc/hosts.ZRB$' 'the backup is there'
expect '^-rw-r--r-- .* root root .* /etc/hosts.vellomar-original$' 'the original is kept'
expect '^drwx------ .* root root .* /run/vellomar$' 'the lock folder is root'"'"'s and closed'
expect '^hosts file: the merged one$' 'the hosts file holds the merge'
expect '^H_0_Header.txt$' 'root'"'"'s folder was seeded with the samples'
expect '^state-writable$' 'the program folder is writable'
grep -q '^usr-writable$' "$R/root/result" && { echo "FAILED: /usr was writable"; fail=1; }
# CAP_CHOWN, CAP_FOWNER and CAP_LINUX_IMMUTABLE (bits 0, 3, 9) only; a system call filter.
expect '^CapBnd:[[:space:]]*0000000000000209$' 'the capabilities are the three named'
expect '^Seccomp:[[:space:]]*2$' 'the system call filter is on'
expect '^NoNewPrivs:[[:space:]]*1$' 'no new privileges'
[ $fail = 0 ] && echo "the service did its work in its sandbox"
exit $fail
