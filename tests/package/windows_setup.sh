#!/usr/bin/env bash
# The Windows setup program, installed and uninstalled under Wine in a Wine prefix of its own,
# made fresh in the folder of the setup program (build-windows/setup-test) and removed when the
# test passes. Builds nothing: it is given the setup program and the staged tree it was made of
# (share/windows/ in the build tree).
#   tests/package/windows_setup.sh SETUP_EXE STAGING_DIR
# Installs silently (twice: the second goes over the first), checks the installed files against
# the staged tree, the Add/Remove Programs entry and the Start menu entry, runs the installed
# vellomar-cli.exe list (which must use %LOCALAPPDATA%\vellomar, seeded with the samples), then
# uninstalls silently and checks that the files, the entry and the shortcut are gone and the
# user's data folder is kept. Prints "FAILED: ..." for each check that fails; exit 1 then,
# 77 (skipped) without Wine.
set -uo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 SETUP_EXE STAGING_DIR" >&2
  exit 2
fi
setup=$(realpath "$1") || exit 2
staging=$(realpath "$2") || exit 2
source_dir=$(realpath "$(dirname "$0")/../..")
[ -f "$setup" ] || { echo "no setup program $setup" >&2; exit 2; }
[ -f "$staging/bin/vellomar-cli.exe" ] || { echo "no staged tree in $staging" >&2; exit 2; }

wine_bin=$(command -v wine || command -v wine64 || echo /usr/lib/wine/wine64)
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [ ! -x "$wine_bin" ] || [ ! -x "$wineserver_bin" ]; then
  echo "skipped: no wine"
  exit 77
fi

work=$(dirname "$setup")/setup-test
rm -rf "$work"
mkdir -p "$work/wineprefix"
export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export DISPLAY=
export WINEDLLOVERRIDES="mscoree,mshtml="
fail=0
check() { if ! "$@"; then echo "FAILED: $*"; fail=1; fi; }
finish() {
  timeout 30 "$wineserver_bin" -k >/dev/null 2>&1
  if [ "$fail" = 0 ]; then rm -rf "$work"; else echo "kept for a look: $work"; fi
}
trap finish EXIT
# Runs a Windows program from the work folder, its output (without CRs) in $work/out.
win() {
  (cd "$work" && timeout 300 "$wine_bin" "$@") >"$work/out.raw" 2>"$work/err"
  local status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  return $status
}
# Waits until every program of the prefix has ended (the uninstaller runs a copy of itself).
settle() { timeout 120 "$wineserver_bin" -w; }

