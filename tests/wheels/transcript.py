"""Seeded calls of the installed module, each written out with what it gave:
the result, or the exception and its message, and the elements of every
operand afterwards; before them, what got a fast path (the report past its
first line, which names the versions) and every docstring. Run by each interpreter,
the transcripts must be the same byte for byte. Needs nothing but the module.
The calls come in rounds, each on operands and a model of its own, so that
where another machine's kernels differ (a NaN or a rounding) the difference
stays within its round.

    python transcript.py SEED MODEL OUT
"""

import os
import random
import re
import subprocess
import sys

import nubracore as nc

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
from operation_table import PARAMETERS as OPERATIONS  # noqa: E402 - found beside the tests

CALLS = 6000
ROUND = 200
OTHERS = [None, "ab", 0, 1, 2, -1, 2**64, True, 0.5, -1.25, 1e300, float("nan"), 1j, 2 - 1j,
          slice(1, 3), slice(None), slice(0, 5, 2), (0, 1), (1, 0), [1, 1], (0, 1, 2), (2**64, 0), (0.5, 1), []]
COORDINATES = [[0, 0], (0, 1), [0, 2], [0], [], [0, 3], [0, 0, 0], [-1, 0], [1, 0], (0, 2**70), [0, 1.0]]


def kind(x):
    return type(x).__name__[:-1]


def text(x):
    """repr, but a complex number as its two parts, each as a float's repr."""
    return f"({x.real!r}, {x.imag!r})" if isinstance(x, complex) else repr(x)


def describe(x):
    """A container's elements as text, anything else as text()."""
    try:
        if kind(x) == "mat":
            return [text(x[i % x.dim(0), i // x.dim(0)]) for i in range(x.numel())]
        if kind(x) in ("vec", "view"):
            return [text(x[i]) for i in range(x.numel())]
    except TypeError:
        return "never constructed"
    return text(x)


def containers(rng):
    """Vectors with overlapping views, and matrices, of every scalar type,
    and an instance of each class never constructed."""
    pool = []
    for s in "sdcz":
        vec, mat = getattr(nc, "vec" + s), getattr(nc, "mat" + s)
        for n in (0, 1, 2, 3, 5, 8):
            v = vec(n)
            for i in range(n):
                v[i] = rng.uniform(-2, 2) if s in "sd" else complex(rng.uniform(-2, 2), rng.uniform(-2, 2))
            pool += [v, v[1:], v[:n // 2 + 1]]
        for rows, cols in ((0, 2), (1, 1), (2, 2), (2, 3), (3, 2), (3, 3), (4, 1)):
            m = mat(rows, cols)
            for k in range(rows * cols):
                m[k % rows, k // rows] = rng.uniform(-1, 1)
            pool.append(m)
        pool += [cls.__new__(cls) for cls in (vec, getattr(nc, "view" + s), mat)]
    return pool


def pick(rng, likely, extra, odds=0.85):
    return rng.choice(likely) if rng.random() < odds else rng.choice(extra)


def scalar(rng, s):
    return pick(rng, [0.5, -2.0, 3, 0, True] + ([1 + 0.5j, 2j] if s in "cz" else []), OTHERS)


def size(c):
    try:
        return c.numel()
    except TypeError:
        return None


def operands(rng, name, s, pool):
    """Arguments for the operation: mostly of scalar type s and fitting shapes."""
    same = {k: [c for c in pool if type(c).__name__ == k + s] for k in ("vec", "view", "mat")}
    vectors, matrices = same["vec"] + same["view"], same["mat"]
    args, wanted = [], None
    for p in OPERATIONS[name]:
        if p == "s":
            args.append(scalar(rng, s))
            continue
        fits = [c for c in (matrices if p == "m" else vectors) if wanted is None or size(c) == wanted]
        args.append(pick(rng, fits or vectors, pool + OTHERS, 0.9))
        if p == "m" and kind(args[-1]) == "mat" and size(args[-1]) is not None and rng.random() < 0.8:
            wanted = args[-1].dim(1) if name in ("matvec", "gemv") else args[-1].dim(0)
    return args


def calls(rng, pool, model):
    """Yields (label, call, operands to describe afterwards) for ever."""
    while True:
        roll = rng.random()
        if roll < 0.5:
            name = rng.choice(list(OPERATIONS))
            args = operands(rng, name, rng.choice("sdcz"), pool)
            if rng.random() < 0.05:
                args = args[:-1]
            yield name, lambda f=getattr(nc, name), a=args: f(*a), args
        elif roll < 0.8:
            c = rng.choice(pool)
            key = pick(rng, [(rng.randint(-1, 4), rng.randint(-1, 3))] if kind(c) == "mat"
                       else [rng.randint(-1, 9), slice(rng.randint(-2, 4), rng.randint(0, 9))], OTHERS)
            if rng.random() < 0.5:
                yield "getitem", lambda: c[key], [c]
            else:
                value = scalar(rng, type(c).__name__[-1])

                def store(c=c, key=key, value=value):
                    c[key] = value
                yield "setitem", store, [c]
        elif roll < 0.9:
            c, method = rng.choice(pool), rng.choice(["numel", "dim", "__repr__"])
            args = [rng.choice([0, 1, 2, -1, "x"])] if method == "dim" else []
            yield method, lambda: getattr(c, method)(*args), [c]
        else:
            method = rng.choice(["set", "set", "get", "get", "run"])
            index = pick(rng, [0, 0, 1], OTHERS)
            args = {"set": [index, rng.choice(COORDINATES), pick(rng, [1.5, -2.0, 3, rng.uniform(-5, 5)], OTHERS)],
                    "get": [index, rng.choice(COORDINATES)], "run": []}[method]
            yield "model." + method, lambda f=getattr(model, method), a=args: f(*a), []


def main():
    seed, path, out = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    rng = random.Random(seed)
    lines = subprocess.run([sys.executable, "-c", "import nubracore"], env=dict(os.environ, NUBRACORE_FAST_PATHS="report"),
                           capture_output=True, text=True, check=True).stderr.splitlines()
    # The report past its first line; under qemu, ONNX Runtime also warns about the CPU it can't read.
    lines = [line for line in lines if line.startswith("nubracore fast paths: ")][1:]
    for name, thing in vars(nc).items():
        if not name.startswith("__"):
            lines.append(f"{name}: {thing.__doc__}")
        if isinstance(thing, type):
            lines += [f"{name}.{member}: {method.__doc__}" for member, method in vars(thing).items() if callable(method)]
    for number in range(CALLS):
        if number % ROUND == 0:
            model = nc.model(path)
            generator = calls(rng, containers(rng), model)
            lines.append("new operands and model")
        label, call, args = next(generator)
        try:
            result = call()
            text = f"{type(result).__name__} {describe(result)}"
        except Exception as e:  # noqa: BLE001 - every exception is part of the transcript
            text = f"{type(e).__name__}: {e}"
        outputs = [model.get(0, [0, k]) for k in range(3)]
        lines.append(f"{number} {label}: {text} | {[describe(a) for a in args]} {outputs}")
    with open(out, "w") as transcript:
        transcript.writelines(re.sub(r"0x[0-9a-f]+", "0x?", line).replace("\n", "\\n") + "\n" for line in lines)


if __name__ == "__main__":
    main()
