#!/usr/bin/env bash
# check_packages.sh PACKAGE_DIR REFRM_DIR
#
# Checks the packages in PACKAGE_DIR: each one's file list against the
# expected list beside this script, the version in the Windows files' version
# records and their word size. The Linux packages: the .debs' declared
# dependencies and shared libraries, lintian on each (no error, no warning;
# each override carries its reason), and what every Linux file needs
# (objdump -p) against the README's table. Then, as root, runs the README's
# Linux install commands as printed, installs the .debs, runs the installed
# xadriver (--version, check and a two-phase commit against the reference
# resource manager of REFRM_DIR), builds a small program against the -dev
# package with CMake's find_package and with pkg-config, runs the user
# guide's chapter on the databases as printed against private servers, and
# purges the packages again, also when a step fails. The .tar.gz is unpacked
# into a temporary folder and its driver run the same way.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
packages=$(cd "$1" && pwd)
refrm=$(cd "$2" && pwd)
version=$(sed -n 's/^project(zpor8dtc23 VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
major=${version%%.*}
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
# The .debs, in the order dpkg removes them.
debs="zpor8dtc23-sqlxa zpor8dtc23 libzpor8dtc23-dev libzpor8dtc23-$major"
failures=0
work=$(mktemp -d)
chmod 755 "$work"
installed=0

purge() {
  # shellcheck disable=SC2086
  timeout 120 dpkg --purge $debs >/dev/null 2>&1
}
cleanup() {
  if [ "$installed" -eq 1 ]; then
    purge || echo "FAIL could not remove the packages $debs"
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

# expected LIST: the expected file list with the version filled in. A line
# "PATH if FILE" is expected when the source tree has FILE, "PATH unless
# FILE" when it has not.
expected() {
  sed -e "s/{version}/$version/g" -e "s/{major}/$major/g" -e "s/{multiarch}/$multiarch/g" "$here/$1" |
    while IFS= read -r line; do
      case "$line" in
        *" if "*) [ -e "$root/${line##* if }" ] && echo "${line% if *}" ;;
        *" unless "*) [ -e "$root/${line##* unless }" ] || echo "${line% unless *}" ;;
        *) echo "$line" ;;
      esac
    done | sort
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

deb() { echo "$packages/${1}_${version}_amd64.deb"; }
tgz="$packages/zpor8dtc23-${version}-linux-x86_64.tar.gz"
for file in $(for p in $debs; do deb "$p"; done) "$tgz" "$packages/zpor8dtc23-${version}-win32.zip" \
  "$packages/zpor8dtc23-${version}-win64.zip"; do
  [ -f "$file" ] || fail "no package $(basename "$file")"
done
have_debs=1
for p in $debs; do [ -f "$(deb "$p")" ] || have_debs=0; done

# File lists: regular files and symbolic links (with their targets), without
# the top folder of the archives.
for p in $debs; do
  file=$(deb "$p")
  [ -f "$file" ] || continue
  dpkg-deb -c "$file" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' >"$work/$p.list"
  compare "$(basename "$file")" "deb-$p.txt" "$work/$p.list"
done

# ---------------------------------------------------------------------------
# The .debs' control data: what each declares it needs (read off its files),
# the runtime package's shared libraries (any later version of the soname
# serves: >=, not =), and lintian's verdict.
# needs PACKAGE WORD...: its Depends holds each word; "!WORD": holds it not.
needs() {
  local p=$1 depends word name
  shift
  [ -f "$(deb "$p")" ] || return 0
  depends=$(dpkg-deb -f "$(deb "$p")" Depends)
  for word in "$@"; do
    name=${word#!}
    if [ "$name" = "$word" ]; then
      case "$depends" in
        *"$name"*) ok "$p depends on $name" ;;
        *) fail "$p does not declare $name: $depends" ;;
      esac
    else
      case "$depends" in
        *"$name"*) fail "$p depends on $name: $depends" ;;
        *) ok "$p does not depend on $name" ;;
      esac
    fi
  done
}
needs "libzpor8dtc23-$major" libc6 libicu72 libstdc++6 '!libpq5'
needs libzpor8dtc23-dev "libzpor8dtc23-$major (= $version)"
needs zpor8dtc23 "libzpor8dtc23-$major (= $version)" libc6 libicu72 libstdc++6 '!libpq5' '!libmariadb3'
needs zpor8dtc23-sqlxa "libzpor8dtc23-$major (= $version)" libpq5 libmariadb3
if [ -f "$(deb "libzpor8dtc23-$major")" ]; then
  mkdir -p "$work/control"
  dpkg-deb -e "$(deb "libzpor8dtc23-$major")" "$work/control"
  for library in libzpor8dtc23 libzptrace; do
    if grep -qx "$library $major libzpor8dtc23-$major (>= $version)" "$work/control/shlibs" 2>/dev/null; then
      ok "the runtime package declares $library $major as libzpor8dtc23-$major (>= $version)"
    else
      fail "the runtime package's shlibs lacks \"$library $major libzpor8dtc23-$major (>= $version)\":"
      sed 's/^/     /' "$work/control/shlibs" 2>/dev/null
    fi
  done
  if grep -qx 'activate-noawait ldconfig' "$work/control/triggers" 2>/dev/null; then
    ok "the runtime package triggers ldconfig"
  else
    fail "the runtime package does not trigger ldconfig"
  fi
