#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds the C client against
# the installed lzxcomp twice, through pkg-config and through find_package,
# and runs both with the shared library taken from that prefix.
#   installed_library.sh BUILD_DIR WORK_DIR C_COMPILER CXX_COMPILER
set -euo pipefail
build=$1 work=$2 cc=$3 cxx=$4
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name liblzxcomp.so.1 | head -n 1)")
[ -n "$libdir" ] || { echo "liblzxcomp.so.1 not installed"; exit 1; }
soname=$(objdump -p "$libdir/liblzxcomp.so.1" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = liblzxcomp.so.1 ] || { echo "soname is '$soname'"; exit 1; }
exported=$(nm -D --defined-only "$libdir/liblzxcomp.so.1" | awk '$2 == "T" { print $3 }' | sed 's/@.*//' | sort | tr '\n' ' ')
[ "$exported" = "lzx_compress_block lzx_finish lzx_init lzx_reset " ] || { echo "exports: $exported"; exit 1; }
for file in include/lzxcomp.h bin/kelto share/man/man1/kelto.1.gz; do
    [ -f "$prefix/$file" ] || { echo "$file not installed"; exit 1; }
done
[ -f "$libdir/liblzxcomp.a" ] || { echo "liblzxcomp.a not installed"; exit 1; }
# The Debian package's own documentation stays out of a plain install.
[ ! -e "$prefix/share/doc" ] && [ ! -e "$prefix/share/lintian" ] || { echo "Debian files installed"; exit 1; }

# The client must load the installed copy, not one from the build tree.
run_client() {
    local client=$1
    ldd "$client" | grep -F "liblzxcomp.so.1 => $libdir/liblzxcomp.so.1" >/dev/null || {
        echo "$client does not load $libdir/liblzxcomp.so.1:"; ldd "$client"; exit 1; }
    "$client"
}

echo "== pkg-config"
export PKG_CONFIG_PATH=$libdir/pkgconfig
flags=$(pkg-config --cflags --libs lzxcomp)
version=$(pkg-config --modversion lzxcomp)
[ -f "$libdir/liblzxcomp.so.$version" ] || { echo "pkg-config's version $version is not the library's"; exit 1; }
"$cc" -Wall -Wextra -Werror -DEXPECTED_VERSION="\"$version\"" -o "$work/client_pkgconfig" "$here/client/lzx_client.c" \
      $flags
LD_LIBRARY_PATH=$libdir run_client "$work/client_pkgconfig"

echo "== find_package"
unset PKG_CONFIG_PATH
cmake -S "$here/client" -B "$work/client-build" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/client-configure.log"
cmake --build "$work/client-build" >"$work/client-build.log"
# find_package's imported target gives the client an rpath to the prefix.
run_client "$work/client-build/lzx_client"
echo "== find_package, static library"
ldd "$work/client-build/lzx_client_static" | grep -F liblzxcomp && { echo "static client loads the shared library"; exit 1; }
"$work/client-build/lzx_client_static"
