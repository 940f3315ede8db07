# --hosts names another user's folder, where a link points at /etc/passwd and a planted
# backup holds a password-less root: restore must not put it there.
other "mkdir -p $O/img/etc && ln -s /etc/passwd $O/img/etc/hosts &&
       printf 'root::0:0:root:/root:/bin/sh\n' > $O/img/etc/hosts.ZRB"
"$CLI" --folder "$R" --hosts "$O/img/etc/hosts" restore 2>"$W/err"; code=$?
expect '[ $code = 2 ]'
expect 'grep -q "other users can change" "$W/err"'
