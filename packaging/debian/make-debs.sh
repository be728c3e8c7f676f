#!/usr/bin/env bash
# make-debs.sh BUILD_DIR OUT_DIR
#
# The Debian packages of a configured and built native build folder: each
# package of ./packages gets its install components (`cmake --install
# --component`, prefix /usr, stripped), a machine-readable copyright file from
# LICENSE, the Debian changelog (./changelog, whose latest entry must carry
# the project's version), its manual pages compressed, md5sums, and the
# dependencies its files need (dpkg-shlibdeps). The runtime package declares
# its shared libraries (shlibs: any later version of the same soname serves)
# and the ldconfig trigger. Builds OUT_DIR/<package>_<version>_<arch>.deb.
set -euo pipefail
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
umask 022

version=$(sed -n 's/^project(zpor8dtc23 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
major=${version%%.*}
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=lib/$multiarch
changelog_version=$(sed -n '1s/^zpor8dtc23 (\([^)]*\)).*/\1/p' "$here/changelog")
if [ "$changelog_version" != "$version" ]; then
  echo "make-debs: packaging/debian/changelog's latest entry is $changelog_version, the project is $version" >&2
  exit 1
fi
maintainer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$here/changelog" | head -1)
# Every file of a package carries the time of the changelog's latest entry,
# so that the same tree makes the same package.
export SOURCE_DATE_EPOCH
SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*>  //p' "$here/changelog" | head -1)" +%s)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The copyright file: the Debian machine-readable format, the licence's text
# from LICENSE (an empty line as " .").
copyright() {
  printf 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n'
  printf 'Upstream-Name: zpor8dtc23\n\n'
  printf 'Files: *\n'
  sed -n 's/^Copyright (c) /Copyright: /p' "$root/LICENSE"
  printf 'License: Expat\n'
  sed -n '/^Permission/,$p' "$root/LICENSE" | sed -e 's/^$/./' -e 's/^/ /'
}

# stanza NAME: the stanza of ./packages for package NAME, version and
# library folder filled in.
stanza() {
  awk -v name="$1" '/^#/ { next } /^Package: / { on = ($2 == name) } on' "$here/packages" |
    sed -e "s/@VERSION@/$version/g" -e "s|@LIBDIR@|$libdir|g" | sed -e '/^$/d'
}

packages=$(sed -n 's/^Package: //p' "$here/packages")
for package in $packages; do
  tree=$work/$package
  mkdir -p "$tree/DEBIAN"
  for component in $(stanza "$package" | sed -n 's/^Components: //p'); do
    DESTDIR=$tree cmake --install "$build" --prefix /usr --strip --component "$component" >/dev/null
  done
  # The pkg-config file names the prefix itself: the packages' is /usr.
  for pc in "$tree"/usr/"$libdir"/pkgconfig/*.pc; do
    [ -f "$pc" ] && sed -i 's|^prefix=.*|prefix=/usr|' "$pc"
  done
  # Debian's place for the docs is the package's own folder; the driver
  # package is named zpor8dtc23, as the folder the install tree uses.
  doc=$tree/usr/share/doc/$package
  if [ "$package" != zpor8dtc23 ] && [ -d "$tree/usr/share/doc/zpor8dtc23" ]; then
    mkdir -p "$doc"
    mv "$tree/usr/share/doc/zpor8dtc23"/* "$doc/"
    rmdir "$tree/usr/share/doc/zpor8dtc23"
  fi
  mkdir -p "$doc"
  copyright >"$doc/copyright"
  gzip -9n <"$here/changelog" >"$doc/changelog.gz"
  rm -f "$doc/LICENSE"
  if [ -d "$tree/usr/share/man" ]; then
    find "$tree/usr/share/man" -type f -name '*.[0-9]' -exec gzip -9n {} +
  fi
  # The licence stays in the copyright file only, the changes in changelog.gz.
  find "$tree/usr/share/doc" \( -name LICENSE -o -name CHANGELOG.md \) -delete

  elves=()
  while IFS= read -r -d '' file; do
    if [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ]; then elves+=("$file"); fi
  done < <(find "$tree/usr" -type f -print0)
  # The compilers' version notes are no part of a program.
  for file in "${elves[@]}"; do
    objcopy --remove-section=.comment "$file"
  done
  # xadriver's manual page comes from docs/man/ when the tree has it; until
  # then lintian's no-manual-page is overridden (its --help is complete).
  if [ -x "$tree/usr/bin/xadriver" ] && [ ! -e "$tree/usr/share/man/man1/xadriver.1.gz" ]; then
    mkdir -p "$tree/usr/share/lintian/overrides"
    cp "$here/zpor8dtc23.lintian-overrides" "$tree/usr/share/lintian/overrides/$package"
  fi

  # Dependencies read off the ELF files; the package's own shared libraries
  # are declared for the packages that link them.
  shlibs=
  if [ ${#elves[@]} -gt 0 ]; then
    mkdir -p "$work/src/debian"
    printf 'Source: zpor8dtc23\n\nPackage: %s\nArchitecture: any\n' "$package" >"$work/src/debian/control"
    shlibs=$(cd "$work/src" && dpkg-shlibdeps -O -S"$tree" "${elves[@]}" 2>"$work/shlibdeps.err" |
      sed -n 's/^shlibs:Depends=//p') || {
      cat "$work/shlibdeps.err" >&2
      exit 1
    }
  fi
  if [ "$package" = "libzpor8dtc23-$major" ]; then
    for library in libzpor8dtc23 libzptrace; do
      printf '%s %s %s (>= %s)\n' "$library" "$major" "$package" "$version"
    done >"$tree/DEBIAN/shlibs"
    # The exported symbols, each with the version that brought it: the
    # committed list (./<package>.symbols) must match the libraries exactly,
    # so that a symbol lost or added fails here rather than in a user's
    # program (a new one goes into the list with the version it comes in).
    cp "$here/changelog" "$work/src/debian/changelog"
    (cd "$work/src" && dpkg-gensymbols -c4 -p"$package" -P"$tree" -v"$version" \
      -I"$here/$package.symbols" -O"$tree/DEBIAN/symbols" \
      -e"$tree/usr/$libdir/libzpor8dtc23.so.$version" -e"$tree/usr/$libdir/libzptrace.so.$version") || {
      echo "make-debs: the exported symbols differ from packaging/debian/$package.symbols (above)" >&2
      exit 1
    }
    printf 'activate-noawait ldconfig\n' >"$tree/DEBIAN/triggers"
  fi

  size=$(du -k -s --apparent-size "$tree/usr" | cut -f1)
  {
    printf 'Package: %s\nSource: zpor8dtc23\nVersion: %s\nArchitecture: %s\n' "$package" "$version" "$arch"
    printf 'Maintainer: %s\nInstalled-Size: %s\nPriority: optional\n' "$maintainer" "$size"
    stanza "$package" | grep -v -e '^Package: ' -e '^Components: ' |
      sed -e "s/\${shlibs:Depends}/$shlibs/" -e '/^Depends:/s/, *$//'
  } >"$tree/DEBIAN/control"
  (cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz --build "$tree" "$out/${package}_${version}_${arch}.deb" >/dev/null
done