version=$(sed -n 's/^project(Vellomar VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
check test -n "$version"
check test "$(basename "$setup")" = "vellomar-$version-win64-setup.exe"

echo "Creating the Wine prefix in $WINEPREFIX"
"$wine_bin" wineboot -i >/dev/null 2>&1
settle
folder() { win cmd /c echo "%$1%" && cat "$work/out"; }
program_files=$(folder ProgramFiles)
local_app_data=$(folder LOCALAPPDATA)
program_data=$(folder ProgramData)
unix() { win winepath.exe -u "$1" && cat "$work/out"; }
install_dir_win="$program_files\\Vellomar"
install_dir=$(unix "$install_dir_win")
data_dir=$(unix "$local_app_data\\vellomar")
shortcut=$(unix "$program_data\\Microsoft\\Windows\\Start Menu\\Programs\\Vellomar.lnk")
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellomar'
if [ -z "$install_dir" ] || [ -z "$data_dir" ] || [ -z "$shortcut" ]; then
  echo "FAILED: the prefix's folders: '$program_files' '$local_app_data' '$program_data'"
  fail=1
  exit 1
fi
check test ! -e "$data_dir"

# ---- Install, then again over the first -------------------------------------------------------
for round in 1 2; do
  win "$setup" /S
  status=$?
  settle
  check test "$status" = 0
  [ "$status" = 0 ] || { echo "install $round: status $status"; cat "$work/err"; }
done

# The installed tree: the staged files, byte for byte, and the uninstaller; nothing else.
(cd "$staging" && find . -type f | sort) >"$work/staged"
(cd "$install_dir" 2>/dev/null && find . -type f | sort) >"$work/installed"
(cat "$work/staged"; echo ./Uninstall.exe) | sort >"$work/expected"
check diff "$work/expected" "$work/installed"
while read -r file; do
  check cmp -s "$staging/$file" "$install_dir/$file"
done <"$work/staged"
# What the program needs of an installed copy: the programs in bin\, the samples beside it.
check test -f "$install_dir/bin/vellomar-cli.exe"
check test -f "$install_dir/bin/vellomar-install-helper.exe"
samples=$(cd "$source_dir/data/Hostfiles" && ls)
check test -n "$samples"
# The samples as Windows reads them: every line ends in CR LF.
mkdir -p "$work/samples"
for sample in $samples; do
  sed 's/$/\r/' "$source_dir/data/Hostfiles/$sample" >"$work/samples/$sample"
  check cmp -s "$work/samples/$sample" "$install_dir/share/vellomar/Hostfiles/$sample"
done
# The Start menu entry is there exactly when the window program is.
if [ -f "$staging/bin/vellomar.exe" ]; then
  check test -f "$shortcut"
  display_icon="$install_dir_win\\bin\\vellomar.exe"
else
  check test ! -e "$shortcut"
  display_icon="$install_dir_win\\Uninstall.exe"
fi

# The Add/Remove Programs entry, in the 64-bit view only.
win reg query "$key" /reg:64
check test $? = 0
cp "$work/out" "$work/key"
value() {  # the type and the value of $1 in the key: "REG_SZ<TAB>text"
  sed -n "s/^ *$1 \{4\}\(REG_[A-Z_]*\) \{4\}/\1\t/p" "$work/key"
}
uninstaller="\"$install_dir_win\\Uninstall.exe\""
check test "$(value DisplayName)" = $'REG_SZ\tVellomar'
check test "$(value DisplayVersion)" = $'REG_SZ\t'"$version"
check test "$(value Publisher)" = $'REG_SZ\tThe Vellomar developers'
check test "$(value UninstallString)" = $'REG_SZ\t'"$uninstaller"
check test "$(value QuietUninstallString)" = $'REG_SZ\t'"$uninstaller /S"
check test "$(value InstallLocation)" = $'REG_SZ\t'"$install_dir_win"
check test "$(value DisplayIcon)" = $'REG_SZ\t'"$display_icon"
check test "$(value NoModify)" = $'REG_DWORD\t0x1'
check test "$(value NoRepair)" = $'REG_DWORD\t0x1'
# The size in KiB of the installed files, give or take a KiB a file for rounding.
size=$(value EstimatedSize | sed -n 's/^REG_DWORD\t0x\([0-9a-f]*\)$/\1/p')
check test -n "$size"
actual=$(find "$install_dir" -type f -printf '%s\n' | awk '{ s += $1 } END { print int(s / 1024) }')
files=$(wc -l <"$work/installed")
size=$((16#${size:-0}))
check test $((size - actual)) -le "$files" -a $((actual - size)) -le "$files"
win reg query 'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Vellomar' \
  /reg:64
check test $? != 0

# ---- The installed command line ---------------------------------------------------------------
# An installed program keeps its files in %LOCALAPPDATA%\vellomar, Hostfiles\ copied from the
# samples at the first start, and lists them.
win "$install_dir_win\\bin\\vellomar-cli.exe" list
check test $? = 0
for sample in $samples; do echo "  $sample"; done | sort >"$work/expected-list"
sort "$work/out" >"$work/list"
check diff "$work/expected-list" "$work/list"
for sample in $samples; do
  check cmp -s "$work/samples/$sample" "$data_dir/Hostfiles/$sample"
done
# A source of the user's own is listed from there too, and stays after the uninstall.
printf '0.0.0.0 mine.example\r\n' >"$data_dir/Hostfiles/H_Mine.txt"
win "$install_dir_win\\bin\\vellomar-cli.exe" list
check grep -qx '  H_Mine.txt' "$work/out"
# Nothing was written into the install folder.
(cd "$install_dir" && find . -newer "$work/installed" | sort) >"$work/changed"
check test ! -s "$work/changed"
(cd "$data_dir" && find . -type f | sort) >"$work/data-before"

# ---- Uninstall, as Add/Remove Programs does it ---------------------------------------------------
win "$install_dir_win\\Uninstall.exe" /S
check test $? = 0
settle
check test ! -e "$install_dir"
check test ! -e "$shortcut"
win reg query "$key" /reg:64
check test $? != 0
# The user's data folder is kept as it was.
(cd "$data_dir" 2>/dev/null && find . -type f | sort) >"$work/data-after"
check diff "$work/data-before" "$work/data-after"
check grep -qx './Hostfiles/H_Mine.txt' "$work/data-after"

if [ "$fail" = 0 ]; then
  echo "setup $(basename "$setup") ($(stat -c %s "$setup") bytes): installed, listed and uninstalled"
fi
exit "$fail"
