"""The transcripts the aarch64 wheels wrote (DIR/transcript-*.txt) are the
same byte for byte, and the same as x86-64's (REFERENCE) but where a BLAS
kernel computes differently:
- a rounding: a line that differs only in its numbers, each within a
  relative difference of LIMIT (a complex number taken whole);
- a NaN or an infinity where the other machine has another value (kernels
  differ on which operations propagate them). The values computed from it
  differ after it, so the rest of its round (transcript.py: the calls up
  to the next line that isn't a call) is left out.
Prints those lines (a rounding by its call), the largest relative
difference and how much was compared.

    python3 near_transcripts.py REFERENCE DIR
"""

import cmath
import re
import sys
from pathlib import Path

LIMIT = 1e-5
REAL = r"[-+]?(?:nan|inf|(?:\d+\.\d*|\.\d+|\d+)(?:e[-+]?\d+)?)"
# A complex number as transcript.py writes it, or as the module prints it; else a real one.
NUMBER = re.compile(rf"\(\s*({REAL}),\s*({REAL})\)|({REAL})")
CALL = re.compile(r"\d+ ")


def numbers(line):
    """The line's text between its numbers (runs of spaces as one, for
    printf's padding) and its numbers."""
    values = [complex(float(m[1]), float(m[2])) if m[1] else float(m[3]) for m in NUMBER.finditer(line)]
    return [re.sub(" +", " ", part) for part in NUMBER.sub("#", line).split("#")], values


def relative(a, b):
    return 0.0 if a == b else abs(a - b) / max(abs(a), abs(b))


def compare(ours, theirs):
    """(the largest relative difference, None) for a rounding, else
    (None or that difference, why the line differs otherwise)."""
    (text, values), (reference_text, reference_values) = numbers(ours), numbers(theirs)
    if text != reference_text:
        return None, "it differs in more than its numbers"
    pairs = [(a, b) for a, b in zip(values, reference_values) if not (a == b or a != a and b != b)]
    if any(not (cmath.isfinite(a) and cmath.isfinite(b)) for a, b in pairs):
        return None, "a NaN or an infinity"
    largest = max((relative(a, b) for a, b in pairs), default=0.0)
    return largest, None if largest <= LIMIT else f"a relative difference of {largest:.3g}, more than {LIMIT:g}"


reference = Path(sys.argv[1]).read_text().splitlines()
transcripts = sorted(Path(sys.argv[2]).glob("transcript-*.txt"))
assert transcripts, f"no transcripts in {sys.argv[2]}"
first = transcripts[0].read_text()
for other in transcripts[1:]:
    assert other.read_text() == first, f"{other.name} differs from {transcripts[0].name}"
lines = first.splitlines()
assert len(lines) == len(reference), (len(lines), len(reference))

largest, rounded, left_out, skipping, failures = 0.0, 0, 0, False, []
for ours, theirs in zip(lines, reference):
    skipping = skipping and CALL.match(ours) is not None
    if skipping:
        left_out += 1
    elif ours != theirs:
        difference, reason = compare(ours, theirs)
        call = ours.split(":")[0]
        if reason is None:
            print(f"{call}: rounded differently, {difference:.3g} apart")
            largest, rounded = max(largest, difference), rounded + 1
            continue
        print(f"x86-64:  {theirs}\naarch64: {ours}\n  {reason}")
        if reason == "a NaN or an infinity":
            skipping = True
        else:
            failures.append(call)
assert not failures, f"lines that differ by more than a kernel's computing: {', '.join(failures)}"
print(f"{', '.join(t.name for t in transcripts)}: the same as x86-64's but for {rounded} lines rounded "
      f"differently, at most {largest:.3g} apart; {left_out} of {len(lines)} lines left out after a NaN "
      f"or an infinity")
