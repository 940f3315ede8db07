# A marks note that names marks the program never clears asks for nothing: it is said and
# removed, and the owner keeps the write bit. Of the leftover files, only those of the exact
# form the program writes, of a writer that is gone and owned by root, are removed.
chmod 644 /etc/hosts
printf '200 1\n' > /etc/.hosts.marks
for name in .hosts.new-999999-1 ..hosts.marks.new-999999-2 .hosts.ZRB.new-999999-3 \
            .hosts.new-something .hosts.new-999999-4x; do
  echo x > "/etc/$name"
done
chown 65534 /etc/.hosts.ZRB.new-999999-3
"$CLI" --folder "$R" merge H_0_Header.txt >/dev/null || echo "FAILED: merge"
"$CLI" --folder "$R" install > /dev/null 2>"$W/err"; code=$?
expect '[ $code = 0 ]'
expect '[ "$(stat -c %a /etc/hosts)" = 644 ]'
expect '[ ! -e /etc/.hosts.marks ]'
expect 'grep -q "Removed a marks note it could not read: /etc/.hosts.marks" "$R/vellomar_Log.txt"'
expect '[ "$(cd /etc && ls -A | grep new- | tr "\n" " ")" = ".hosts.ZRB.new-999999-3 .hosts.new-999999-4x .hosts.new-something " ]'
