# An installed program whose data home is the other user's link to a root-only folder:
# nothing is created there, and no command reads or installs from it.
mkdir -p "$W/usr/bin" "$W/usr/share/vellomar" "$W/home" "$W/secret"
chmod 700 "$W/home" "$W/secret"
cp "$CLI" "$W/usr/bin/" && cp -r "$SAMPLES" "$W/usr/share/vellomar/Hostfiles"
other "ln -s $W/secret $O/data && mkdir -p $O/share/vellomar &&
       printf '0.0.0.0 evil.example\n' > $O/share/vellomar/M_Hosts.txt"
for home in "$O/data" "$O/share"; do
  for command in list status install update; do
    HOME=$W/home XDG_DATA_HOME=$home "$W/usr/bin/vellomar-cli" $command >/dev/null 2>&1
    echo "$command $?"
  done
done > "$W/codes"
expect '[ "$(sort -u $W/codes)" = "$(printf "install 2\nlist 2\nstatus 2\nupdate 2")" ]'
expect '[ -z "$(ls -A $W/secret)" ]'
expect '! grep -q evil /etc/hosts'
