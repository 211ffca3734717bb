"""Instructions per call, counted by callgrind: nubracore against the floor
(bench/floor.c, the same calls written on the bare CPython C API), with each
target marked met or missed. Reports only: a missed target doesn't fail.

Each call runs in a loop of N and then 2N iterations inside one interpreter
under callgrind, which dumps its count at every os.getppid(), the marker
between loops. The difference over N is the count per iteration, free of
start-up and of the loop's own entry; the same for an empty loop gives the
loop's cost per iteration, which is taken off.

    PYTHONPATH=build:build/bench /usr/bin/python3 bench/bench_instructions.py
"""

import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

N = 1000
WARM_UP = 100  # iterations before counting: the interpreter specialises the loop's instructions
# Label, statement, limit on nubracore / floor. The statements see the
# operations and x, y (8 doubles) and A (8 x 8) of one module as locals.
CALLS = [("dot, 8 doubles", "dot(x, y)", 1.12),
         ("axpy, 8 doubles, returns y", "axpy(-1.0, x, y)", 1.2),
         ("gemv 8x8, returns y", "gemv(-1.0, -1.0, A, x, y)", 1.15),
         ("v[i]", "x[3]", 1.0),
         ("v[i] = x", "x[3] = 1.5", 1.0),
         ("m[i, j]", "A[1, 2]", 1.0)]
EMPTY = "pass"
MODULES = ("floor", "nubracore")


def operands(name):
    """The operations and filled operands of one module."""
    if name == "floor":
        import floor
        module, vec, mat = floor, floor.vec, floor.mat
    else:
        import nubracore
        module, vec, mat = nubracore, nubracore.vecd, nubracore.matd
    x, y, A = vec(8), vec(8), mat(8, 8)
    for i in range(8):
        x[i], y[i] = 0.25 + 0.01 * i, 0.5
        for j in range(8):
            A[i, j] = 0.125 / (1 + i + j)
    return {"dot": module.dot, "axpy": module.axpy, "gemv": module.gemv, "x": x, "y": y, "A": A}


def loop(statement, names):
    """A function of n that runs statement n times with names as locals."""
    source = f"def run(n, {', '.join(names)}):\n    for _ in range(n):\n        {statement}\n"
    scope = {}
    exec(source, scope)
    return lambda n: scope["run"](n, *names.values())


def measurements():
    """(module, statement) in the order the child runs them."""
    return [(None, EMPTY)] + [(m, statement) for m in MODULES for _, statement, _ in CALLS]


def child():
    """Runs under callgrind: for each measurement, a marker before the N
    loop, one before the 2N loop and one after it."""
    names = {m: operands(m) for m in MODULES}
    for module, statement in measurements():
        run = loop(statement, names[module] if module else {})
        run(WARM_UP)
        os.getppid()
        run(N)
        os.getppid()
        run(2 * N)
        os.getppid()


def count(folder):
    """Instructions per iteration of each measurement, from the dumps."""
    def total(k):
        for line in (folder / f"callgrind.out.{k}").read_text().splitlines():
            if line.startswith("totals:"):
                return int(line.split()[1])
        raise RuntimeError(f"no totals in dump {k}")
    # Dumps 3k + 1, 3k + 2, 3k + 3 of measurement k: up to its first marker,
    # the N loop, the 2N loop.
    return {key: (total(3 * k + 3) - total(3 * k + 2)) / N for k, key in enumerate(measurements())}


def main():
    with tempfile.TemporaryDirectory() as folder:
        folder = Path(folder)
        # A fixed environment, folder and command line: their sizes move the
        # addresses that some hash tables key on.
        path = ":".join(str(Path(p).resolve()) for p in os.environ.get("PYTHONPATH", "").split(":") if p)
        env = {"PYTHONPATH": path, "PYTHONHASHSEED": "0", "OPENBLAS_NUM_THREADS": "1"}
        subprocess.run([shutil.which("valgrind") or "valgrind", "--tool=callgrind", "-q",
                        f"--callgrind-out-file={folder}/callgrind.out", "--dump-before=getppid", sys.executable,
                        str(Path(__file__).resolve()), "--child"], check=True, env=env, cwd="/")
        per_iteration = count(folder)
    empty = per_iteration[(None, EMPTY)]
    print(f"Instructions per call under callgrind, Python {sys.version.split()[0]}, the loop's own "
          f"{empty:.0f} per iteration taken off;")
    print("ratio = nubracore / floor, <= the limit")
    print(f"{'call':28} {'floor':>7} {'nubracore':>10} {'ratio':>6} {'limit':>6}")
    met = 0
    for label, statement, limit in CALLS:
        floor, ours = (per_iteration[(m, statement)] - empty for m in MODULES)
        ratio = ours / floor
        met += ratio <= limit
        print(f"{label:28} {floor:7.0f} {ours:10.0f} {ratio:6.2f} {limit:6.2f}  {'met' if ratio <= limit else 'MISSED'}")
    print(f"\n{met} of {len(CALLS)} targets met")


if __name__ == "__main__":
    if sys.argv[1:] == ["--child"]:
        child()
    else:
        main()
