# The same with install and a link to /etc/shadow: nothing written, no copy of the shadow
# file left in the other user's folder.
"$CLI" --folder "$R" merge H_0_Header.txt >/dev/null || echo "FAILED: merge"
other "mkdir -p $O/img/etc && ln -s /etc/shadow $O/img/etc/hosts"
"$CLI" --folder "$R" --hosts "$O/img/etc/hosts" install 2>/dev/null; code=$?
expect '[ $code = 2 ]'
expect '[ "$(ls -A $O/img/etc)" = hosts ]'
