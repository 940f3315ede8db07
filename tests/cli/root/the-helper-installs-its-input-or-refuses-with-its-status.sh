# Not an attack: the helper pkexec runs takes its input from stdin only, refuses with its
# statuses, keeps the first original (which restore --original puts back), writes through
# a link and never creates a hosts file.
printf '127.0.0.1 localhost\n127.0.1.1 box7\n' > /etc/hosts
cp /etc/hosts "$W/old"
codes=""
run() { "$@"; codes="$codes $?"; }
run sh -c "printf '0.0.0.0 a\n' | $HELPER"
expect 'cmp -s /etc/hosts.ZRB "$W/old" && cmp -s /etc/hosts.vellomar-original "$W/old"'
run sh -c "$HELPER < /dev/null"                      # empty
run sh -c "echo x | $HELPER /tmp/other"              # an argument
run sh -c "head -c 268435457 /dev/zero | $HELPER"    # past the cap
expect '[ "$(cat /etc/hosts)" = "0.0.0.0 a" ]'
run sh -c "printf '# [Start of H_A.txt entries]\n' | $HELPER"
run "$CLI" --folder "$R" restore --original >/dev/null
expect 'cmp -s /etc/hosts "$W/old" && cmp -s /etc/hosts.vellomar-original "$W/old"'
mv /etc/hosts /etc/real && ln -s real /etc/hosts
run sh -c "echo linked | $HELPER"
expect '[ -L /etc/hosts ] && [ "$(cat /etc/real)" = linked ]'
rm /etc/hosts
run sh -c "echo none | $HELPER"
expect '[ ! -e /etc/hosts ] && [ ! -L /etc/hosts ]'
expect '[ "$codes" = " 0 4 6 5 0 0 0 3" ]'
