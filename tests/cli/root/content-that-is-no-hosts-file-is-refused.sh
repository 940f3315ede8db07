# No hosts file holds NUL bytes: a sparse list, a source or the helper's input with them
# is refused, named, never installed; the sparse one at once.
cp /etc/hosts "$W/hosts-before"
truncate -s 500M "$R/Hostfiles/H_Sparse.txt"
printf '0.0.0.0 a.example\n\0\n' > "$R/Hostfiles/H_Nul.txt"
start=$(date +%s)
"$CLI" --folder "$R" merge H_0_Header.txt H_Sparse.txt 2>"$W/err1"; code1=$?
"$CLI" --folder "$R" merge H_0_Header.txt H_Nul.txt 2>"$W/err2"; code2=$?
printf '0.0.0.0 a\0b\n' | "$HELPER"; code3=$?
head -c 4096 /dev/zero | "$HELPER"; code4=$?
expect '[ $(( $(date +%s) - start )) -lt 5 ]'
expect '[ "$code1 $code2 $code3 $code4" = "2 1 8 8" ]'
expect 'grep -q "H_Sparse.txt: too large" "$W/err1"'
expect 'grep -q "not merged: H_Nul.txt (holds NUL bytes" "$W/err2"'
expect 'cmp -s /etc/hosts "$W/hosts-before"'
