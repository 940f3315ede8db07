#!/bin/sh
# Every fault during an install leaves the old or the whole new hosts file, and the log says
# what did not take effect. $1 runs one install (host_update_driver); $2 is the number of
# writes its runtime makes before the program's own (the address sanitizer's make 2).
#
# Each case runs the driver under strace in a private mount namespace after its setup ($H is
# hosts, $E etc, $O a copy of the old hosts, $S an empty folder). In a normal run write 1 fills
# the new hosts file's temporary file (checked before anything else is touched), write 2 the
# backup's; fsync 1 flushes the backup, 2 its folder, 3 the new hosts, 4 its folder (or the
# rewrite in place); rename 1 places the backup, 2 the hosts. Then a kill while the lock of
# hosts is off, repaired at the next start.
# Exit 77: skipped.
set -u
driver=$1 pre=${2:-0}
if [ "$(id -u)" != 0 ] || ! command -v strace >/dev/null ||
    ! unshare -m sh -c 'mount --make-rprivate /' 2>/dev/null; then
  echo "needs root, a private mount namespace and strace"; exit 77
fi
T=$(mktemp -d) || exit 1
trap 'rm -rf "$T"' EXIT
printf '127.0.0.1 localhost\r\n# [Start of H_Old.txt entries]\r\n# old hosts\r\n' > "$T/old"
printf '# short\r\n' > "$T/short"
# More than the 8 KB file systems below can take.
awk 'BEGIN { for (i = 0; i < 1200; i++) printf "0.0.0.0 ads%d.example\r\n", i }' > "$T/big"
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# case NAME SETUP INJECTIONS RESULT(new|old|damaged) BACKUP(yes|no) LOG [NEW(big|short)]
# LOG: the beginnings of the log lines, '|' between them; each ends in the hosts path.
case_() {
  D=$T/$1
  mkdir -p "$D/etc" "$D/small"
  cp "$T/old" "$D/etc/hosts"
  cp "$T/old" "$D/old"
  cp "$T/${7:-big}" "$D/M_Hosts.txt"
  strace="ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null"
  for injection in $3; do strace="$strace -e inject=$injection"; done
  H=$D/etc/hosts E=$D/etc O=$D/old S=$D/small unshare -m /bin/sh -c "set -e
    mount --make-rprivate /; $2 set +e
    $strace $driver $D/M_Hosts.txt \$H $D/log 2>/dev/null
    echo \$? > $D/status; cat \$H > $D/seen; cat \$H.ZRB > $D/bak 2>/dev/null; ls -A \$E > $D/list"
  killed=0 && case "$3" in *SIGKILL*) killed=1 ;; esac
  [ "$(cat "$D/status")" = "$([ $killed = 1 ] && echo 137 || echo 0)" ] || fail "$1: status"
  case "$4" in
    new) cmp -s "$D/seen" "$D/M_Hosts.txt" || fail "$1: not the new hosts" ;;
    old) cmp -s "$D/seen" "$T/old" || fail "$1: not the old hosts" ;;
    damaged) ! cmp -s "$D/seen" "$T/old" && ! cmp -s "$D/seen" "$D/M_Hosts.txt" ||
      fail "$1: said to be damaged, but whole" ;;
  esac
  if [ "$5" = yes ]; then cmp -s "$D/bak" "$T/old"; else [ ! -s "$D/bak" ]; fi ||
    fail "$1: backup"
  if [ $killed = 0 ]; then  # no temporary file left
    [ "$(cat "$D/list")" = "$([ "$5" = yes ] && printf 'hosts\nhosts.ZRB' || echo hosts)" ] ||
      fail "$1: left $(cat "$D/list")"
  fi
  : > "$D/want"
  if [ -n "$6" ]; then
    (IFS='|'; for line in $6; do printf '%s%s\n' "$line" "$D/etc/hosts"; done) > "$D/want"
  fi
  cmp -s "$D/want" "$D/log" 2>/dev/null || { [ ! -s "$D/want" ] && [ ! -e "$D/log" ]; } ||
    fail "$1: log $(cat "$D/log" 2>/dev/null)"
}

