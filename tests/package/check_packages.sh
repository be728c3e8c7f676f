#!/usr/bin/env bash
# check_packages.sh PACKAGE_DIR REFRM_DIR
#
# Checks the four packages in PACKAGE_DIR: each one's file list against the
# expected list beside this script, the .deb's declared dependencies, the
# version in the Windows files' version records and their word size. Then, as
# root, installs the .deb, runs the installed xadriver (--version, check and a
# two-phase commit against the reference resource manager of REFRM_DIR) and
# removes the package again, also when a step fails. The .tar.gz is unpacked
# into a temporary folder and its driver run the same way.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
packages=$(cd "$1" && pwd)
refrm=$(cd "$2" && pwd)
version=$(sed -n 's/^project(zpor8dtc23 VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
major=${version%%.*}
failures=0
work=$(mktemp -d)
installed=0

cleanup() {
  if [ "$installed" -eq 1 ]; then
    timeout 120 dpkg --purge zpor8dtc23 >/dev/null 2>&1 || echo "FAIL could not remove the package zpor8dtc23"
  fi
  rm -rf "$work"
}
trap cleanup EXIT
# A signal ends the script through exit, so the package is removed then too.
trap 'exit 1' INT TERM HUP

fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}
ok() { echo "OK   $*"; }

# expected LIST: the expected file list with the version filled in.
expected() {
  sed -e "s/{version}/$version/g" -e "s/{major}/$major/g" "$here/$1" | sort
}

# compare NAME LIST ACTUAL_FILE
compare() {
  if diff -u <(expected "$2") <(sort "$3") >"$work/diff"; then
    ok "$1 holds exactly the expected files ($(wc -l <"$3") entries)"
  else
    fail "$1 differs from $2 (- expected, + found):"
    sed -n '3,$p' "$work/diff"
  fi
}

# run NAME EXPECTED_STATUS EXPECTED_TEXT command...: runs a command with a
# time limit and checks its status and that its output holds the text.
run() {
  local name=$1 status=$2 text=$3
  shift 3
  local rc=0
  timeout 60 "$@" >"$work/out" 2>&1 || rc=$?
  if [ "$rc" -ne "$status" ]; then
    fail "$name: exit status $rc, not $status:"
    sed 's/^/     /' "$work/out"
  elif ! grep -qF -- "$text" "$work/out"; then
    fail "$name: the output lacks \"$text\":"
    sed 's/^/     /' "$work/out"
  else
    ok "$name: $text"
  fi
}

deb="$packages/zpor8dtc23_${version}_amd64.deb"
tgz="$packages/zpor8dtc23-${version}-linux-x86_64.tar.gz"
for file in "$deb" "$tgz" "$packages/zpor8dtc23-${version}-win32.zip" "$packages/zpor8dtc23-${version}-win64.zip"; do
  [ -f "$file" ] || fail "no package $(basename "$file")"
done

# File lists: regular files and symbolic links (with their targets), without
# the top folder of the archives.
if [ -f "$deb" ]; then
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' >"$work/deb.list"
  compare "$(basename "$deb")" linux-deb.txt "$work/deb.list"
  depends=$(dpkg-deb -f "$deb" Depends)
  for needed in libicu libc6 libstdc++6; do
    case "$depends" in
      *"$needed"*) ok "the .deb depends on $needed" ;;
      *) fail "the .deb does not declare $needed: $depends" ;;
    esac
  done
fi
if [ -f "$tgz" ]; then
  tar -tvzf "$tgz" | awk '$1 !~ /^d/ { $1=$2=$3=$4=$5=""; sub(/^ +/, ""); sub(/^[^\/]*\//, ""); print }' >"$work/tgz.list"
  compare "$(basename "$tgz")" linux-tgz.txt "$work/tgz.list"
