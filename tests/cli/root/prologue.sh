# Sourced before each scenario, as root in a private mount namespace (unshare -m): a copy of
# the files of /etc the programs and the scenarios use, an empty /run, the other user's folder
# $O (nobody's), root's program folder $R with the sample sources. `other` runs a command as
# nobody; `expect` checks a condition and names it when it fails. $CLI, $HELPER, $SAMPLES and
# $W (the test's folder) come from the test.
set -u
mount --make-rprivate / || exit 99
mkdir "$W/etc" && for name in passwd group shadow gshadow hosts hostname nsswitch.conf \
    ld.so.cache ld.so.conf ld.so.conf.d localtime alternatives; do
  [ -e "/etc/$name" ] && cp -a "/etc/$name" "$W/etc/"
done
mount --bind "$W/etc" /etc || exit 99
mount -t tmpfs -o mode=755 tmpfs /run || exit 99
O=$W/other R=$W/root
mkdir -m 755 "$O" && chown 65534:65534 "$O"
mkdir -m 700 "$R" && cp -r "$SAMPLES" "$R/Hostfiles"
other() { setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "$1"; }
expect() { if ! eval "$1"; then echo "FAILED: $1"; fi; }
sums() { sha256sum /etc/passwd /etc/shadow; }
before=$(sums)