full="mount -t tmpfs -o size=8k tmpfs"  # room for the old hosts and the backup
bound="$full \$S; cp \$O \$S/hosts; mount --bind \$S/hosts \$H;"
busy="renameat:error=EBUSY:when=2"  # as for a mount point
copy="Could not Copy to "
case_ mount-point 'mount --bind $O $H;' "" new yes ""  # rewritten in place
case_ full-folder "$full \$E; cp \$O \$H;" "" old yes "$copy"
case_ full-in-place "$bound" "" old yes "$copy"  # the space reservation refuses
case_ full-write-in-place "$bound" "fallocate:error=EOPNOTSUPP" old yes "$copy"
case_ backup-not-flushed "" "fsync:error=EIO" old no "Did not backup |$copy"
case_ hosts-not-flushed "" "fsync:error=EIO:when=3" old yes "$copy"
case_ rename-refused "" "renameat:error=EACCES:when=2" old yes "Could not Kill "
case_ killed-writing-hosts "" "write:signal=SIGKILL:when=$((pre + 1))" old no ""
case_ killed-writing-backup "" "write:signal=SIGKILL:when=$((pre + 2))" old no ""
case_ killed-after-rename "" "fsync:signal=SIGKILL:when=4" new yes ""
case_ in-place-shorter "" "$busy" new yes "" short  # the rewrite cuts off the old tail
case_ in-place-short-write "" "$busy pwrite64:retval=1:when=1" old yes "$copy"
case_ in-place-truncate-fails "" "$busy ftruncate:error=EIO" old yes "$copy" short
case_ in-place-not-flushed "" "$busy fsync:error=EIO:when=4" old yes "$copy"
# The new bytes cannot be flushed, and the old ones cannot be written back over them.
case_ in-place-damaged "" "$busy fsync:error=EIO:when=4 pwrite64:error=EIO:when=2+" damaged yes \
  "HOSTS may be damaged: "

# A kill while the lock of hosts is off leaves a note of it; the next start puts the lock and
# the mode back and removes the temporary file the killed run left. Renames: 1 the backup, 2
# the note of the cleared marks, 3 the new hosts file.
D=$T/killed-unlocked
mkdir -p "$D/etc"
cp "$T/old" "$D/etc/hosts"
cp "$T/big" "$D/M_Hosts.txt"
chmod 444 "$D/etc/hosts"
if chattr +i "$D/etc/hosts" 2>/dev/null; then
  flags() { lsattr -d "$D/etc/hosts" | cut -c5; }  # 'i' when locked
  ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e inject=renameat:signal=SIGKILL:when=3 \
    "$driver" "$D/M_Hosts.txt" "$D/etc/hosts" "$D/log" 2>/dev/null
  cmp -s "$D/etc/hosts" "$T/old" || fail "killed-unlocked: hosts changed"
  [ "$(flags)$(stat -c %a "$D/etc/hosts")" = "-644" ] || fail "killed-unlocked: left locked"
  [ "$(ls -A "$D/etc" | wc -l)" = 4 ] || fail "killed-unlocked: no note or temporary file"
  "$driver" --recover "$D/etc/hosts" "$D/log" || fail "killed-unlocked: nothing recovered"
  [ "$(flags)$(stat -c %a "$D/etc/hosts")" = "i444" ] || fail "killed-unlocked: not repaired"
  chattr -i "$D/etc/hosts"
  [ "$(ls -A "$D/etc" | wc -l)" = 2 ] || fail "killed-unlocked: leftovers"
  [ "$(cat "$D/log")" = "Restored the marks of $D/etc/hosts" ] || fail "killed-unlocked: log"
  ! "$driver" --recover "$D/etc/hosts" "$D/log" || fail "killed-unlocked: recovered twice"
else
  echo "no inode flags on this file system: the kill with the lock off is not tried"
fi
exit $failed
