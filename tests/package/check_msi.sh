#!/usr/bin/env bash
# check_msi.sh PACKAGE_DIR PREFIX [CLIENTS_DIR]
#
# Checks the Windows installers of PACKAGE_DIR under 64-bit Wine, in a fresh
# Wine prefix made at PREFIX (removed first): the 64-bit one installed
# silently from an older build of itself (made from its own files with a
# lower version), upgraded in place, its files and registry values, the
# installed xadriver check --dtc (with the client stand-ins of CLIENTS_DIR,
# when given, on WINEPATH), a folder of the user's choice, the DTC
# registration left out, and after each uninstall nothing left behind. The
# 32-bit one is installed beside it (Program Files (x86), the WOW6432Node
# view); its driver runs only where this machine executes 32-bit code
# (ZP_WINE32=1 says it does).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
packages=$(cd "$1" && pwd)
mkdir -p "$2"
prefix=$(cd "$2" && pwd)
clients=""
[ -n "${3:-}" ] && clients=$(cd "$3" && pwd)
version=$(sed -n 's/^project(zpor8dtc23 VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
msi64="$packages/zpor8dtc23-$version-win64.msi"
msi32="$packages/zpor8dtc23-$version-win32.msi"
failures=0
work=$(mktemp -d)

fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
ok() { echo "OK   $*"; }

export WINEARCH=win64 WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=/usr/lib/wine/wine64
unset DISPLAY
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

wine() { timeout 120 /usr/lib/wine/wine64 "$@"; }
# The Windows name of a file of this machine (Wine's drive Z: is /).
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# expect NAME STATUS TEXT command...: runs a Windows command, checks its exit
# status and that its output holds TEXT (a grep -E pattern).
expect() {
  local name=$1 status=$2 text=$3
  shift 3
  local rc=0
  wine "$@" >"$work/out" 2>&1 || rc=$?
  tr -d '\r' <"$work/out" >"$work/out.txt"
  if [ "$rc" -ne "$status" ]; then
    fail "$name: exit status $rc, not $status:"
    sed 's/^/     /' "$work/out.txt"
  elif [ -n "$text" ] && ! grep -qE -- "$text" "$work/out.txt"; then
    fail "$name: the output lacks /$text/:"
    sed 's/^/     /' "$work/out.txt"
  else
    ok "$name"
  fi
}

# The data of a registry value, or nothing when it is absent.
regValue() {  # key name
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z]* *//p"
}
regKeyExists() { wine reg query "$1" >/dev/null 2>&1; }
# The installed products' DisplayName lines (both views).
products() {
  for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
    'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'; do
    wine reg query "$key" /s 2>/dev/null | tr -d '\r' | sed -n 's/^ *DisplayName *REG_SZ *\(zpor8dtc23 .*\)/\1/p'
  done | sort
}

xadll='HKLM\SOFTWARE\Microsoft\MSDTC\XADLL'
xadll32='HKLM\SOFTWARE\WOW6432Node\Microsoft\MSDTC\XADLL'
settings='HKLM\SOFTWARE\zpor8dtc23'
settings32='HKLM\SOFTWARE\WOW6432Node\zpor8dtc23'
pf64="$prefix/drive_c/Program Files/zpor8dtc23"
pf32="$prefix/drive_c/Program Files (x86)/zpor8dtc23"

# nothing_left NAME: no file, folder, value or product of ours remains.
nothing_left() {
  local left=""
  # The registry answers at all (the value set at the start is there).
  [ "$(regValue 'HKLM\SOFTWARE\Microsoft\MSDTC\Security' XaTransactions)" = 0x1 ] ||
    left=" (the registry cannot be read)"
  [ -e "$pf64" ] && left="$left $pf64"
  [ -e "$pf32" ] && left="$left $pf32"
  [ -e "$prefix/drive_c/zpor8dtc23" ] && left="$left C:\\zpor8dtc23"
  [ -n "$(regValue "$xadll" zpor8dtc23.dll)" ] && left="$left $xadll"
  [ -n "$(regValue "$xadll32" zpor8dtc23.dll)" ] && left="$left $xadll32"
  regKeyExists "$settings" && left="$left $settings"
  regKeyExists "$settings32" && left="$left $settings32"
  [ -n "$(products)" ] && left="$left products: $(products | tr '\n' ' ')"
  if [ -z "$left" ]; then ok "$1: nothing remains"; else fail "$1: left behind:$left"; fi
}

# same NAME ACTUAL WANTED
same() {
  if [ "$2" = "$3" ]; then ok "$1: $2"; else fail "$1: \"$2\", not \"$3\""; fi
}

for file in "$msi64" "$msi32"; do
  [ -f "$file" ] || fail "no installer $(basename "$file")"
done
[ -f "$msi64" ] || exit 1

