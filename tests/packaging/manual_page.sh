#!/usr/bin/env bash
# The manual page renders without a warning at common widths, and names
# every warning and error the tool's sources can print.
#   manual_page.sh SOURCE_DIR
set -euo pipefail
source=$1
page=$source/man/kelto.1
status=0
for width in 60 80 120; do
    warnings=$(groff -ww -rLL=${width}n -man -Tutf8 "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "groff warnings at width $width:"; echo "$warnings"; status=1
    fi
done

# Wide enough that no message wraps; runs of spaces from adjusting collapse.
rendered=$(groff -man -Tascii -rLL=2000n -P-cbou "$page" 2>/dev/null | tr -s ' ')
# The text of each message up to its first conversion or line end; adjacent
# literals of one message start with the first, which is enough to find it.
messages=$(grep -rhoE '"(ERROR|WARNING): [^"%]*' "$source/src" | sed -e 's/^"//' -e 's/\\n$//' | tr -s ' ' | sort -u)
[ -n "$messages" ] || { echo "no messages found in the sources"; exit 1; }
while IFS= read -r message; do
    if [[ "$rendered" != *"$message"* ]]; then
        echo "not in the manual: $message"; status=1
    fi
done <<<"$messages"
[ $status -eq 0 ] && echo "ok: $(wc -l <<<"$messages") messages documented"
exit $status
