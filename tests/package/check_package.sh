#!/usr/bin/env bash
# Builds the Debian package from the build tree into a temporary folder and inspects it: its
# file list, lintian (no errors), the AppStream metainfo and the desktop entry. Ends with 77
# (skipped) when a tool is missing.
set -uo pipefail
build=$1
source_dir=$2
for tool in cpack file dpkg-deb dpkg-shlibdeps lintian appstreamcli desktop-file-validate; do
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
    /usr/share/doc/vellomar/copyright /usr/share/vellomar/Hostfiles/H_0_Header.txt; do
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
# The dependencies come from dpkg-shlibdeps: libc and Qt's widgets library at least.
depends=$(dpkg-deb -f "$deb" Depends)
check grep -q 'libc6' <<<"$depends"
check grep -q 'libqt6widgets6' <<<"$depends"

lintian -I --no-tag-display-limit "$deb" >"$out/lintian" 2>&1
cat "$out/lintian"
check test -z "$(grep '^E:' "$out/lintian")"
# Built with the hardening flags (PIE, bind now, fortified functions...).
check test -z "$(grep 'hardening-' "$out/lintian")"
check appstreamcli validate --no-net "$source_dir/share/metainfo/org.vellomar.Vellomar.metainfo.xml"
check desktop-file-validate "$source_dir/share/org.vellomar.Vellomar.desktop"
exit $fail