# An older build of the same installer to upgrade from: its own files, a
# lower version.
msiextract -C "$work/stage" "$msi64" >/dev/null
older=0.9.$((${version##*.}))
older64="$work/zpor8dtc23-$older-win64.msi"
sh "$here/../../packaging/msi/build-msi.sh" "$work/stage/zpor8dtc23" 64 "$older" "$older64" || fail "building $older64"
# The file list the installers put down.
(cd "$work/stage/zpor8dtc23" && find . -type f | sed 's|^\./||' | grep -v '\.wxs$' | sort) >"$work/msi.list"
if diff -u <(sort "$here/windows-msi.txt") "$work/msi.list" >"$work/diff"; then
  ok "the installer holds exactly the expected files ($(wc -l <"$work/msi.list"))"
else
  fail "the installer's files differ from windows-msi.txt (- expected, + found):"
  sed -n '3,$p' "$work/diff"
fi

rm -rf "$prefix"
mkdir -p "$prefix"
timeout 300 /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1
# What "Enable XA Transactions" sets, so that check --dtc can pass.
wine reg add 'HKLM\SOFTWARE\Microsoft\MSDTC\Security' /v XaTransactions /t REG_DWORD /d 1 /f >/dev/null 2>&1
if [ -n "$clients" ]; then
  WINEPATH=$(winpath "$clients")
  export WINEPATH
fi
cd "$work" || exit 1

# 1. The older build, with the diagnostic log's values.
expect "msiexec /i the older build ($older) with LOGFILE" 0 "" \
  msiexec /i "$(winpath "$older64")" /qn 'LOGFILE=C:\zplogs\zpxa.log' LOGLEVEL=verbose
same "after $older: the installed products" "$(products)" "zpor8dtc23 $older (64-bit)"
same "after $older: LogFile" "$(regValue "$settings" LogFile)" 'C:\zplogs\zpxa.log'

# 2. The upgrade in place, without repeating LOGFILE.
expect "msiexec /i $(basename "$msi64") (the upgrade)" 0 "" msiexec /i "$(winpath "$msi64")" /qn
same "after the upgrade: the installed products" "$(products)" "zpor8dtc23 $version (64-bit)"
rc=0
wine msiexec /i "$(winpath "$older64")" /qn >/dev/null 2>&1 || rc=$?
if [ "$rc" -ne 0 ] && [ "$(products)" = "zpor8dtc23 $version (64-bit)" ]; then
  ok "the older build refuses to replace the newer one (exit status $rc)"
else
  fail "the older build over the newer one: exit status $rc, products: $(products | tr '\n' ' ')"
fi
expect "the installed xadriver --version" 0 "^xadriver $version \\(64-bit\\)" 'C:\Program Files\zpor8dtc23\xadriver.exe' --version
for file in $(cat "$work/msi.list"); do
  [ -f "$pf64/$file" ] || fail "after the upgrade: $file is not installed"
done
same "XADLL value (64-bit view)" "$(regValue "$xadll" zpor8dtc23.dll)" 'C:\Program Files\zpor8dtc23\zpor8dtc23.dll'
same "the upgrade keeps LogFile" "$(regValue "$settings" LogFile)" 'C:\zplogs\zpxa.log'
same "the upgrade keeps LogLevel" "$(regValue "$settings" LogLevel)" verbose
same "LogLimit" "$(regValue "$settings" LogLimit)" 16777216

# 3. The installed driver checks the installed module and its registration.
status=1
[ -n "$clients" ] && status=0
expect "xadriver check --dtc: the XADLL value" $status \
  'OK   HKLM.SOFTWARE.Microsoft.MSDTC.XADLL names C:.Program Files.zpor8dtc23.zpor8dtc23.dll' \
  'C:\Program Files\zpor8dtc23\xadriver.exe' check --dtc
expect "xadriver check --dtc: XA transactions" $status 'OK   XA transactions are enabled' \
  'C:\Program Files\zpor8dtc23\xadriver.exe' check --dtc
expect "xadriver check: the log's folder is missing" $status \
  'WARN diagnostic log: C:.zplogs.zpxa.log from HKLM.SOFTWARE.zpor8dtc23 LogFile, level verbose[^;]*; its folder C:.zplogs does not exist' \
  'C:\Program Files\zpor8dtc23\xadriver.exe' check
mkdir -p "$prefix/drive_c/zplogs"
wine reg add "$settings" /v LogLimit /t REG_DWORD /d 65536 /f >/dev/null 2>&1
expect "xadriver check: a REG_DWORD LogLimit" $status \
  'OK   diagnostic log: C:.zplogs.zpxa.log from HKLM.SOFTWARE.zpor8dtc23 LogFile, level verbose, limit 65536 bytes; its folder exists' \
  'C:\Program Files\zpor8dtc23\xadriver.exe' check

# 4. Uninstall: files and every value gone.
expect "msiexec /x $(basename "$msi64")" 0 "" msiexec /x "$(winpath "$msi64")" /qn
nothing_left "after msiexec /x"

# 5. A folder of the user's choice, and without the DTC registration.
expect "msiexec /i INSTALLDIR=C:\\zpor8dtc23" 0 "" msiexec /i "$(winpath "$msi64")" /qn 'INSTALLDIR=C:\zpor8dtc23'
same "INSTALLDIR: XADLL value" "$(regValue "$xadll" zpor8dtc23.dll)" 'C:\zpor8dtc23\zpor8dtc23.dll'
[ -f "$prefix/drive_c/zpor8dtc23/xadriver.exe" ] && ok "INSTALLDIR: the files are in C:\\zpor8dtc23" ||
  fail "INSTALLDIR: no C:\\zpor8dtc23\\xadriver.exe"
same "without LOGFILE: no LogFile value" "$(regValue "$settings" LogFile)" ""
expect "msiexec /i INSTALLDIR=C:\\zpor8dtc23, again (a repair)" 0 "" msiexec /i "$(winpath "$msi64")" /qn
[ -f "$pf64/zpor8dtc23.dll" ] && fail "the repair installed into Program Files, not the folder chosen" ||
  ok "the repair keeps the folder chosen"
expect "msiexec /x (INSTALLDIR)" 0 "" msiexec /x "$(winpath "$msi64")" /qn
nothing_left "after msiexec /x (INSTALLDIR)"
expect "msiexec /i ADDLOCAL=Files" 0 "" msiexec /i "$(winpath "$msi64")" /qn ADDLOCAL=Files
[ -f "$pf64/zpor8dtc23.dll" ] && ok "ADDLOCAL=Files: the module is installed" || fail "ADDLOCAL=Files: no module"
same "ADDLOCAL=Files: no XADLL value" "$(regValue "$xadll" zpor8dtc23.dll)" ""
# The reg commands the installed driver prints, pasted into cmd.exe (a path
# with blanks), do what they say.
pasted() {  # NAME WANTED_VALUE driver arguments...
  local name=$1 wanted=$2 line
  shift 2
  line=$(wine 'C:\Program Files\zpor8dtc23\xadriver.exe' "$@" 2>&1 | tr -d '\r' | sed -n '/^reg /{p;q}')
  printf '@%s\r\n' "$line" >"$work/hint.bat"
  wine cmd /c "$(winpath "$work/hint.bat")" >/dev/null 2>&1
  same "$name, pasted into cmd.exe ($line)" "$(regValue "$xadll" zpor8dtc23.dll)" "$wanted"
}
pasted "register-dtc --dry-run's reg add" 'C:\Program Files\zpor8dtc23\zpor8dtc23.dll' register-dtc --dry-run
pasted "unregister-dtc --dry-run's reg delete" "" unregister-dtc --dry-run

# 6. The 32-bit installer beside the 64-bit one.
if [ -f "$msi32" ]; then
  expect "msiexec /i $(basename "$msi32") beside the 64-bit one" 0 "" \
    msiexec /i "$(winpath "$msi32")" /qn 'LOGFILE=C:\zplogs\zpxa32.log'
  for file in $(cat "$work/msi.list"); do
    [ -f "$pf32/$file" ] || fail "32-bit: $file is not in Program Files (x86)"
  done
  [ -f "$pf64/zpor8dtc23.dll" ] && ok "32-bit beside 64-bit: both folders" || fail "the 64-bit files went"
  same "32-bit: XADLL value (WOW6432Node)" "$(regValue "$xadll32" zpor8dtc23.dll)" \
    'C:\Program Files (x86)\zpor8dtc23\zpor8dtc23.dll'
  same "32-bit: LogFile (WOW6432Node)" "$(regValue "$settings32" LogFile)" 'C:\zplogs\zpxa32.log'
  same "32-bit: nothing in the 64-bit view" "$(regValue "$xadll" zpor8dtc23.dll)" ""
  if [ "${ZP_WINE32:-0}" = 1 ]; then
    # The client stand-ins on WINEPATH are 64-bit: none loads here.
    expect "the 32-bit xadriver check --dtc" 1 \
      'OK   HKLM.SOFTWARE.Microsoft.MSDTC.XADLL \(the 32-bit view[^)]*\) names C:.Program Files \(x86\).zpor8dtc23.zpor8dtc23.dll' \
      'C:\Program Files (x86)\zpor8dtc23\xadriver.exe' check --dtc
  else
    echo "SKIP the 32-bit driver: this machine does not run 32-bit code (ZP_WINE32=1 says it does)"
  fi
  expect "msiexec /x $(basename "$msi32")" 0 "" msiexec /x "$(winpath "$msi32")" /qn
fi
expect "msiexec /x (ADDLOCAL=Files)" 0 "" msiexec /x "$(winpath "$msi64")" /qn
nothing_left "after both uninstalled"

if [ "$failures" -ne 0 ]; then
  echo "$failures installer checks failed"
  exit 1
fi
echo "all installer checks passed"
