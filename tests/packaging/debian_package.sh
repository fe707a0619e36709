#!/usr/bin/env bash
# Builds the Debian package with cpack, checks its contents (library in the
# multiarch directory, manual page and changelog compressed, the licence
# stated) and dependencies, unpacks it into a scratch root and runs the
# unpacked kelto on examples/site and man on its manual page; the unpacked
# library also serves the C client.
#   debian_package.sh BUILD_DIR SOURCE_DIR WORK_DIR C_COMPILER SEVENZIP
set -euo pipefail
build=$1 source=$2 work=$3 cc=$4 sevenzip=$5
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAILED: $*"; exit 1; }
# gzip -9n, as Debian wants: magic, deflate, no flags (no name), time 0 (no
# time stamp: reproducible), best compression, Unix.
check_gzip_9n() {
    local header
    header=$(od -A n -t x1 -N 10 "$1" | tr -d ' \n')
    [ "$header" = 1f8b0800000000000203 ] || fail "gzip header of $(basename "$1") is $header, not -9n"
}

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/kelto_*.deb)

# Libraries go to the multiarch directory, as Debian's policy asks.
libdir=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
version=$(sed -n 's/^#define LZXCOMP_VERSION_[A-Z]* \([0-9]*\)$/\1/p' "$source/lib/lzx/include/lzxcomp.h" | paste -sd.)
doc=usr/share/doc/kelto
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' >"$work/contents"
for file in usr/bin/kelto usr/share/man/man1/kelto.1.gz usr/include/lzxcomp.h $libdir/liblzxcomp.so.$version \
            $libdir/liblzxcomp.so.1 $libdir/liblzxcomp.so $libdir/liblzxcomp.a $libdir/pkgconfig/lzxcomp.pc \
            $libdir/cmake/lzxcomp/lzxcomp-config.cmake $doc/copyright $doc/changelog.Debian.gz; do
    grep -qx "$file" "$work/contents" || fail "$file missing from the package"
done
grep -E '^usr/lib/[^/]+$|^usr/lib/(pkgconfig|cmake)/|^usr/share/man/.*\.1$' "$work/contents" &&
    fail "files outside the multiarch directory or an uncompressed manual page"
# Nothing of the build or test tree slips in.
grep -E 'test|gtest|fuzz|bench' "$work/contents" && fail "test files in the package"

# Debian's checks, where lintian is installed. Left to the project's owners:
# a real maintainer address, in the package and in its changelog.
if command -v lintian >/dev/null; then
    lintian --fail-on error --suppress-tags bogus-mail-host,bogus-mail-host-in-debian-changelog "$deb" \
        >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian reports errors"; }
fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in libc6 libstdc++6; do
    [[ ", $depends" == *", $needed "* ]] || fail "Depends lacks $needed"
done
[[ "$depends" != *libmspack* && "$depends" != *libgtest* ]] || fail "Depends names a test library"
[ "$(dpkg-deb -f "$deb" Package)" = kelto ] || fail "package name"

root=$work/root
dpkg -x "$deb" "$root"
cp -r "$source/examples/site" "$work/site"
(cd "$work" && "$root/usr/bin/kelto" site >"$work/kelto.log") || { cat "$work/kelto.log"; fail "kelto exit status"; }
grep -qx 'Reading docs/faq.html ... done' "$work/kelto.log" || fail "no progress line for docs/faq.html"
"$sevenzip" x -y -o"$work/extracted" "$work/site.its" >/dev/null || fail "7zz cannot extract site.its"
diff -r "$work/site" "$work/extracted" || fail "extracted tree differs from the input"

# The licence: the copyright file gives LICENSE's holder and text under
# Debian's name for it, and the installed header its SPDX identifier.
copyright=$root/$doc/copyright
grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" ||
    fail "copyright file is not in the machine-readable format"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$source/LICENSE")" "$copyright" || fail "copyright holder"
sed -n '/^License: Expat$/,$p' "$copyright" | sed -e 1d -e 's/^ //' -e 's/^\.$//' >"$work/licence"
sed -n '/^Permission/,$p' "$source/LICENSE" | cmp - "$work/licence" || fail "copyright file lacks LICENSE's MIT text"
grep -qx '/\* SPDX-License-Identifier: MIT \*/' "$root/usr/include/lzxcomp.h" || fail "lzxcomp.h names no licence"
# The changelog's latest entry is this package's version.
check_gzip_9n "$root/$doc/changelog.Debian.gz"
changelog_version=$(zcat "$root/$doc/changelog.Debian.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changelog_version" = "$(dpkg-deb -f "$deb" Version)" ] || fail "changelog.Debian is at $changelog_version"

# The manual page: gzip -9n, the source page byte for byte, and man reads it
# without a warning.
page=$root/usr/share/man/man1/kelto.1.gz
check_gzip_9n "$page"
zcat "$page" | cmp - "$source/man/kelto.1" || fail "kelto.1.gz is not man/kelto.1"
MANWIDTH=80 man --warnings -l "$page" >"$work/man.txt" 2>"$work/man.err" || fail "man -l exit status"
[ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man -l warns"; }
grep -q '^NAME' "$work/man.txt" || fail "man -l renders no NAME section"

# The unpacked library is usable by another program from where it lies; its
# pkg-config file names the multiarch directory.
export PKG_CONFIG_PATH=$root/$libdir/pkgconfig
[ "$(pkg-config --variable=libdir lzxcomp)" -ef "$root/$libdir" ] || fail "pkg-config libdir"
"$cc" -DEXPECTED_VERSION="\"$version\"" -o "$work/client" "$source/tests/packaging/client/lzx_client.c" \
      $(pkg-config --cflags --libs lzxcomp)
LD_LIBRARY_PATH=$root/$libdir "$work/client"
echo "ok: $(basename "$deb")"
