# --system names root's folder /var/lib/vellomar (here a fresh folder bound over /var/lib): made
# by root, mode 0755, and seeded with the installed samples, the sample header keeping the hosts
# file's entries of the user's own, which the update then installs again. Another user may read
# the folder once it is there, but not have it made.
mkdir -m 755 "$W/varlib" "$W/usr" && mount --bind "$W/varlib" /var/lib || exit 99
mkdir -p "$W/usr/bin" "$W/usr/share/vellomar"
cp "$CLI" "$W/usr/bin/" && cp -r "$SAMPLES" "$W/usr/share/vellomar/Hostfiles"
cli=$W/usr/bin/vellomar-cli
printf '127.0.0.1 localhost\n192.168.1.10 nas\nff02::1 ip6-allnodes\n' > /etc/hosts
other "$cli --system list" > "$W/out" 2>&1; code=$?
expect '[ $code = 2 ] && grep -q "/var/lib/vellomar does not exist; run this as root" "$W/out"'
expect '[ ! -e /var/lib/vellomar ]'
"$cli" --system list > "$W/out"; code=$?
expect '[ $code = 0 ] && grep -q "H_AdServers.txt" "$W/out"'
expect '[ "$(stat -c "%a %u %g" /var/lib/vellomar)" = "755 0 0" ]'
header=/var/lib/vellomar/Hostfiles/H_0_Header.txt
expect 'grep -q "^# Entries of your own, kept from /etc/hosts on " $header'
expect '[ "$(grep -c "192.168.1.10 nas" $header) $(grep -c allnodes $header)" = "1 1" ]'
other "$cli --system list" >/dev/null 2>&1; expect '[ $? = 0 ]'
# The samples are seeded once: a second start keeps the header as it is.
cp $header "$W/header"
"$cli" --system update > "$W/out" 2>&1; code=$?
expect '[ $code = 0 ] && cmp -s $header "$W/header"'
expect 'grep -q "^192.168.1.10 nas" /etc/hosts && cmp -s /etc/hosts /var/lib/vellomar/M_Hosts.txt'
"$cli" --system update > "$W/out" 2>&1; code=$?
expect '[ $code = 0 ] && grep -qx "HOSTS is up to date" "$W/out"'
"$cli" --system --folder /tmp list > "$W/out" 2>&1; code=$?
expect '[ $code = 2 ] && grep -q "give one" "$W/out"'
