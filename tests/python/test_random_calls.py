"""Seeded random calls of every operation on every scalar type and container
kind, checked against numpy: sizes around the matching ones, views at
offsets, operands sharing storage (the same stretch, overlapping stretches,
disjoint ones) and scalars of the wrong type. Each call gives numpy's result
or raises, and then every operand holds what it held before."""

import random

import numpy as np
import pytest

import nubracore as nc
import sanitizer
from operation_table import PARAMETERS, WRITES

CALLS = 4000 if sanitizer.ACTIVE else 20000
DTYPES = dict(zip("sdcz", (np.float32, np.float64, np.complex64, np.complex128)))
KINDS = ("vec", "view", "mat")
GEMV, GEMM = "In gemv expression y = aAx + by, ", "In gemm expression Y = aAX + bY, "
# Container kinds of each operation's overloads; scalars come first.
SIGNATURES = {name: (p.count("s"), len(p) - p.count("s")) for name, p in PARAMETERS.items()}


class Refused(Exception):
    """The error a call must raise."""


class Store:
    """A vector's or a matrix's elements, and the numpy copy that says what they should be."""

    def __init__(self, suffix, rng, rows, cols=None):
        self.matrix = cols is not None
        self.suffix = suffix
        self.obj = getattr(nc, ("mat" if self.matrix else "vec") + suffix)(*((rows, cols) if self.matrix else (rows,)))
        self.rows = rows
        values = [complex(rng.uniform(-2, 2), rng.uniform(-2, 2)) if suffix in "cz" else rng.uniform(-2, 2)
                  for _ in range(self.obj.numel())]
        for i, v in enumerate(values):
            self.obj[(i % rows, i // rows) if self.matrix else i] = v
        self.expected = self.read()

    def read(self):
        n = self.obj.numel()
        return np.array([self.obj[(i % self.rows, i // self.rows) if self.matrix else i] for i in range(n)],
                        dtype=complex if self.suffix in "cz" else float)


class Operand:
    """A container in a call: a stretch of a store."""

    def __init__(self, obj, store, start, kind):
        self.obj, self.store, self.start, self.kind = obj, store, start, kind
        self.numel = obj.numel()
        self.dim0 = obj.dim(0)
        self.cols = obj.dim(1) if kind == "mat" else None

    def region(self, count):
        return self.store, self.start, count


def new_operand(kind, suffix, rng, rows, cols=1):
    if kind == "mat":
        store = Store(suffix, rng, rows, cols)
        return Operand(store.obj, store, 0, kind)
    lo, hi = (rng.randint(0, 2), rng.randint(0, 2)) if kind == "view" else (0, 0)
    store = Store(suffix, rng, lo + rows + hi)
    return Operand(store.obj[lo:lo + rows] if kind == "view" else store.obj, store, lo, kind)


def sharing(other, kind, rng, rows):
    """A container of kind on the storage of other, or None where that can't be."""
    store = other.store
    if store.matrix != (kind == "mat"):
        return None
    if kind != "view":
        return Operand(rng.choice([store.obj, nc.copy(store.obj, store.obj)]), store, 0, kind)
    start = max(0, other.start + rng.choice([0, 0, 1, -1, rows, other.numel]))
    if start + rows > store.obj.numel():
        return None
    return Operand(store.obj[start:start + rows], store, start, kind)


def overlaps(a, b):
    (sa, pa, na), (sb, pb, nb) = a, b
    return sa is sb and na > 0 and nb > 0 and pa < pb + nb and pb < pa + na


def scalar_of(suffix, rng):
    """A scalar of the call's type, one it converts from, or a wrong one."""
    good = [rng.uniform(-2, 2), rng.randint(-3, 3)] + ([complex(rng.uniform(-2, 2), 1)] if suffix in "cz" else [])
    return rng.choice(good * 6 + [1j, "1", None, True, np.float64(0.5)])


def expect(op, suffix, scalars, ops):
    """What the call must do: a result and new store contents, or Refused."""
    if any(o.store.suffix != suffix for o in ops) or any(s is None or isinstance(s, str) or (isinstance(s, complex) and suffix in "sd") for s in scalars):
        raise Refused(TypeError)
    a, b = (scalars + [1, 1])[:2] if op not in ("matvec", "matmul") else (1, 1)
    values = {id(o.store): o.store.expected.copy() for o in ops}

    def window(operand, count):
        return values[id(operand.store)][operand.start:operand.start + count]

    if op == "scale":
        window(ops[0], ops[0].numel)[:] *= a
        return None, values
    if op in ("sum", "dot", "copy", "swap", "axpy", "hdot"):
        x, y = ops
        n = x.numel
        if y.numel < n:
            raise Refused(RuntimeError, f"operand y has {y.numel} elements, fewer than the {n} of operand x")
        xv, yv = window(x, n).copy(), window(y, n).copy()
        if op in WRITES and overlaps(x.region(n), y.region(n)) and x.start != y.start:
            raise Refused(RuntimeError, "operand y overlaps operand x")
        if op in ("dot", "hdot"):
            return (np.vdot(xv, yv) if op == "hdot" else np.dot(xv, yv)), values
        window(y, n)[:] = {"sum": xv + yv, "axpy": a * xv + yv, "copy": xv, "swap": xv}[op]
        if op == "swap":
            window(x, n)[:] = yv
        return None, values
    if op in ("gemv", "matvec"):
        A, x, y = ops
        m, n = A.dim0, A.cols
        for wrong, message in [
                (x.dim0 != n, f"matrix A dimension 1: {n}, doesn't match vector x dimension 0: {x.dim0}"),
                (m != y.dim0, f"matrix A dimension 0: {m}, doesn't match vector y dimension 0: {y.dim0}"),
                (x.numel < x.dim0, f"vector x has {x.numel} elements, fewer than its dimension 0: {x.dim0}"),
                (y.numel < y.dim0, f"vector y has {y.numel} elements, fewer than its dimension 0: {y.dim0}"),
                (overlaps(y.region(m), x.region(n)), "vector y overlaps vector x"),
                (overlaps(y.region(m), A.region(A.numel)), "vector y overlaps matrix A")]:
            if wrong:
                raise Refused(RuntimeError, GEMV + message)
        matrix = window(A, A.numel).reshape(n, m).T
        window(y, m)[:] = a * matrix @ window(x, n) + b * window(y, m)
        return None, values
    if op in ("gemm", "matmul"):
        A, X, Y = ops
        for wrong, message in [
                (A.dim0 != Y.dim0, f"matrix A dimension 0: {A.dim0}, doesn't match matrix Y dimension 0: {Y.dim0}"),
                (X.cols != Y.cols, f"matrix X dimension 1: {X.cols}, doesn't match matrix Y dimension 1: {Y.cols}"),
                (A.cols != X.dim0, f"matrix A dimension 1: {A.cols}, doesn't match matrix X dimension 0: {X.dim0}"),
                (overlaps(Y.region(Y.numel), A.region(A.numel)), "matrix Y overlaps matrix A"),
                (overlaps(Y.region(Y.numel), X.region(X.numel)), "matrix Y overlaps matrix X")]:
            if wrong:
                raise Refused(RuntimeError, GEMM + message)
        A_, X_, Y_ = (window(o, o.numel).reshape(o.cols, o.dim0).T for o in ops)
        window(Y, Y.numel)[:] = (a * A_ @ X_ + b * Y_).T.ravel()
        return None, values
    A, b_ = ops  # ls
    m, n = A.dim0, A.cols
    need = max(1, m, n)
    if b_.numel < need:
        raise Refused(RuntimeError, f"In ls, vector b has {b_.numel} elements, fewer than max(1, m, n) = {need}")
    if overlaps(b_.region(need), A.region(A.numel)):
        raise Refused(RuntimeError, "In ls, vector b overlaps matrix A")
    if min(m, n) == 0:
        window(b_, max(m, n))[:] = 0
    else:
        matrix = window(A, A.numel).reshape(n, m).T
        solution = np.linalg.lstsq(matrix.astype(complex), window(b_, m).astype(complex), rcond=None)[0]
        window(b_, n)[:] = solution if suffix in "cz" else solution.real
    return None, values


def make_call(rng):
    op = rng.choice(list(SIGNATURES))
    suffix = rng.choice("cz" if op == "hdot" else "sdcz")
    scalar_count, container_count = SIGNATURES[op]
    kinds = [rng.choice(KINDS) for _ in range(container_count)]
    if op in ("ls", "gemv", "matvec"):
        kinds[0] = "mat"
    if op in ("gemm", "matmul"):
        kinds = ["mat"] * 3
    m, n, k = (rng.choice([0, 1, 1, 2, 3, 4, 5]) for _ in range(3))
    off = lambda size: max(0, size + rng.choice([0] * 12 + [-1, 1, 2]))  # noqa: E731
    if op in ("gemv", "matvec"):
        shapes = [(m, n), (off(n), rng.randint(0, 2)), (off(m), rng.randint(0, 2))]
    elif op in ("gemm", "matmul"):
        shapes = [(m, k), (off(k), n), (off(m), off(n))]
    elif op == "ls":
        m, n = max(m, 1), max(n, 1) if rng.random() < 0.95 else 0
        shapes = [(m, n), (off(max(m, n)), 1)]
    else:
        shapes = [(n, rng.randint(1, 2))]
        shapes.append((off(n * shapes[0][1] if kinds[0] == "mat" else n), 1))
    ops = [new_operand(kind, suffix, rng, *shape) for kind, shape in zip(kinds, shapes)]
    if container_count > 1 and rng.random() < 0.02:  # a container of another scalar type
        ops[-1] = new_operand(kinds[-1], rng.choice("sdcz".replace(suffix, "")), rng, *shapes[-1])
    written = WRITES.get(op, 1)
    if container_count > 1 and rng.random() < 0.4:
        other = rng.choice([i for i in range(container_count) if i != written])
        shared = sharing(ops[other], kinds[written], rng, shapes[written][0])
        if shared is not None:
            ops[written] = shared
    scalars = [scalar_of(suffix, rng) for _ in range(scalar_count)]
    return op, suffix, scalars, ops


def tolerance(suffix):
    return dict(rtol=2e-3, atol=2e-4) if suffix in "sc" else dict(rtol=1e-9, atol=1e-11)


@pytest.mark.parametrize("seed", range(4))
def test_random_calls_against_numpy(seed):
    rng = random.Random(seed)
    for number in range(CALLS // 4):
        op, suffix, scalars, ops = make_call(rng)
        case = f"seed {seed} call {number}: {op}{suffix} {scalars} {[(o.kind, o.numel, o.start) for o in ops]}"
        try:
            result, values = expect(op, suffix, scalars, ops)
            refused = None
        except Refused as e:
            refused = e.args
        try:
            got = getattr(nc, op)(*scalars, *(o.obj for o in ops))
            error = None
        except (TypeError, RuntimeError) as e:
            error = (type(e), str(e))
        stores = {id(o.store): o.store for o in ops}.values()
        if refused:
            assert error is not None and error[0] is refused[0], case
            assert len(refused) == 1 or error[1] == refused[1], case
            for store in stores:
                np.testing.assert_array_equal(store.read(), store.expected, err_msg=case)
            continue
        assert error is None, f"{case}: {error}"
        if op in ("dot", "hdot"):
            np.testing.assert_allclose(got, result, **tolerance(suffix), err_msg=case)
        elif op not in ("swap", "ls"):
            assert type(got) is type(ops[WRITES[op]].obj) and got.numel() == ops[WRITES[op]].numel, case
        for store in stores:
            expected = values[id(store)]
            if op == "ls" and store is ops[0].store:
                continue  # gels leaves its factorisation in A
            if op == "ls":
                n, m = ops[0].cols, ops[0].dim0
                start = ops[1].start
                got_b = store.read()
                solution = slice(start, start + n)
                np.testing.assert_allclose(got_b[solution], expected[solution], rtol=1e-2, atol=1e-3, err_msg=case)
                outside = np.r_[0:start, start + max(m, n):len(expected)]
                np.testing.assert_array_equal(got_b[outside], store.expected[outside], err_msg=case)
                continue
            np.testing.assert_allclose(store.read(), expected, **tolerance(suffix), err_msg=case)
