# A host name holding a line break (set in a UTS namespace; the kernel's own files and
# tools cut it at the break, the system call does not) adds no line to the merged file:
# the placeholder stays and the summary says why.
case $(uname -m) in x86_64) call=170 ;; aarch64) call=161 ;; *) exit 0 ;; esac
unshare -u perl -e '$n = "box\n1.2.3.4 bank.example"; syscall($ARGV[0], $n, length $n) == 0 or die;
                    exec @ARGV[1..$#ARGV]' $call "$CLI" --folder "$R" merge H_0_Header.txt > "$W/out"
expect '! grep -q "^1.2.3.4" "$R/M_Hosts.txt"'
expect 'grep -q "^127.0.1.1.*#HOSTNAME#" "$R/M_Hosts.txt"'
expect 'grep -q "not a valid host name" "$W/out"'
