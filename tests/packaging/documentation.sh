#!/usr/bin/env bash
# The manual page renders without a warning at common widths, and both the
# manual and README.md name every warning and error the sources can print.
#   documentation.sh SOURCE_DIR
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

# The text of each message up to its first conversion or line end; adjacent
# literals of one message start with the first, which is enough to find it.
messages=$(grep -rhoE '"(ERROR|WARNING): [^"%]*' "$source/src" | sed -e 's/^"//' -e 's/\\n$//' | tr -s ' ' | sort -u)
[ -n "$messages" ] || { echo "no messages found in the sources"; exit 1; }

# Wide enough that no message wraps; runs of spaces from adjusting collapse.
manual=$(groff -man -Tascii -rLL=2000n -P-cbou "$page" 2>/dev/null | tr -s ' ')
readme=$(tr -s ' ' <"$source/README.md")
while IFS= read -r message; do
    [[ "$manual" == *"$message"* ]] || { echo "not in the manual page: $message"; status=1; }
    [[ "$readme" == *"$message"* ]] || { echo "not in README.md: $message"; status=1; }
done <<<"$messages"
[ $status -eq 0 ] && echo "ok: $(wc -l <<<"$messages") messages documented"
exit $status
