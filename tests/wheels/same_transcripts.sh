#!/usr/bin/env bash
# The transcripts the wheel tests wrote, one per interpreter, are the same
# byte for byte. Skipped (77) with fewer than two.
#   same_transcripts.sh OUT
set -euo pipefail
shopt -s nullglob
transcripts=("$1"/transcript-*.txt)
[ ${#transcripts[@]} -ge 2 ] || { echo "skipped: ${#transcripts[@]} transcript(s) to compare"; exit 77; }
for t in "${transcripts[@]:1}"; do
    cmp "${transcripts[0]}" "$t"
    diff "${transcripts[0]}" "$t" | head -n 20
done
echo "same: ${transcripts[*]##*/}"
