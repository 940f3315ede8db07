# A link the other user flips between its own folder and root's while root merges through
# it: every run is refused, and root's merged file never gets the other user's content.
"$CLI" --folder "$R" merge H_0_Header.txt >/dev/null || echo "FAILED: merge"
other "mkdir -p $O/mine/Hostfiles && printf '0.0.0.0 evil.example\n' > $O/mine/Hostfiles/H_0_Header.txt
       while [ ! -e $W/stop ]; do ln -sfn $O/mine $O/flip; ln -sfn $R $O/flip; done" &
for i in $(seq 40); do
  "$CLI" --folder "$O/flip" merge --output "$R/M_Hosts.txt" H_0_Header.txt >/dev/null 2>&1
  echo $?
done | sort -u > "$W/codes"
touch "$W/stop"; wait
expect '[ "$(cat $W/codes)" = 2 ]'
expect '! grep -q evil "$R/M_Hosts.txt"'
