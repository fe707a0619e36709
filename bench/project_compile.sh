#!/usr/bin/env bash
# The project compiler against the directory mode on the same files, one
# thread (LZXCOMP_THREADS=1), measured in the same run:
#   - kelto PROJECT.hhp: CPU time (user + sys), wall time, peak RSS, size;
#   - kelto DIR, the project's directory packed as a .its, the same figures;
# then the ratios the targets name: the compile's CPU time at most 1.15
# times the packing's, its peak RSS within a few MB of it.
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
        printf '[OPTIONS]\r\nTitle=%s\r\nCompiled file=../help.chm\r\n\r\n[FILES]\r\n' "$(basename "$source_dir")"
        (cd "$project" && find . -type f ! -name help.hhp | sed 's|^\./||' | LC_ALL=C sort | tr '/' '\\' | sed 's/$/\r/')
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
fi

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
chm_size=$(stat -c %s "$work/help.chm")
its_size=$(stat -c %s "$work/project.its")

echo "tree: $kind, $files files, $bytes bytes; one thread, fastest of $runs"
printf '%-22s %9s %9s %10s %12s\n' "" "CPU s" "wall s" "peak KiB" "bytes"
read -r c_cpu c_wall c_rss <<<"$compiled"
read -r p_cpu p_wall p_rss <<<"$packed"
printf '%-22s %9s %9s %10s %12s\n' "kelto help.hhp (.chm)" "$c_cpu" "$c_wall" "$c_rss" "$chm_size"
printf '%-22s %9s %9s %10s %12s\n' "kelto DIR (.its)" "$p_cpu" "$p_wall" "$p_rss" "$its_size"
awk -v c="$c_cpu" -v p="$p_cpu" -v cr="$c_rss" -v pr="$p_rss" 'BEGIN {
    printf "compile CPU / pack CPU: %.3f (target at most 1.15)\n", c / p
    printf "compile peak RSS - pack peak RSS: %+.1f MB\n", (cr - pr) / 1024
}'
