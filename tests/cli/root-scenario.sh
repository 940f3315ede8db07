#!/bin/sh
# Runs one scenario of tests/cli/root/ (named by $1): by /bin/sh as root in a private mount
# namespace over a copy of the files of /etc it needs and an empty /run (see prologue.sh), so
# that the machine's own files are never touched. The scenario's checks print "FAILED: ..."
# lines; none may be printed. $CLI, $HELPER and $SAMPLES name what it runs and reads; a
# $SANITIZED build skips the scenario under a memory limit. Exit 77: skipped.
set -u
here=$(dirname "$0")/root
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null ||
    ! unshare -m sh -c 'mount --make-rprivate /' 2>/dev/null; then
  echo "needs root, a private mount namespace and setpriv"; exit 77
fi
case "$1" in
  *memory*) if [ "${SANITIZED:-0}" = 1 ]; then
      echo "the address sanitizer reserves more address space than any limit allows"; exit 77
    fi ;;
esac
W=$(mktemp -d) || exit 1
trap 'rm -rf "$W"' EXIT
chmod 755 "$W"
cat "$here/prologue.sh" "$here/$1.sh" "$here/epilogue.sh" > "$W/scenario.sh"
W=$W CLI=$CLI HELPER=$HELPER SAMPLES=$SAMPLES unshare -m /bin/sh "$W/scenario.sh" > "$W/report" 2>&1
status=$?
if [ "$status" != 0 ] || grep -q FAILED "$W/report"; then
  cat "$W/report"; echo "status $status"; exit 1
fi
