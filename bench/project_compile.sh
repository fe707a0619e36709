#!/usr/bin/env bash
# The project compiler against the directory mode on the same files, one
# thread (LZXCOMP_THREADS=1), measured in the same run:
#   - kelto PROJECT.hhp: CPU time (user + sys), wall time, peak RSS, size;
#   - kelto DIR, the project's directory packed as a .its, the same figures;
#   - kelto on the same project with Full-text search=Yes: the same figures,
#     and from the index itself (read with python3-chm's chmlib) its size,
#     words, locations and bits per location;
# then the ratios the targets name: the compile's CPU time at most 1.15
# times the packing's, its peak RSS within a few MB of it; search at most
# 1.25 times the compile's CPU without it, its peak RSS under 128 MB.
#
#   bench/project_compile.sh html DIR [BUILD_DIR]
#       DIR's tree (say /usr/share/doc/python3-doc/html) copied, links
#       followed, and turned into a project: a generated .hhp whose [FILES]
#       lists every file, so that both runs store the same files.
#   bench/project_compile.sh sphinx [BUILD_DIR]
#       The reST of python3-lazr.restfulclient built by Sphinx's htmlhelp
#       builder (python3-sphinx, python3-sphinxcontrib.htmlhelp).
#   RUNS=3 bench/project_compile.sh ...   each run repeated, the fastest kept
set -euo pipefail
usage() { echo "usage: $0 html DIR [BUILD_DIR] | sphinx [BUILD_DIR]" >&2; exit 2; }
[ $# -ge 1 ] || usage
kind=$1
shift
case $kind in
html) [ $# -ge 1 ] || usage; source_dir=$(realpath "$1"); shift ;;
sphinx) ;;
*) usage ;;
esac
build=$(realpath "${1:-build-bench}")
kelto=$build/src/kelto
runs=${RUNS:-1}
[ -x "$kelto" ] || { echo "no kelto binary at $kelto" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelto-project-XXXXXX")
trap 'rm -rf "$work"' EXIT
project=$work/project

if [ "$kind" = html ]; then
    cp -rL "$source_dir" "$project"
    {
        printf '[OPTIONS]\nTitle=%s\nCompiled file=../help.chm\nFull-text search=No\n\n[FILES]\n' \
            "$(basename "$source_dir")"
        (cd "$project" && find . -type f ! -name help.hhp | sed 's|^\./||' | LC_ALL=C sort | tr '/' '\\')
    } >"$project/help.hhp"
else
    mkdir "$work/src"
    for f in /usr/share/doc/python3-lazr.restfulclient/*.rst*; do
        name=$(basename "$f" .gz)
        case $name in CONTRIBUTING*) continue ;; esac
        case $f in *.gz) gzip -dc "$f" >"$work/src/$name" ;; *) cp "$f" "$work/src/$name" ;; esac
    done
    printf "project = 'lazr.restfulclient'\nmaster_doc = 'index'\nextensions = ['sphinxcontrib.htmlhelp']\nhtmlhelp_basename = 'help'\n" >"$work/src/conf.py"
    /usr/bin/python3 -m sphinx -q -b htmlhelp "$work/src" "$project" 2>/dev/null
    rm -rf "$project/.doctrees" "$project/.buildinfo"
    sed -i 's/^Compiled file=.*/Compiled file=..\\help.chm/; s/^Full-text search=.*/Full-text search=No/' "$project/help.hhp"
fi
# The same project with search; kept outside the project's directory, so that
# the packing run does not take it in.
sed 's/^Full-text search=No/Full-text search=Yes/; s/^Compiled file=.*/Compiled file=..\\search.chm/' \
    "$project/help.hhp" >"$work/search.hhp"

# Runs kelto in the project's parent; prints "cpu wall rss_kb".
measure() {
    local best=""
    for _ in $(seq "$runs"); do
        local line
        line=$(cd "$work" && LZXCOMP_THREADS=1 /usr/bin/time -f '%U %S %e %M' "$kelto" "$@" 2>&1 >/dev/null | tail -n 1)
        line=$(awk '{printf "%.2f %.2f %d\n", $1 + $2, $3, $4}' <<<"$line")
        if [ -z "$best" ] || awk -v a="$line" -v b="$best" 'BEGIN {split(a, x); split(b, y); exit !(x[1] < y[1])}'; then
            best=$line
        fi
    done
    echo "$best"
}

files=$(find "$project" -type f | wc -l)
bytes=$(find "$project" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
compiled=$(measure project/help.hhp)
packed=$(measure project)
cp "$work/search.hhp" "$project/search.hhp"
searched=$(measure project/search.hhp)
rm "$project/search.hhp"
chm_size=$(stat -c %s "$work/help.chm")
its_size=$(stat -c %s "$work/project.its")
search_size=$(stat -c %s "$work/search.chm")

echo "tree: $kind, $files files, $bytes bytes; one thread, fastest of $runs"
printf '%-22s %9s %9s %10s %12s\n' "" "CPU s" "wall s" "peak KiB" "bytes"
read -r c_cpu c_wall c_rss <<<"$compiled"
read -r p_cpu p_wall p_rss <<<"$packed"
read -r s_cpu s_wall s_rss <<<"$searched"
printf '%-22s %9s %9s %10s %12s\n' "kelto help.hhp (.chm)" "$c_cpu" "$c_wall" "$c_rss" "$chm_size"
printf '%-22s %9s %9s %10s %12s\n' "kelto DIR (.its)" "$p_cpu" "$p_wall" "$p_rss" "$its_size"
printf '%-22s %9s %9s %10s %12s\n' "... with search" "$s_cpu" "$s_wall" "$s_rss" "$search_size"
awk -v c="$c_cpu" -v p="$p_cpu" -v cr="$c_rss" -v pr="$p_rss" -v s="$s_cpu" -v sr="$s_rss" \
    -v cs="$chm_size" -v ss="$search_size" 'BEGIN {
    printf "compile CPU / pack CPU: %.3f (target at most 1.15)\n", c / p
    printf "compile peak RSS - pack peak RSS: %+.1f MB\n", (cr - pr) / 1024
    printf "search CPU / compile CPU: %.3f (target at most 1.25); peak RSS %.1f MB (target under 128)\n", s / c, sr / 1024
    printf "the index takes %.1f%% of the compressed .chm (%d bytes more)\n", 100 * (ss - cs) / ss, ss - cs
}'
/usr/bin/python3 - "$work/search.chm" <<'PY'
import struct, sys
from chm import chmlib
f = chmlib.chm_open(sys.argv[1].encode())
result, unit = chmlib.chm_resolve_object(f, b'/$FIftiMain')
size, data = chmlib.chm_retrieve_object(f, unit, 0, unit.length)
locations, words = struct.unpack_from('<II', data, 0x42)
leaves, = struct.unpack_from('<I', data, 0x08)
roots = data[0x1F], data[0x21], data[0x23]
print('index: %d bytes uncompressed, %d words, %d locations, roots %d/%d/%d, %.2f bits per location, node size %d'
      % (size, words, locations, *roots, 8 * (leaves - 0x400) / max(locations, 1), struct.unpack_from('<I', data, 0x2E)[0]))
PY
