#!/usr/bin/env bash
# Runs the examples of README.md and compares what they print with what the
# README shows. An example is a ```console block right after a line
# "<!-- checked example -->": each "$ " line is a command, the lines up to the
# next command are its output (standard output and error). All blocks run in
# order in one scratch directory that starts with a copy of examples/site
# and examples/help, with kelto and 7zz first on PATH.
#   readme_examples.sh SOURCE_DIR KELTO_BINARY SEVENZIP WORK_DIR
set -euo pipefail
source=$1 kelto=$2 sevenzip=$3 work=$4
rm -rf "$work"
mkdir -p "$work/bin" "$work/run"
ln -s "$kelto" "$work/bin/kelto"
ln -s "$sevenzip" "$work/bin/7zz"
cp -r "$source/examples/site" "$work/run/site"
cp -r "$source/examples/help" "$work/run/help"
export PATH="$work/bin:$PATH" LC_ALL=C.UTF-8

# Runs one command and compares its output with the lines shown under it.
status=0 count=0
check_command() {
    [ -n "$command" ] || return 0
    count=$((count + 1))
    local actual
    actual=$(cd "$work/run" && bash -c "$command" 2>&1; echo x)
    actual=${actual%x}
    if [ "$actual" != "$expected" ]; then
        echo "README example differs: \$ $command"
        diff <(printf '%s' "$expected") <(printf '%s' "$actual") || true
        status=1
    fi
}

state=outside command="" expected=""
while IFS= read -r line; do
    case $state in
    outside) [ "$line" = "<!-- checked example -->" ] && state=armed ;;
    armed) if [ "$line" = '```console' ]; then state=inside; else state=outside; fi ;;
    inside)
        if [ "$line" = '```' ]; then
            check_command; command="" state=outside
        elif [[ "$line" == '$ '* ]]; then
            check_command; command=${line#\$ } expected=""
        else
            expected+="$line"$'\n'
        fi ;;
    esac
done <"$source/README.md"
[ $count -gt 0 ] || { echo "no commands found"; exit 1; }
[ $status -eq 0 ] && echo "ok: $count README commands print what is shown"
exit $status
