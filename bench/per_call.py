"""Per-call timing of nubracore's calls at every overload position, and of
element access, with nothing but the module: what bench_operations.py
measures on Debian's interpreter, and also on every other interpreter the
wheels are built for. Run as a script, prints the times as JSON.

    PYTHONPATH=build-py3.12 python3.12 bench/per_call.py
"""

import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import timeit

import nubracore as nc

REPEATS = 40  # rounds of the per-call measurements; the machine is shared and noisy
PROCESSES = 5  # processes apart() times the positions in
N = 8  # elements per level-1 operand
# Shapes of the containers of each operation; a vector takes the rows.
SHAPES = {"level1": [(N, 1)] * 2, "ls": [(4, 2), (4, 1)], "gemv": [(4, 4), (4, 1), (4, 1)],
          "matvec": [(4, 4), (4, 1), (4, 1)], "gemm": [(4, 4)] * 3, "matmul": [(4, 4)] * 3}
# Operands of no elements: the routines cost next to nothing, the same at
# every position, so the times are what the call itself costs.
EMPTY = {"level1": [(0, 1)] * 2, "ls": [(0, 0), (1, 1)], "gemv": [(0, 0)] * 3, "matvec": [(0, 0)] * 3,
         "gemm": [(0, 0)] * 3, "matmul": [(0, 0)] * 3}
OPERATIONS = ["scale", "sum", "dot", "copy", "swap", "axpy", "hdot", "ls", "gemm", "matmul", "matvec", "gemv"]


def best(statements, number, repeats=REPEATS):
    """Seconds per run of each statement, a (text, names) pair, best of the
    rounds."""
    return fastest([statements] * repeats, number)


def fastest(rounds, number):
    """Seconds per run of each statement, best of the rounds: lists of the
    same statements, each a (text, names) pair run inline in timeit's loop.
    Within a round they take turns, so a busy moment of the machine hits them
    all. Where the loop's frame lies in memory moves a call's time by a few
    percent, whatever the call; so each round runs its loops one frame
    deeper, and the best of the rounds leaves that out."""
    times = [math.inf] * len(rounds[0])
    for depth, statements in enumerate(rounds):
        for i, (text, names) in enumerate(statements):
            times[i] = min(times[i], deeper(depth, lambda: timeit.timeit(text, globals=names, number=number)) / number)
    return times


def deeper(depth, f):
    """f(), called depth frames further down."""
    return f() if depth == 0 else deeper(depth - 1, f)


def call(function, *args, **keywords):
    """The statement that calls function with these arguments."""
    names = {"f": function} | {f"a{i}": a for i, a in enumerate(args)} | keywords
    given = [f"a{i}" for i in range(len(args))] + [f"{k}={k}" for k in keywords]
    return f"f({', '.join(given)})", names


def overloads(name):
    """The parameter types of each overload of nc.<name>, in chain order."""
    for line in getattr(nc, name).__doc__.splitlines():
        found = re.match(rf"\d+\. {name}\((.*)\) -> ", line)
        if found:
            yield [p.split(": ")[1] for p in found.group(1).split(", ")]


def arguments(name, types, shapes):
    """Arguments of one overload: scalars -1 (so repeated calls stay bounded)
    and containers of the given shapes, in order."""
    shapes = iter(shapes.get(name, shapes["level1"]))
    args = []
    for t in types:
        if t in ("float", "complex"):
            args.append(-1.0 if t == "float" else -1 + 0j)
            continue
        kind, suffix = t.split(".")[1][:-1], t[-1]
        rows, cols = next(shapes)
        if name == "ls" and cols > 1:  # an identity: gels leaves it and b as they were
            args.append(getattr(nc, "mat" + suffix)(rows, cols))
            for i in range(cols):
                args[-1][i, i] = 1
        elif kind == "mat":
            args.append(fill(getattr(nc, "mat" + suffix)(rows, cols)))
        elif kind == "view":
            args.append(fill(getattr(nc, "vec" + suffix)(rows + 2))[1:rows + 1])
        else:
            args.append(fill(getattr(nc, "vec" + suffix)(rows)))
    return args


def fill(c):
    rows = c.dim(0)
    for i in range(c.numel()):
        c[(i % rows, i // rows) if type(c).__name__.startswith("mat") else i] = 0.25 + 0.01 * i
    return c


def positions(number, shapes):
    """Seconds per call of every overload position of every operation. Each
    round has operands of its own, all made before any is timed, so that
    where they lie in memory changes from round to round."""
    return {name: fastest([[call(getattr(nc, name), *arguments(name, types, shapes)) for types in overloads(name)]
                           for _ in range(REPEATS)], number) for name in OPERATIONS}


def apart(number, shapes, processes=PROCESSES, env=None):
    """positions(), timed in processes of their own: of each operation, the
    times of the process where its positions spread least. How a process
    lays out the module's objects can make one signature, or a whole
    operation, cost up to nearly twice as much for the life of that process,
    whatever its position; so can where the machine put the module file's
    pages in memory, for every process that loads it while it stays cached.
    So each process loads a copy of its own, and compares its positions
    with one another only."""
    runs = []
    for _ in range(processes):
        with tempfile.TemporaryDirectory() as folder:
            shutil.copy(nc.__file__, folder)
            child = dict(env or os.environ)
            child["PYTHONPATH"] = os.pathsep.join([folder, child.get("PYTHONPATH", "")])
            runs.append(json.loads(subprocess.run([sys.executable, __file__, "--positions", str(number),
                                                   json.dumps(shapes)],
                                                  check=True, capture_output=True, text=True, env=child).stdout))
    return {name: min((run[name] for run in runs), key=lambda times: max(times) / times[0]) for name in OPERATIONS}


ELEMENTS = ["v[3]", "v[3] = x", "m[1, 2]", "m[1, 2] = x"]


def elements(s):
    """Seconds per element access of each of ELEMENTS, on scalar type s."""
    names = {"v": fill(getattr(nc, "vec" + s)(N)), "m": fill(getattr(nc, "mat" + s)(4, 4)),
             "x": 1.5 if s in "sd" else 1.5 + 0j}
    return dict(zip(ELEMENTS, best([(text, names) for text in ELEMENTS], 5000)))


if __name__ == "__main__":
    if sys.argv[1:2] == ["--positions"]:
        print(json.dumps(positions(int(sys.argv[2]), json.loads(sys.argv[3]))))
    else:
        print(json.dumps({"positions": positions(1000, SHAPES), "elements": elements("d")}))
