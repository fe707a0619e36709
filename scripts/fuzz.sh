#!/usr/bin/env bash
# Runs the LZX round-trip fuzzer for a bounded time.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS  (BUILD_DIR configured with -DKELTO_FUZZ=ON)
set -euo pipefail
build=${1:?usage: scripts/fuzz.sh BUILD_DIR SECONDS}
seconds=${2:-60}
fuzzer="$build/lib/lzx/fuzz/fuzz_roundtrip"
corpus="$build/fuzz-corpus/roundtrip"
artifacts="$build/fuzz-artifacts/"
mkdir -p "$corpus" "$artifacts"
if [ -z "$(ls -A "$corpus")" ]; then
    # A few seeds: text, a run, a whole frame of varied bytes.
    printf '\x00<p>the frame of the window and the block of the tree</p>\n<p>the frame</p>' > "$corpus/text"
    head -c 5000 /dev/zero | tr '\0' 'a' | sed 's/^/\x09/' > "$corpus/run"
    # No `| head` on seq: with pipefail its SIGPIPE would end the script.
    { printf '\x2b'; seq 1 8000; } > "$corpus/numbers"
fi
"$fuzzer" -max_total_time="$seconds" -max_len=70000 -timeout=60 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts" -print_final_stats=1 "$corpus"
