# Under an address-space limit, neither program aborts, and each says "done" exactly when
# the hosts file holds the new bytes: 44 MB installs within 120 MB, which the verdict once
# took for a failure after the install had replaced the hosts file.
awk 'BEGIN { for (i = 0; i < 1400000; i++) printf "0.0.0.0 host%d.example.com\n", i }' \
  > "$W/big"
prlimit --as=125829120 "$CLI" --folder "$R" install "$W/big" >/dev/null 2>&1; code=$?
expect '[ $code = 0 ]'
expect 'cmp -s /etc/hosts "$W/big"'
sed 's/example/test/' "$W/big" > "$W/big2"
prlimit --as=125829120 "$HELPER" < "$W/big2" 2>/dev/null; code=$?
if [ $code = 0 ]; then expect 'cmp -s /etc/hosts "$W/big2"'; else expect 'cmp -s /etc/hosts "$W/big"'; fi
expect '[ $code != 134 ]'
