#!/bin/sh
# build-msi.sh STAGE BITS VERSION OUTPUT
#
# Builds the Windows installer of one word size (32 or 64) from the files
# staged in STAGE (see zpor8dtc23.wxs) with wixl, then adds with msibuild
# what wixl cannot express: the condition of the diagnostic-log component
# (LOGFILE given) and the public properties msiexec passes on to the
# per-machine installation. An older VERSION makes an installer to upgrade
# from.
set -eu
[ $# -eq 4 ] || {
  echo "usage: build-msi.sh STAGE 32|64 VERSION OUTPUT" >&2
  exit 2
}
stage=$1 bits=$2 version=$3 output=$4
here=$(cd "$(dirname "$0")" && pwd)
case "$bits" in
  64) arch=x64 win64=yes ;;
  32) arch=x86 win64=no ;;
  *) echo "build-msi.sh: BITS is 32 or 64, not $bits" >&2; exit 2 ;;
esac
case "$output" in /*) ;; *) output=$PWD/$output ;; esac
cp "$here/zpor8dtc23.wxs" "$stage/zpor8dtc23.wxs"
# wixl reads the sources relative to the current folder.
(cd "$stage" && wixl -a "$arch" -D Win64="$win64" -D Version="$version" -o "$output" zpor8dtc23.wxs)
msibuild "$output" -q "UPDATE Component SET Condition = 'LOGFILE' WHERE Component = 'DiagLogValues'"
msibuild "$output" -q "UPDATE Property SET Value = 'INSTALLDIR;LOGFILE;LOGLEVEL;LOGLIMIT;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE Property = 'SecureCustomProperties'"
