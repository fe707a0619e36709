#!/bin/sh
# Fetches the documentation trees the compressor's speed and size are judged
# on: Debian packages' HTML made by seven different generators, each 12 MB
# or more. The packages are downloaded (not installed) and unpacked into a
# cache directory outside the repository; the trees' paths are printed, one
# a line, under names that say what made them:
#
#   build-bench/bench/lzx_compare --summary $(bench/doc_corpus.sh)
#
#   bench/doc_corpus.sh [CACHE_DIR]
#
# CACHE_DIR defaults to ${XDG_CACHE_HOME:-~/.cache}/kelto/doc-corpus. A
# package already unpacked there is not fetched again; remove the directory
# to fetch current versions. About 35 MB of downloads, 170 MB unpacked.
set -eu

cache=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/kelto/doc-corpus}

# name, package, tree inside the package
trees='
sphinx-django      python-django-doc         usr/share/doc/python-django-doc/html
doxygen-sdl2       libsdl2-doc               usr/share/doc/libsdl2-doc/html
docbook-postgresql postgresql-doc-15         usr/share/doc/postgresql-doc-15/html
texinfo-octave     octave-doc                usr/share/doc/octave/octave.html
javadoc-lang3      libcommons-lang3-java-doc usr/share/doc/libcommons-lang3-java/api
gtkdoc-gtk3        libgtk-3-doc              usr/share/gtk-doc/html/gtk3
asciidoc-git       git-doc                   usr/share/doc/git-doc
'

mkdir -p "$cache/debs" "$cache/unpacked" "$cache/trees"
cache=$(cd "$cache" && pwd)
echo "$trees" | while read -r name package tree; do
    [ -n "$name" ] || continue
    unpacked="$cache/unpacked/$package"
    if [ ! -e "$unpacked/.complete" ]; then
        rm -rf "$unpacked" "$cache/debs/${package}_"*.deb
        # apt's download user cannot write to a root's cache; the warning says so.
        if ! (cd "$cache/debs" && apt-get download "$package" >&2); then
            echo "$0: could not download $package (run apt-get update first?)" >&2
            exit 1
        fi
        mkdir -p "$unpacked"
        dpkg-deb -x "$cache/debs/${package}_"*.deb "$unpacked"
        : >"$unpacked/.complete"
    fi
    if [ ! -d "$unpacked/$tree" ]; then
        echo "$0: $package no longer holds $tree" >&2
        exit 1
    fi
    ln -sfn "../unpacked/$package/$tree" "$cache/trees/$name"
    echo "$cache/trees/$name"
done
