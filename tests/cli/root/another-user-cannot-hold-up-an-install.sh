# The other user holds a lock on /etc and cannot even open the install lock: root's
# installs go ahead at once.
"$CLI" --folder "$R" merge H_0_Header.txt >/dev/null || echo "FAILED: merge"
"$CLI" --folder "$R" install >/dev/null || echo "FAILED: first install"
other "flock /etc sh -c 'while [ ! -e $W/stop ]; do sleep 0.1; done'" &
other "flock -n /run/vellomar/install-*.lock true" 2>/dev/null && echo "FAILED: opened the lock"
start=$(date +%s)
timeout 20 "$CLI" --folder "$R" install >/dev/null; code=$?
touch "$W/stop"; wait
expect '[ $code = 0 ]'
expect '[ $(( $(date +%s) - start )) -lt 5 ]'
