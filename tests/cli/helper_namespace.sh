#!/bin/sh
# Runs vellomar-install-helper ($1) and vellomar-cli ($2) as root against a fresh tmpfs /etc in
# this private mount namespace, saving exit statuses and files to $3. Program folder: $4.
set -u
helper=$1 cli=$2 out=$3 folder=$4
mount --make-rprivate / && mount -t tmpfs -o size=1m tmpfs /etc || exit 99
old='127.0.0.1 localhost
127.0.1.1 box7'
printf '%s\n' "$old" > /etc/hosts
codes=""
run() { "$@"; codes="$codes $?"; }
run sh -c "printf 'a\0b\n' | $helper"                  # NUL bytes: no hosts file, refused
run sh -c "printf '0.0.0.0 a\n' | $helper"
cp /etc/hosts "$out/first"; cp /etc/hosts.ZRB "$out/zrb"; cp /etc/hosts.vellomar-original "$out/orig"
run sh -c "$helper < /dev/null"                        # empty: refused
run sh -c "echo x | $helper /tmp/other"                # any argument: refused
run sh -c "head -c 268435457 /dev/zero | $helper"      # 256 MiB + 1: refused
cp /etc/hosts "$out/after-refusals"
run sh -c "printf '# [Start of H_A.txt entries]\n' | $helper"
run "$cli" --folder "$folder" restore --original       # the first original comes back
cp /etc/hosts "$out/restored"; cp /etc/hosts.vellomar-original "$out/orig2"
mv /etc/hosts /etc/real; ln -s real /etc/hosts         # a link stays a link
run sh -c "echo linked | $helper"
cp /etc/real "$out/real"; [ -L /etc/hosts ] && echo link > "$out/is-link"
rm /etc/hosts
run sh -c "echo none | $helper"                        # no hosts file: none is created
[ -e /etc/hosts ] || [ -L /etc/hosts ] || echo none > "$out/no-hosts"
echo "$codes" > "$out/codes"