fi
if [ "$have_debs" -eq 1 ]; then
  if ! command -v lintian >/dev/null 2>&1; then
    fail "lintian is not installed"
  else
    # Every tag shown (information and overrides too); an error or a warning
    # fails. lintian warns that it runs as root: that line is dropped.
    # shellcheck disable=SC2046
    (cd "$work" && timeout 300 lintian -I --show-overrides $(for p in $debs; do deb "$p"; done)) 2>&1 |
      grep -v 'running with root privileges' >"$work/lintian.out"
    sed 's/^/     lintian: /' "$work/lintian.out"
    if grep -q '^[EW]: ' "$work/lintian.out"; then
      fail "lintian: errors or warnings (above)"
    else
      ok "lintian: no error, no warning on the $(echo $debs | wc -w) .debs"
    fi
  fi
fi

# What each Linux file needs (objdump -p), against the README's table "What
# the files need at run time": its rows for Linux files, the words of the
# "needs" column as the libraries they name.
library_of() {
  case "$1" in
    libc) echo libc.so.6 ;;
    ld.so) echo ld-linux-x86-64.so.2 ;;
    libstdc++) echo libstdc++.so.6 ;;
    libgcc_s) echo libgcc_s.so.1 ;;
    ICU) echo libicuuc.so.72 ;;
    libpq) echo libpq.so.5 ;;
    libmariadb) echo libmariadb.so.3 ;;
    *) echo "unknown:$1" ;;
  esac
}
if [ -f "$tgz" ]; then
  mkdir -p "$work/tgz"
  tar -xzf "$tgz" -C "$work/tgz"
  unpacked="$work/tgz/zpor8dtc23-${version}-linux-x86_64"
  rows=$(awk '/^What the files need at run time/ { on = 1 } on && /^\| `/ { print } on && /^$/ && seen { exit } on && /^\|/ { seen = 1 }' "$root/README.md")
  checked=0
  while IFS='|' read -r _ file_cell needs_cell _; do
    file=$(echo "$file_cell" | sed -n 's/^ *`\([^`]*\)`.*/\1/p')
    case "$file" in *.dll | *.exe | "") continue ;; esac
    found=$(find "$unpacked/bin" "$unpacked/lib" -name "$file*" -type f | head -1)
    if [ -z "$found" ]; then
      fail "README: \"$file\" is no file of the .tar.gz"
      continue
    fi
    wanted=$(echo "$needs_cell" | tr ',' '\n' | sed 's/^ *//;s/ *$//' | grep . |
      while read -r word; do library_of "$word"; done | sort)
    actual=$(objdump -p "$found" | sed -n 's/^ *NEEDED *//p' | sort)
    checked=$((checked + 1))
    if [ "$wanted" = "$actual" ]; then
      ok "README: $file needs $(echo "$needs_cell" | sed 's/^ *//;s/ *$//')"
    else
      fail "README: $file needs $(echo "$actual" | tr '\n' ' '), the README says $(echo "$wanted" | tr '\n' ' ')"
    fi
  done <<<"$rows"
  [ "$checked" -ge 5 ] || fail "README: $checked Linux rows in \"What the files need at run time\", not 5"
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
  drive "unpacked .tar.gz:" "$unpacked/bin/xadriver" "$unpacked/lib/$multiarch/libzpor8dtc23.so.$major"
  run "unpacked .tar.gz: xabank --version" 0 "xabank $version (64-bit)" "$unpacked/bin/xabank" --version
fi

# consumer NAME COMMAND...: builds the small program of consumer/ with
# COMMAND in a folder of its own, runs it: it links the module and takes its
# switch.
consumer() {
  local name=$1
  shift
  rm -rf "$work/consumer" && cp -r "$here/consumer" "$work/consumer"
  if (cd "$work/consumer" && "$@") >"$work/consumer.out" 2>&1; then
    run "$name" 0 'switch "Oracle8 Server"' "$work/consumer/consumer"
  else
    fail "$name: the build failed:"
    sed 's/^/     /' "$work/consumer.out"
  fi
}

