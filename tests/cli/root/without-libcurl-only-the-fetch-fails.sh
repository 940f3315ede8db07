# libcurl is loaded by the first fetch: on a system without it (here its file hidden under an
# empty one) every other command works, and a fetch fails with a message, the list untouched.
library=$(ldconfig -p | awk '$1 == "libcurl.so.4" && /x86-64/ {print $NF; exit}')
[ -n "$library" ] || exit 0
: > "$W/empty" && mount --bind "$W/empty" "$(readlink -f "$library")" || exit 99
echo 'http://127.0.0.1:9/list.txt' > "$R/Hostfiles/H_Web.url"
printf '0.0.0.0 kept.example\n' > "$R/Hostfiles/H_Web.txt"
"$CLI" --folder "$R" fetch > "$W/out" 2>&1; code=$?
expect '[ $code = 1 ] && grep -q "libcurl (libcurl.so.4) could not be loaded" "$W/out"'
expect '[ "$(cat "$R/Hostfiles/H_Web.txt")" = "0.0.0.0 kept.example" ]'
"$CLI" --folder "$R" merge H_0_Header.txt H_Web.txt > "$W/out" 2>&1; code=$?
expect '[ $code = 0 ] && grep -q "^0.0.0.0 kept.example" "$R/M_Hosts.txt"'
