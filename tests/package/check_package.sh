#!/usr/bin/env bash
# Builds the Debian package from the build tree into a temporary folder and inspects it: its
# file list, lintian (no errors), the AppStream metainfo, the desktop entry and the units of the
# daily update. Ends with 77 (skipped) when a tool is missing.
set -uo pipefail
build=$1
source_dir=$2
for tool in cpack file dpkg-deb dpkg-shlibdeps lintian appstreamcli desktop-file-validate \
    systemd-analyze systemctl; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail=0
check() { if ! "$@"; then echo "FAILED: $*"; fail=1; fi; }

cpack -G DEB -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/vellomar_*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort >"$out/files"
for want in /usr/bin/vellomar /usr/bin/vellomar-cli /usr/libexec/vellomar/vellomar-install-helper \
    /usr/share/polkit-1/actions/org.vellomar.hosts.install.policy \
    /usr/share/applications/org.vellomar.Vellomar.desktop \
    /usr/share/metainfo/org.vellomar.Vellomar.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/vellomar.svg \
    /usr/share/man/man1/vellomar.1.gz /usr/share/man/man1/vellomar-cli.1.gz \
    /usr/share/doc/vellomar/copyright /usr/share/vellomar/Hostfiles/H_0_Header.txt \
    /usr/lib/systemd/system/vellomar-update.service /usr/lib/systemd/system/vellomar-update.timer; do
  check grep -qx "$want" "$out/files"
done
for size in 16 32 48 64 128; do
  check grep -qx "/usr/share/icons/hicolor/${size}x${size}/apps/vellomar.png" "$out/files"
done
# Nothing outside /usr; the helper is the one the action names.
check test -z "$(grep -v '^/usr' "$out/files" | grep -vx '/')"
dpkg-deb -x "$deb" "$out/root"
check grep -q '>/usr/libexec/vellomar/vellomar-install-helper<' \
  "$out/root/usr/share/polkit-1/actions/org.vellomar.hosts.install.policy"
# Every install asks: an authorization kept for minutes would let any program of the user rewrite
# the hosts file through the helper without a prompt.
check test "$(grep -c '<allow_[a-z]*>auth_admin</allow_' \
  "$out/root/usr/share/polkit-1/actions/org.vellomar.hosts.install.policy")" = 3
# The daily update runs the packaged command line, and the package turns nothing on: no
# maintainer script, no link that enables the timer.
units=$out/root/usr/lib/systemd/system
check grep -qx 'ExecStart=/usr/bin/vellomar-cli --system update --fetch' "$units/vellomar-update.service"
dpkg-deb -e "$deb" "$out/control"
check test -z "$(ls "$out/control" | grep -vx -e control -e md5sums)"
check test "$(systemctl --root="$out/root" is-enabled vellomar-update.timer)" = disabled
# systemd-analyze verify takes every unit from the root: the machine's own (not an installed
# Vellomar's) go beside the package's; the manual page comes from the package too. It reports
# some faults (an unknown key, a bad value) only as output, so the output must be empty.
mkdir -p "$out/root/lib/systemd"
cp -a /lib/systemd/system "$out/root/lib/systemd/" && rm -f "$out/root/lib/systemd/system/vellomar-"*
man_check=$(command -v man >/dev/null && echo yes || echo no)
MANPATH=$out/root/usr/share/man systemd-analyze verify --man="$man_check" --root="$out/root" \
  /usr/lib/systemd/system/vellomar-update.service /usr/lib/systemd/system/vellomar-update.timer \
  >"$out/verify" 2>&1
verified=$?
check test "$verified" = 0 -a ! -s "$out/verify"
cat "$out/verify"
exposure=$(systemd-analyze security --offline=true "$units/vellomar-update.service" 2>&1 |
  sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "exposure of vellomar-update.service: ${exposure:-none}"
check awk -v e="$exposure" 'BEGIN { exit !(e != "" && e + 0 <= 3.0) }'
# The dependencies come from dpkg-shlibdeps: libc and Qt's widgets library at least; libcurl,
# which the first fetch loads, is named by hand.
depends=$(dpkg-deb -f "$deb" Depends)
check grep -q 'libc6' <<<"$depends"
check grep -q 'libqt6widgets6' <<<"$depends"
check grep -q 'libcurl4 (>= 7.85.0)' <<<"$depends"

lintian -I --no-tag-display-limit "$deb" >"$out/lintian" 2>&1
cat "$out/lintian"
check test -z "$(grep '^E:' "$out/lintian")"
# Built with the hardening flags (PIE, bind now, fortified functions...).
check test -z "$(grep 'hardening-' "$out/lintian")"
check appstreamcli validate --no-net "$source_dir/share/metainfo/org.vellomar.Vellomar.metainfo.xml"
check desktop-file-validate "$source_dir/share/org.vellomar.Vellomar.desktop"
exit $fail