if [ "$have_debs" -eq 1 ]; then
  installed_any=$(for p in $debs; do dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' && echo "$p"; done)
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP installing the .debs needs root"
  elif [ -n "$installed_any" ]; then
    fail "installed already: $(echo $installed_any); remove them (dpkg --purge $debs) to run this test"
  else
    installed=1
    # The README's Linux commands, as printed, from a copy of the packages'
    # folder: they install the .debs, run the driver, remove them again and
    # unpack the .tar.gz.
    mkdir -p "$work/readme"
    cp "$packages"/*.deb "$tgz" "$work/readme/"
    if "$here/doc_commands.sh" "$root/README.md" "### Linux" "$work/readme" >"$work/readme.out" 2>&1; then
      ok "README: every command of Install, Linux, ran as printed:"
    else
      fail "README: the commands of Install, Linux, as printed:"
    fi
    sed 's/^/     /' "$work/readme.out"

    # shellcheck disable=SC2046
    if timeout 120 dpkg -i $(for p in $debs; do deb "$p"; done) >"$work/dpkg.out" 2>&1; then
      ok "dpkg -i the $(echo $debs | wc -w) .debs"
      drive "installed .deb:" /usr/bin/xadriver "/usr/lib/$multiarch/libzpor8dtc23.so.$major"
      for name in "libzpor8dtc23.so.$major" libzpor8dtc23.so; do
        run "installed .deb: the module found by the name $name" 0 "the module loads and exports" \
          env LD_LIBRARY_PATH="$refrm" /usr/bin/xadriver --module "$name" check
      done
      run "installed .deb: xadriver names xabank for the bank" 2 "run xabank" /usr/bin/xadriver bank
      run "installed .deb: xabank --version" 0 "xabank $version (64-bit)" /usr/bin/xabank --version
      run "installed .deb: pkg-config" 0 "-lzpor8dtc23" pkg-config --cflags --libs zpor8dtc23
      consumer "installed -dev: a program built with find_package(zpor8dtc23)" \
        sh -c 'cmake -S . -B build && cmake --build build && cp build/consumer .'
      consumer "installed -dev: a program built with pkg-config zpor8dtc23" \
        sh -c 'cc consumer.c $(pkg-config --cflags --libs zpor8dtc23) -o consumer'
      consumer "unpacked .tar.gz: a program built with find_package(zpor8dtc23) from it" \
        sh -c "cmake -S . -B build -DCMAKE_PREFIX_PATH='$unpacked' -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF && cmake --build build && cp build/consumer ."
      # The manual pages say what --help says: every option of xabank's help.
      if [ -f /usr/share/man/man1/xabank.1.gz ]; then
        missing=$(/usr/bin/xabank --help | grep -o -- '--[a-z-]*' | sort -u | while read -r option; do
          zcat /usr/share/man/man1/xabank.1.gz | sed 's/\\-/-/g' | grep -qF -- "$option" || echo "$option"; done)
        if [ -z "$missing" ]; then
          ok "xabank(1) names every option of xabank --help"
        else
          fail "xabank(1) lacks $(echo "$missing" | tr '\n' ' ')"
        fi
      fi
      # The user guide's chapter on the databases, as printed, from a copy of
      # the packages' folder, against private servers; the connections file is
      # theirs, where the chapter's export names it.
      guide=$work/guide
      mkdir -p "$guide/home/zpor8dtc23" "$guide/run"
      cp "$packages"/*.deb "$guide/run/"
      if timeout 900 "$root/tools/servers/dbservers.sh" run "$guide/db" -- \
        sh -c 'cp "$ZPSQLXA_CONNECTIONS" "$1/home/zpor8dtc23/connections" && unset ZPSQLXA_CONNECTIONS &&
          HOME=$1/home "$2" "$3" "## PostgreSQL and MariaDB through the module" "$1/run"' \
        sh "$guide" "$here/doc_commands.sh" "$root/docs/user-guide.md" >"$work/guide.out" 2>&1; then
        ok "user guide: every command of \"PostgreSQL and MariaDB through the module\" ran as printed:"
      else
        fail "user guide: the commands of \"PostgreSQL and MariaDB through the module\", as printed:"
      fi
      sed 's/^/     /' "$work/guide.out"
    else
      fail "dpkg -i the .debs:"
      sed 's/^/     /' "$work/dpkg.out"
    fi
    if purge && [ ! -e "/usr/lib/$multiarch/libzpor8dtc23.so.$version" ] && [ ! -e /usr/bin/xadriver ] &&
      [ ! -e "/usr/lib/$multiarch/zpor8dtc23" ] && [ ! -e /usr/share/doc/zpor8dtc23 ]; then
      ok "dpkg --purge removes the .debs and their files"
      installed=0
    else
      fail "dpkg --purge $debs"
    fi
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package checks failed"
  exit 1
fi
echo "all package checks passed"
