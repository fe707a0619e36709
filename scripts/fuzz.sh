#!/usr/bin/env bash
# Runs the fuzzers for a bounded time in all: the LZX round trip for two
# thirds of it, the project reader (project file, sitemaps, pages with the
# full-text index, style sheets) for the rest.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS  (BUILD_DIR configured with -DKELTO_FUZZ=ON)
set -euo pipefail
build=${1:?usage: scripts/fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-60}
project_seconds=$((seconds / 3))
lzx_seconds=$((seconds - project_seconds))
artifacts="$build/fuzz-artifacts/"
mkdir -p "$artifacts"

corpus="$build/fuzz-corpus/roundtrip"
mkdir -p "$corpus"
if [ -z "$(ls -A "$corpus")" ]; then
    # A few seeds: text, a run, a whole frame of varied bytes.
    printf '\x00<p>the frame of the window and the block of the tree</p>\n<p>the frame</p>' > "$corpus/text"
    head -c 5000 /dev/zero | tr '\0' 'a' | sed 's/^/\x09/' > "$corpus/run"
    # No `| head` on seq: with pipefail its SIGPIPE would end the script.
    { printf '\x2b'; seq 1 8000; } > "$corpus/numbers"
fi
"$build/lib/lzx/fuzz/fuzz_roundtrip" -max_total_time="$lzx_seconds" -max_len=70000 -timeout=60 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus"

corpus="$build/fuzz-corpus/project"
mkdir -p "$corpus"
if [ -z "$(ls -A "$corpus")" ]; then
    # The first byte picks the reader: 0 project file, 1 sitemap, 2 page, 3 style sheet.
    printf '\x00[OPTIONS]\r\nTitle=T\xc3\xa9\r\nLanguage=0x419 x\r\n[WINDOWS]\r\nw="c","t.hhc",,,,,,,,0x63520,200,0x380e,[0,0,600,400],,,,,,,0\r\n[ALIAS]\r\nA=a.htm\r\n[MAP]\r\n#define A 0x10\r\n[FILES]\r\na.htm\r\n' > "$corpus/project"
    printf '\x01<HTML><BODY><OBJECT type="text/site properties"><param name="ImageType" value="Folder"></OBJECT><UL><LI><OBJECT type="text/sitemap"><param name="Name" value="A"><param name="Local" value="a%%20b.htm#x"></OBJECT><UL><LI><OBJECT type="text/sitemap"><param name=Local value=../c.htm></OBJECT></UL></UL>' > "$corpus/sitemap"
    printf '\x02<html><head><meta charset="windows-1252"><title> caf\xe9 &amp; </title><style>a{background:url("i.png")}</style></head><body background=b.gif><img srcset="a.png 1x, b.png 2x"><a href="x.htm#y">x</a></body></html>' > "$corpus/page"
    printf '\x03@import "a.css"; /* url(no) */ b { background: url( \x27c d.png\x27 ) } @import url(e.css);' > "$corpus/css"
fi
"$build/src/project/fuzz/fuzz_project" -max_total_time="$project_seconds" -max_len=200000 -timeout=20 \
    -rss_limit_mb=2048 -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus"
