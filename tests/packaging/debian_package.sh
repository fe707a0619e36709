#!/usr/bin/env bash
# Builds the Debian package with cpack, checks its contents and dependencies,
# unpacks it into a scratch root and runs the unpacked kelto on
# examples/site; the unpacked library also serves the C client.
#   debian_package.sh BUILD_DIR SOURCE_DIR WORK_DIR C_COMPILER SEVENZIP
set -euo pipefail
build=$1 source=$2 work=$3 cc=$4 sevenzip=$5
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAILED: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/kelto_*.deb)

dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./||' >"$work/contents"
for file in usr/bin/kelto usr/share/man/man1/kelto.1 usr/include/lzxcomp.h usr/lib/liblzxcomp.so.1.0.0 \
            usr/lib/liblzxcomp.so.1 usr/lib/liblzxcomp.so usr/lib/liblzxcomp.a usr/lib/pkgconfig/lzxcomp.pc \
            usr/lib/cmake/lzxcomp/lzxcomp-config.cmake; do
    grep -qx "$file" "$work/contents" || fail "$file missing from the package"
done
# Nothing of the build or test tree slips in.
grep -E 'test|gtest|fuzz|bench' "$work/contents" && fail "test files in the package"

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

# The unpacked library is usable by another program from where it lies.
PKG_CONFIG_PATH=$root/usr/lib/pkgconfig "$cc" -o "$work/client" "$source/tests/packaging/client/lzx_client.c" \
    $(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags --libs lzxcomp)
LD_LIBRARY_PATH=$root/usr/lib "$work/client"
echo "ok: $(basename "$deb")"
