"""The installed module is the one imported, its libraries are the wheel's
copies, it runs a model, and every fast path is on.

    python installed.py MODEL
"""

import os
import platform
import subprocess
import sys
import sysconfig
from pathlib import Path

import nubracore
from mapped import mapped

site = Path(sysconfig.get_paths()["platlib"])
assert Path(nubracore.__file__).parent == site, nubracore.__file__

loaded = mapped()
# gfortran needs libquadmath on x86-64 only.
quadmath = ("libquadmath",) if platform.machine() == "x86_64" else ()
for name in ("libopenblas", "liblapacke", "libgfortran", "libonnxruntime") + quadmath:
    paths = {path for path in loaded if Path(path).name.startswith(name)}
    assert paths == {str(site / "nubracore.libs" / Path(path).name) for path in paths} != set(), (name, paths)

model = nubracore.model(sys.argv[1])
model.set(0, [0, 0], 3.0)
model.set(0, [0, 1], 1.0)
model.run()
assert [model.get(0, [0, k]) for k in range(3)] == [0.0, 4.0, -4.0]
v = nubracore.vecd(3)
v[0], v[1] = 1.0, 2.0
assert nubracore.dot(v, v) == 5.0

report = subprocess.run([sys.executable, "-c", "import nubracore"], env=dict(os.environ, NUBRACORE_FAST_PATHS="report"),
                        capture_output=True, text=True, check=True).stderr.splitlines()
# Only the report's lines: under qemu, ONNX Runtime warns about the CPU it can't read.
report = [line for line in report if line.startswith("nubracore fast paths: ")]
assert report[0] == "nubracore fast paths: on (pybind11 2.10.3, CPython %d.%d)" % sys.version_info[:2], report[0]
got = dict(line.split(": ", 2)[1:] for line in report[1:])
assert all(got[name] == "call" for name, f in vars(nubracore).items() if type(f).__name__ == "builtin_function_or_method")
