#!/usr/bin/env bash
# Runs the kelto binary on a generated ~10 MB tree and a ~1 GB tree with the
# same number of files and reports peak RSS and time of each: the tool
# streams its input, so peak memory must not grow with the input size.
#
#   bench/memory_scaling.sh [KELTO_BINARY]   (default: build/src/kelto)
set -euo pipefail
kelto=$(realpath "${1:-build/src/kelto}")
[ -x "$kelto" ] || { echo "no kelto binary at $kelto" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelto-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT

files=100
# Writes $files files of $1 bytes each under $2: HTML-like text with noise,
# compressible about as much as a documentation tree.
generate() {
    python3 - "$1" "$2" "$files" <<'PY'
import os, random, sys
size, root, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
rng = random.Random(1)
words = [b"<p>", b"</p>\n", b"the ", b"function ", b"returns ", b"<a href=\"", b".html\">", b"</a>",
         b"value ", b"class ", b"module ", b"  ", b"\n"]
seed = bytearray()
while len(seed) < 4 << 20:
    seed += words[rng.randrange(len(words))] if rng.random() < 0.8 else os.urandom(rng.randrange(1, 12))
for i in range(count):
    path = os.path.join(root, "dir%02d" % (i % 10), "page%03d.html" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        left = size
        while left:
            start = rng.randrange(len(seed) - 65536)
            piece = seed[start:start + min(left, 65536)]
            out.write(piece)
            left -= len(piece)
PY
}

measure() {  # name bytes-per-file
    local dir="$work/$1"
    mkdir -p "$dir"
    generate "$2" "$dir"
    local input_bytes
    input_bytes=$(du -sb "$dir" | cut -f1)
    /usr/bin/time -f "%M %e %U %S" -o "$work/time.txt" "$kelto" "$dir" > "$work/log.txt" \
        || { echo "kelto failed on $1:" >&2; tail -5 "$work/log.txt" >&2; exit 1; }
    read -r rss wall user sys < "$work/time.txt"
    local its_bytes
    its_bytes=$(stat -c %s "$dir.its")
    awk -v n="$1" -v in_b="$input_bytes" -v out_b="$its_bytes" -v rss="$rss" -v wall="$wall" -v user="$user" -v sys="$sys" \
        'BEGIN { printf "%-6s input %12d bytes  output %12d bytes  peak RSS %8d KiB  wall %7.2f s  CPU %7.2f s  %6.2f MB/s\n", n, in_b, out_b, rss, wall, user + sys, in_b / 1e6 / (wall + 0.001) }'
    echo "$rss" > "$work/$1.rss"
    rm -rf "$dir" "$dir.its"
}

echo "kelto memory scaling: $files files per tree, $kelto"
measure small $((100 * 1024))
measure large $((10 * 1024 * 1024))
small=$(cat "$work/small.rss")
large=$(cat "$work/large.rss")
awk -v small="$small" -v large="$large" 'BEGIN {
    ratio = large / small
    printf "peak RSS large/small: %.3f %s\n", ratio, ratio < 1.25 ? "(flat: memory does not grow with input)" : "(GROWS with input)"
    exit ratio < 1.25 ? 0 : 1 }'
