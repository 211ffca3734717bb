"""The installed module and numpy, imported in the order given, each map the
libraries they were linked with: nubracore every copy in nubracore.libs,
numpy the system's libraries that ldd finds for its own modules, and no
system library is served by a copy of the wheel or the other way round.

    python own_copies.py numpy|nubracore
"""

import importlib
import re
import subprocess
import sys
from pathlib import Path

first = sys.argv[1]
for name in (first, ({"numpy", "nubracore"} - {first}).pop()):
    importlib.import_module(name)
import numpy
import nubracore
from mapped import mapped as loaded

mapped = loaded()
ours = {str(p) for p in (Path(nubracore.__file__).parent / "nubracore.libs").iterdir()}
assert ours and ours <= mapped, ("copies not mapped", ours - mapped)

# What numpy's modules load, as the loader finds it without nubracore.
system = set()
for module in Path(numpy.__file__).parent.rglob("*.so"):
    listed = subprocess.run(["ldd", module], capture_output=True, text=True, check=True).stdout
    system |= {str(Path(p).resolve()) for p in re.findall(r"=> (/\S+)", listed)}
assert system <= {str(Path(p).resolve()) for p in mapped}, ("numpy's libraries not mapped", system - mapped)
# Every mapped library of a file the wheel bundles a copy of (the copy's name
# less its hash) is either a copy or numpy's.
stems = {re.sub(r"-[0-9a-f]{8}$", "", Path(p).name.split(".")[0]) for p in ours}
for path in mapped - ours:
    if Path(path).resolve().name.split(".")[0] in stems:
        assert str(Path(path).resolve()) in system, ("neither a copy nor numpy's", path)
print(f"{first} first: {len(ours)} copies of the wheel, {len(system)} libraries of numpy's")
