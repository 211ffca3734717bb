"""The transcripts the aarch64 wheels wrote (DIR/transcript-*.txt) are the
same byte for byte, and the same as x86-64's (REFERENCE) but where a BLAS
kernel rounds differently: such a line differs only in its numbers, each
within a relative difference of LIMIT. Prints those lines and the largest
relative difference.

    python3 near_transcripts.py REFERENCE DIR
"""

import re
import sys
from pathlib import Path

LIMIT = 1e-5
NUMBER = re.compile(r"[-+]?(?:\d+\.\d*|\.\d+|\d+)(?:e[-+]?\d+)?")


def relative(a, b):
    a, b = float(a), float(b)
    return 0.0 if a == b else abs(a - b) / max(abs(a), abs(b))


reference = Path(sys.argv[1]).read_text().splitlines()
transcripts = sorted(Path(sys.argv[2]).glob("transcript-*.txt"))
assert transcripts, f"no transcripts in {sys.argv[2]}"
first = transcripts[0].read_text()
for other in transcripts[1:]:
    assert other.read_text() == first, f"{other.name} differs from {transcripts[0].name}"
lines = first.splitlines()
assert len(lines) == len(reference), (len(lines), len(reference))

largest = 0.0
for ours, theirs in zip(lines, reference):
    if ours == theirs:
        continue
    assert NUMBER.split(ours) == NUMBER.split(theirs), f"not a rounding difference:\n  {theirs}\n  {ours}"
    differences = [relative(a, b) for a, b in zip(NUMBER.findall(ours), NUMBER.findall(theirs))]
    print(f"x86-64:  {theirs}\naarch64: {ours}\n  largest relative difference {max(differences):.3g}")
    largest = max(largest, *differences)
assert largest <= LIMIT, f"a relative difference of {largest:.3g}, more than {LIMIT:g}"
print(f"{', '.join(t.name for t in transcripts)}: the same as x86-64's but for rounding, "
      f"at most {largest:.3g} apart")