fi
for bits in 32 64; do
  zip="$packages/zpor8dtc23-${version}-win$bits.zip"
  [ -f "$zip" ] || continue
  # The files sit at the top of the zip: unzipped into the folder the guide
  # and register-dtc.reg name, the DLL is where the registration says.
  unzip -Z1 "$zip" | grep -v '/$' >"$work/zip$bits.list"
  compare "$(basename "$zip")" windows-zip.txt "$work/zip$bits.list"
  mkdir -p "$work/zip$bits"
  unzip -q "$zip" -d "$work/zip$bits"
  top="$work/zip$bits"
  if [ "$bits" = 64 ]; then format=pei-x86-64 tools=x86_64-w64-mingw32; else format=pei-i386 tools=i686-w64-mingw32; fi
  for file in zpor8dtc23.dll zptrace.dll xadriver.exe; do
    [ -f "$top/$file" ] || continue
    if "$tools-objdump" -f "$top/$file" 2>/dev/null | grep -q "file format $format"; then
      ok "win$bits: $file is $format"
    else
      fail "win$bits: $file is not $format"
    fi
    # Only system DLLs: the GCC runtime, libstdc++ and winpthread are linked in.
    imports=$("$tools-objdump" -p "$top/$file" | sed -n 's/^\tDLL Name: //p' | tr '\n' ' ')
    others=$(echo "$imports" | tr ' ' '\n' | grep -viE '^(KERNEL32|USER32|ADVAPI32|msvcrt)\.dll$' | grep . | tr '\n' ' ')
    if [ -n "$imports" ] && [ -z "$others" ]; then
      ok "win$bits: $file imports system DLLs only ($imports)"
    else
      fail "win$bits: $file imports ${others:-nothing readable}"
    fi
    if "$tools-windres" -i "$top/$file" -O rc 2>/dev/null | grep -q "VALUE \"FileVersion\", \"$version.0"; then
      ok "win$bits: $file carries version $version.0"
    else
      fail "win$bits: $file does not carry version $version.0 in its version record"
    fi
  done
  if [ "$bits" = 64 ]; then key='\[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSDTC\\XADLL\]'; else key='WOW6432Node\\Microsoft\\MSDTC\\XADLL\]'; fi
  if grep -q "$key" "$top/register-dtc.reg" 2>/dev/null; then
    ok "win$bits: register-dtc.reg writes the key a $bits-bit DTC reads"
  else
    fail "win$bits: register-dtc.reg lacks the key a $bits-bit DTC reads"
  fi
  # Each word size its own folder, so that both fit on one 64-bit host.
  if [ "$bits" = 64 ]; then folder='C:\\\\zpor8dtc23\\\\'; else folder='C:\\\\zpor8dtc23-32\\\\'; fi
  if grep -q "^\"zpor8dtc23.dll\"=\"${folder}zpor8dtc23.dll\"" "$top/register-dtc.reg" 2>/dev/null; then
    ok "win$bits: register-dtc.reg names the $bits-bit folder of the guide"
  else
    fail "win$bits: register-dtc.reg does not name ${folder}zpor8dtc23.dll"
  fi
done

# The drivers of the installed packages, against the installed module.
export ZP_REFRM_JOURNAL_DIR="$work/journal"
mkdir -p "$ZP_REFRM_JOURNAL_DIR"
drive() {  # name driver module
  run "$1 xadriver --version" 0 "xadriver $version (64-bit)" "$2" --version
  run "$1 xadriver check" 0 "0 findings failed" env LD_LIBRARY_PATH="$refrm" "$2" check
  run "$1 xadriver check takes the installed module" 0 "OK   the module $3 is 64-bit" \
    env LD_LIBRARY_PATH="$refrm" "$2" check
  run "$1 xadriver run two-phase" 0 "every result as expected" env LD_LIBRARY_PATH="$refrm" "$2" run two-phase
}
if [ -f "$tgz" ]; then
  mkdir -p "$work/tgz"
  tar -xzf "$tgz" -C "$work/tgz"
  unpacked="$work/tgz/zpor8dtc23-${version}-linux-x86_64"
  drive "unpacked .tar.gz:" "$unpacked/bin/xadriver" "$unpacked/lib/libzpor8dtc23.so"
fi
if [ -f "$deb" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP installing the .deb needs root"
  elif dpkg-query -W -f='${Status}' zpor8dtc23 2>/dev/null | grep -q 'install ok installed'; then
    fail "zpor8dtc23 is installed already; remove it (dpkg --purge zpor8dtc23) to run this test"
  else
    installed=1
    if timeout 120 dpkg -i "$deb" >"$work/dpkg.out" 2>&1; then
      ok "dpkg -i $(basename "$deb")"
      drive "installed .deb:" /usr/bin/xadriver /usr/lib/libzpor8dtc23.so
      run "installed .deb: the module found by name" 0 "the module loads and exports" \
        env LD_LIBRARY_PATH="$refrm" /usr/bin/xadriver --module libzpor8dtc23.so check
    else
      fail "dpkg -i $(basename "$deb"):"
      sed 's/^/     /' "$work/dpkg.out"
    fi
    if timeout 120 dpkg --purge zpor8dtc23 >/dev/null 2>&1 && [ ! -e /usr/lib/libzpor8dtc23.so.$version ] &&
      ! dpkg-query -W zpor8dtc23 >/dev/null 2>&1; then
      ok "dpkg --purge zpor8dtc23 removes it"
      installed=0
    else
      fail "dpkg --purge zpor8dtc23"
    fi
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package checks failed"
  exit 1
fi
echo "all package checks passed"
