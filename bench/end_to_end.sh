#!/usr/bin/env bash
# kelto end to end on one tree, against anchors measured in the same run:
#   - kelto with one thread (LZXCOMP_THREADS=1) and with the default thread
#     count: wall time, CPU time (user + sys), peak RSS, output size; the two
#     outputs must be byte for byte the same;
#   - wimlib's LZX at levels 20, 50 and 100 on the same 64 KiB reset units
#     in catalogue order, every unit alone, one thread
#     (bench/end_to_end_wimlib): CPU time, size;
#   - tar -c DIR | gzip -9 (tar -h: links followed, as kelto follows them):
#     wall, CPU, size.
# Then the ratios the targets name: kelto's wall with threads at most 0.55 of
# its one-thread wall, below wimlib level 50's CPU time, and a peak RSS under
# 64 MiB; kelto's Content no larger than level 100's output, at a one-thread
# CPU time at most 1/1.4 of level 100's.
#
# Trees measured: /usr/share/doc/python3-doc/html (HTML, 67 MB, 1,065 files)
# and, as a tree of another kind, C and C++ headers: the first 100 MiB of
# /usr/include in path order, links followed (CAP_MB=100; the whole of it
# is ~160 MB once its linked directories are followed), about 5,000 files.
#
#   bench/end_to_end.sh DIR [BUILD_DIR]    (default build-e2e; needs -DKELTO_BENCH=ON)
#   RUNS=3 bench/end_to_end.sh ...         kelto and wimlib runs repeated, the fastest kept
#   CAP_MB=100 bench/end_to_end.sh ...     a copy of DIR's first 100 MiB measured
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: $0 DIR [BUILD_DIR]" >&2; exit 2; }
input=$(realpath "$1")
build=$(realpath "${2:-build-e2e}")
runs=${RUNS:-1}
kelto=$build/src/kelto
wimlib=$build/bench/end_to_end_wimlib
[ -d "$input" ] || { echo "no directory $input" >&2; exit 2; }
[ -x "$kelto" ] || { echo "no kelto binary at $kelto" >&2; exit 2; }
[ -x "$wimlib" ] || { echo "no $wimlib: configure with -DKELTO_BENCH=ON" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelto-e2e-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The files of $1 in path order, links followed, copied to $2 until the
# next one would pass $3 MiB.
copy_capped() {
    python3 - "$@" <<'PY'
import os, shutil, sys
source, target, cap = sys.argv[1], sys.argv[2], int(sys.argv[3]) << 20
files = []
for root, _, names in os.walk(source, followlinks=True):
    files += [os.path.relpath(os.path.join(root, n), source) for n in names if os.path.isfile(os.path.join(root, n))]
total = 0
for name in sorted(files):
    size = os.path.getsize(os.path.join(source, name))
    if total + size > cap:
        break
    total += size
    os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
    shutil.copyfile(os.path.join(source, name), os.path.join(target, name))
PY
}
if [ -n "${CAP_MB:-}" ]; then
    copy_capped "$input" "$work/capped" "$CAP_MB"
    input=$work/capped
fi
# kelto writes DIR.its beside DIR: a link in the work directory keeps the
# output there.
ln -s "$input" "$work/tree"

# One line per measurement in $work/rows: name wall cpu rss bytes.
row() { echo "$*" >> "$work/rows"; }

# The Content's length in an ITS file: the compressed length in the
# ResetTable header, 134 + 24 bytes into section 0 (whose offset is at 88).
content_bytes() {
    local section0
    section0=$(od -An -t u8 -j 88 -N 8 "$1")
    od -An -t u8 -j $((section0 + 134 + 24)) -N 8 "$1" | tr -d ' '
}

# Runs "$@" under GNU time, its output to log.txt; prints "wall cpu rss".
timed() {
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > "$work/log.txt" || return
    awk '{ printf "%.2f %.2f %d\n", $1, $2 + $3, $4 }' "$work/time.txt"
}

# kelto NAME [VAR=VALUE]: the fastest of $runs runs, its output kept as NAME.its.
run_kelto() {
    local name=$1 best="" line
    shift
    for ((i = 0; i < runs; i++)); do
        if ! line=$(timed env -u LZXCOMP_THREADS "$@" "$kelto" "$work/tree"); then
            echo "kelto failed ($name):" >&2
            tail -5 "$work/log.txt" >&2
            exit 1
        fi
        if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best=$line; fi
    done
    mv "$work/tree.its" "$work/$name.its"
    row "$name" "$best" "$(stat -c %s "$work/$name.its")"
}

# Read the tree once so that no run pays for a cold cache.
tar -C "$input" -h -cf - . | wc -c > /dev/null

threads=$(nproc)
# Wall times mean little on a machine busy with other work: the load is shown.
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
run_kelto kelto-1-thread LZXCOMP_THREADS=1
run_kelto "kelto-$threads-threads"
identical=yes
cmp -s "$work/kelto-1-thread.its" "$work/kelto-$threads-threads.its" || identical=NO
row kelto-Content - - - "$(content_bytes "$work/kelto-1-thread.its")"

# wimlib's CPU time suffers from a busy machine too: the least of $runs.
levels=()
for ((i = 0; i < runs; i++)); do levels+=(20 50 100); done
"$wimlib" "$input" "${levels[@]}" > "$work/wimlib.txt"
read -r _ files input_bytes units < <(head -1 "$work/wimlib.txt")
tail -n +2 "$work/wimlib.txt" | sort -k1,1n -k3,3g | awk '$1 != last { print; last = $1 }' |
    while read -r level bytes seconds; do row "wimlib-LZX-$level" - "$seconds" - "$bytes"; done

line=$(timed bash -c 'tar -C "$1" -h -cf - . | gzip -9 > "$2"' _ "$input" "$work/tree.tar.gz")
row "tar-h|gzip-9" "$line" "$(stat -c %s "$work/tree.tar.gz")"

echo "kelto end to end: $1 ($input)${CAP_MB:+, its first $CAP_MB MiB}"
echo "$files files, $input_bytes bytes, $units reset units of 64 KiB; $threads CPUs; fastest of $runs run(s) per kelto and wimlib row; $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
library=$(dirname "$0")/../lib/lzx
echo "library at commit $(git -C "$library" log -1 --format=%h -- . 2>/dev/null || echo unknown)$(git -C "$library" diff --quiet HEAD -- . 2>/dev/null || echo ', with changes not committed')"
echo
awk -v input_bytes="$input_bytes" -v threads="$threads" -v identical="$identical" '
{ name[NR] = $1; wall[$1] = $2; cpu[$1] = $3; rss[$1] = $4; bytes[$1] = $5 }
END {
    printf "%-20s %9s %9s %14s %14s %8s\n", "", "wall s", "CPU s", "peak RSS KiB", "output bytes", "out/in"
    for (i = 1; i <= NR; i++) {
        n = name[i]
        printf "%-20s %9s %9s %14s %14d %8.4f\n", n, wall[n], cpu[n], rss[n], bytes[n], bytes[n] / input_bytes
    }
    one = "kelto-1-thread"; many = "kelto-" threads "-threads"
    peak = rss[one] > rss[many] ? rss[one] : rss[many]
    printf "\noutputs of 1 and %d threads byte-identical: %s\n", threads, identical
    target(sprintf("kelto wall, %d threads / 1 thread", threads), wall[many], wall[one], "<=", 0.55)
    target("kelto wall / wimlib LZX-50 CPU", wall[many], cpu["wimlib-LZX-50"], "<", 1)
    target("kelto peak RSS / 64 MiB", peak, 65536, "<", 1)
    target("kelto Content / wimlib LZX-100 size", bytes["kelto-Content"], bytes["wimlib-LZX-100"], "<=", 1)
    target("wimlib LZX-100 CPU / kelto CPU, 1 thread", cpu["wimlib-LZX-100"], cpu[one], ">=", 1.4)
    target("wimlib LZX-50 CPU / kelto CPU, 1 thread", cpu["wimlib-LZX-50"], cpu[one])
    target("kelto size / wimlib LZX-100 size", bytes[one], bytes["wimlib-LZX-100"])
    target("kelto size / tar | gzip -9 size", bytes[one], bytes["tar-h|gzip-9"])
}
# Prints a / b, and whether it meets "op limit" when a target is given.
function target(label, a, b, op, limit,    r, met) {
    if (b <= 0) { printf "%-42s    n/a (too short to time)\n", label ":"; return }
    r = a / b
    printf "%-42s %7.4f", label ":", r
    met = op == "<" ? r < limit : op == ">=" ? r >= limit : r <= limit
    if (op != "") printf "  (target %s %g: %s)", op, limit, met ? "met" : "MISSED"
    printf "\n"
}' "$work/rows"
[ "$identical" = yes ]
