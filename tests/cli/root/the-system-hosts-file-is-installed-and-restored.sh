# Not an attack: with no --hosts the system's hosts file is installed and restored.
printf '127.0.0.1 localhost\n' > /etc/hosts
"$CLI" --folder "$R" merge H_0_Header.txt >/dev/null || echo "FAILED: merge"
"$CLI" --folder "$R" install >/dev/null; code1=$?
expect 'cmp -s /etc/hosts "$R/M_Hosts.txt"'
expect '[ "$(cat /etc/hosts.ZRB)" = "127.0.0.1 localhost" ]'
"$CLI" --folder "$R" restore > "$W/out"; code2=$?
expect '[ "$code1 $code2" = "0 0" ]'
expect '[ "$(cat /etc/hosts)" = "127.0.0.1 localhost" ]'
expect 'grep -qx "Restored /etc/hosts from its backup" "$W/out"'
# The first hosts file replaced comes back once; then there is nothing to do.
"$CLI" --folder "$R" restore --original >/dev/null
"$CLI" --folder "$R" restore --original > "$W/out"
expect 'grep -q "already holds the hosts file Vellomar first replaced" "$W/out"'
