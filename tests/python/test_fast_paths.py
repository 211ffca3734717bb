"""The fast call paths against pybind11's own dispatch: the same seeded calls,
made in one interpreter with the fast paths and in one without, must give the
same results, exceptions and messages, and leave the same elements behind.

Run as a script, this file makes the calls and writes what each gave."""

import os
import random
import re
import subprocess
import sys
import warnings

import numpy as np

import models
import sanitizer
from operation_table import PARAMETERS

CALLS = 1500 if sanitizer.ACTIVE else 6000
OPERATIONS = {name: len(parameters) for name, parameters in PARAMETERS.items()}
SCALARS = {name: [i for i, p in enumerate(parameters) if p == "s"] for name, parameters in PARAMETERS.items()}


class Real(float):
    pass


class Indexable:
    """Converts with code of its own, and counts how often it runs."""
    runs = 0

    def __index__(self):
        Indexable.runs += 1
        return 1

    def __float__(self):
        Indexable.runs += 1
        return 0.5


def describe(x):
    """A container's elements as text, anything else as its repr."""
    try:
        if type(x).__name__[:-1] == "mat":
            rows = x.dim(0)
            return [repr(x[i % rows, i // rows]) for i in range(x.numel())]
        if type(x).__name__[:-1] in ("vec", "view"):
            return [repr(x[i]) for i in range(x.numel())]
        return repr(x)
    except TypeError:
        return "never constructed"


def containers(nc, rng):
    """Vectors, overlapping views and matrices of every scalar type, with
    operation results that share storage, and instances never constructed."""
    pool = []
    for s in "sdcz":
        vec, mat = getattr(nc, "vec" + s), getattr(nc, "mat" + s)
        for n in (0, 1, 2, 3, 5, 8, 12):
            v = vec(n)
            for i in range(n):
                v[i] = rng.uniform(-2, 2) if s in "sd" else complex(rng.uniform(-2, 2), rng.uniform(-2, 2))
            pool += [v, v[1:], v[:n // 2 + 1], v[n // 3:n]]
        for rows, cols in ((0, 2), (1, 1), (2, 2), (2, 3), (3, 2), (3, 3), (4, 1), (11, 5)):
            m = mat(rows, cols)
            for k in range(rows * cols):
                m[k % rows, k // rows] = rng.uniform(-1, 1)
            pool.append(m)
        pool.append(nc.copy(pool[-1], pool[-1]))
        pool += [cls.__new__(cls) for cls in (vec, getattr(nc, "view" + s), mat)]
    return pool


def others(rng):
    return [None, "ab", b"x", 0, 1, 2, 3, -1, 2**64, 2**1100, True, 0.5, -1.25, 1e300, float("nan"), 1j, 2 - 1j,
            np.float64(0.5), np.int64(1), np.complex128(1j), Real(1.5), Indexable(), slice(1, 3), slice(None),
            slice(0, 5, 2), (0, 1), (1, 0), [1, 1], (0, 1, 2), (2**64, 0), (0.5, 1), [], object()]


def pick(rng, likely, extra, odds=0.8):
    return rng.choice(likely) if rng.random() < odds else rng.choice(extra)


def suffix(x):
    return type(x).__name__[-1]


def is_matrix(x):
    return type(x).__name__[:-1] == "mat"


def shape(x):
    try:
        return (x.dim(0), x.dim(1)) if is_matrix(x) else (x.numel(),)
    except TypeError:
        return (None,)


def fitting(rng, candidates, shapes, rows, cols=None):
    """One of the candidates with rows rows (and cols columns), if there is one."""
    fits = [c for c in candidates if shapes[id(c)][0] == rows and (cols is None or shapes[id(c)][1:] == (cols,))]
    return rng.choice(fits or candidates)


def scalar_for(rng, s, extra):
    """Mostly a scalar of the kind s takes, in the first pass or the conversion pass."""
    return pick(rng, [0.5, -2.0, 3, 0, True] + ([1 + 0.5j, 2j] if s in "cz" else []), extra)


def index_for(rng, c, extra):
    """Mostly an index near the range of c: an int, or a pair for a matrix."""
    if is_matrix(c):
        near = [(rng.randint(0, 4), rng.randint(0, 3)), (rng.randint(0, 2), rng.randint(0, 1))]
    else:
        near = [rng.randint(-1, 9), rng.randint(0, 2), slice(rng.randint(-2, 4), rng.randint(0, 9))]
    return pick(rng, near, extra)


# Coordinates near the tensors of the models the test loads, and further off.
COORDINATES = [[0, 0], (0, 1), [0, 2], [0], [1], (1,), [], [0, 3], [0, 0, 0], [-1, 0], [2], range(2),
               np.array([0, 1]), [0, True], [0, 1.0], "ab", (0, 2**70), [0, -1]]


def calls(nc, rng, pool, extra, loaded):
    """Yields (label, call, arguments to describe afterwards)."""
    shapes = {id(c): shape(c) for c in pool}
    while True:
        kind = rng.random()
        if kind < 0.45:
            name = rng.choice(list(OPERATIONS))
            s = suffix(rng.choice(pool))
            same = [c for c in pool if suffix(c) == s]
            matrices = [c for c in same if is_matrix(c)]
            args = [scalar_for(rng, s, extra) if i in SCALARS.get(name, []) else pick(rng, same, pool, 0.9)
                    for i in range(OPERATIONS[name])]
            first = len(SCALARS.get(name, []))
            if name in ("gemm", "matmul", "gemv", "matvec", "ls"):
                args[first] = A = pick(rng, matrices, pool, 0.9)
                if name != "ls" and is_matrix(A) and shapes[id(A)][0] is not None and rng.random() < 0.8:
                    rows, cols = shapes[id(A)]
                    if name in ("gemv", "matvec"):
                        args[first + 1:] = [fitting(rng, same, shapes, cols), fitting(rng, same, shapes, rows)]
                    else:
                        X = fitting(rng, matrices, shapes, cols)
                        args[first + 1:] = [X, fitting(rng, matrices, shapes, rows, shapes[id(X)][-1])]
            if rng.random() < 0.05:
                args = args[:-1] if rng.random() < 0.5 else args + [args[-1]]
            keywords = {"y": args.pop()} if args and rng.random() < 0.03 else {}
            yield name, lambda f=getattr(nc, name), a=args, k=keywords: f(*a, **k), args
        elif kind < 0.75:
            c = rng.choice(pool)
            key = index_for(rng, c, extra)
            if rng.random() < 0.5:
                yield "getitem", lambda: c[key], [c]
            else:
                value = scalar_for(rng, suffix(c), extra)

                def store(c=c, key=key, value=value):
                    c[key] = value
                yield "setitem", store, [c]
        elif kind < 0.85:
            c, method = rng.choice(pool), rng.choice(["numel", "dim", "__repr__", "__getitem__"])
            count = method in ("dim", "__getitem__") if rng.random() < 0.9 else rng.randint(0, 2)
            args = [c if rng.random() < 0.95 else None] + [pick(rng, [0, 1, 2], extra) for _ in range(count)]
            yield method, lambda: getattr(type(c), method)(*args), [c]
        else:
            model, method = rng.choice(loaded), rng.choice(["set", "set", "get", "get", "run"])
            index = pick(rng, [0, 0, 1], extra, 0.9)
            coords = rng.choice(COORDINATES[:7] * 4 + COORDINATES)
            value = pick(rng, [1.5, -2.0, 3, rng.uniform(-5, 5)], [True, 2**1100, np.float32(0.25), "x", None, 1j])
            args = {"set": [index, coords, value], "get": [index, coords], "run": []}[method]
            if rng.random() < 0.05:
                args = args[:-1] if args else [0]
            yield "model." + method, lambda f=getattr(model, method), a=args: f(*a), []


def transcript(seed, paths, out):
    import nubracore as nc
    rng = random.Random(seed)
    pool = containers(nc, rng)
    extra = others(rng)
    loaded = [nc.model(path) for path in paths] + [nc.model.__new__(nc.model)]
    generator = calls(nc, rng, pool, extra, loaded)
    with open(out, "w") as record:
        for number in range(CALLS):
            label, call, args = next(generator)
            with warnings.catch_warnings(record=True) as warned:
                warnings.simplefilter("always")
                try:
                    result = call()
                    text = f"{type(result).__name__} {describe(result)}"
                except Exception as e:  # noqa: BLE001 - every exception is part of the record
                    text = f"{type(e).__name__}: {e}"
            text += f" | conversions {Indexable.runs}, warnings {[str(w.message) for w in warned]}"
            outputs = [loaded[0].get(0, [0, k]) for k in range(3)] + [loaded[1].get(i, [k]) for i in (0, 1)
                                                                       for k in (0, 1)]
            line = f"{number} {label}: {text} | {[describe(a) for a in args]} {outputs}"
            record.write(re.sub(r"0x[0-9a-f]+", "0x?", line).replace("\n", "\\n") + "\n")


def test_fast_paths_change_nothing_observable(tmp_path):
    paths = [models.identity(tmp_path / "identity.onnx"), models.two_inputs(tmp_path / "two.onnx"),
             models.int64_input(tmp_path / "int64.onnx"), models.scalar(tmp_path / "scalar.onnx")]
    records = {}
    for fast in ("1", "0"):
        records[fast] = tmp_path / f"calls{fast}.txt"
        env = dict(os.environ, NUBRACORE_FAST_PATHS=fast)
        subprocess.run([sys.executable, __file__, "20261208", str(records[fast]), *paths], env=env, check=True,
                       stdout=subprocess.DEVNULL, timeout=300)
    with_fast, without = records["1"].read_text().splitlines(), records["0"].read_text().splitlines()
    assert len(with_fast) == len(without) == CALLS
    for a, b in zip(with_fast, without):
        assert a == b


if __name__ == "__main__":
    transcript(int(sys.argv[1]), sys.argv[3:], sys.argv[2])
