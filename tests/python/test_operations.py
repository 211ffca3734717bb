import collections
import re
import zlib

import numpy as np
import pytest

import nubracore as nc
from operation_table import DOCS

SUFFIXES = "sdcz"
REAL = "sd"
KINDS = ("vec", "view", "mat")
DTYPES = dict(zip(SUFFIXES, (np.float32, np.float64, np.complex64, np.complex128)))


def tol(suffix):
    return dict(rtol=2e-3, atol=2e-4) if suffix in "sc" else dict(rtol=1e-10, atol=1e-12)


def seeded(*key):
    return np.random.default_rng(zlib.crc32(repr(key).encode()))


def scalar(rng, suffix):
    a = rng.normal()
    return a if suffix in REAL else complex(a, rng.normal())


def flat(c):
    if isinstance(c, tuple(getattr(nc, "mat" + s) for s in SUFFIXES)):
        rows = c.dim(0)
        return [c[i % rows, i // rows] for i in range(c.numel())]
    return [c[i] for i in range(c.numel())]


class Operand:
    """A random container of a kind; a view sits inside a longer vector."""

    def __init__(self, kind, suffix, rng, length, cols=None):
        self.lo = int(rng.integers(1, 3)) if kind == "view" else 0
        if kind == "mat":
            cols = int(rng.integers(1, 4)) if cols is None else cols
            self.obj = self.base = getattr(nc, "mat" + suffix)(length, cols)
        else:
            self.base = getattr(nc, "vec" + suffix)(self.lo + length + (kind == "view") * int(rng.integers(0, 3)))
            self.obj = self.base[self.lo:self.lo + length] if kind == "view" else self.base
        values = rng.normal(size=self.base.numel()) + (0 if suffix in REAL else 1j * rng.normal(size=self.base.numel()))
        self.start = values.astype(DTYPES[suffix])
        for i, v in enumerate(self.start.tolist()):
            if kind == "mat":
                self.base[i % length, i // length] = v
            else:
                self.base[i] = v
        self.expected = self.start.copy()

    def window(self, n):
        return self.expected[self.lo:self.lo + n]

    def check(self, suffix):
        np.testing.assert_allclose(flat(self.base), self.expected, **tol(suffix))


LEVEL1 = [(op, s, kx, ky) for op in ("sum", "dot", "copy", "swap", "axpy", "hdot") for s in SUFFIXES
          for kx in KINDS for ky in KINDS if op != "hdot" or s not in REAL]
LEVEL1 += [("scale", s, kx, "vec") for s in SUFFIXES for kx in KINDS]


@pytest.mark.parametrize("op,suffix,kx,ky", LEVEL1)
def test_level1_against_numpy(op, suffix, kx, ky):
    rng = seeded(op, suffix, kx, ky)
    x = Operand(kx, suffix, rng, int(rng.integers(0, 7)))
    n = x.obj.numel()
    y = Operand(ky, suffix, rng, n + int(rng.integers(0, 3)))  # y may run longer than x
    a = scalar(rng, suffix)
    xv, yv = x.window(n), y.window(n)
    expected_result = y.obj
    if op == "scale":
        expected_result = x.obj
        result = nc.scale(a, x.obj)
        xv *= a
    elif op in ("dot", "hdot"):
        result = getattr(nc, op)(x.obj, y.obj)
        assert type(result) is (float if suffix in REAL else complex)
        np.testing.assert_allclose(result, np.vdot(xv, yv) if op == "hdot" else np.dot(xv, yv), **tol(suffix))
    elif op == "swap":
        assert nc.swap(x.obj, y.obj) is None
        xv[:], yv[:] = yv.copy(), xv.copy()
    else:
        result = getattr(nc, op)(*((a,) if op == "axpy" else ()), x.obj, y.obj)
        yv[:] = {"sum": xv + yv, "axpy": a * xv + yv, "copy": xv}[op]
    if op not in ("dot", "hdot", "swap"):
        assert type(result) is type(expected_result) and flat(result) == flat(expected_result)
    x.check(suffix)
    y.check(suffix)


@pytest.mark.parametrize("op", ["sum", "dot", "copy", "swap", "axpy", "hdot"])
@pytest.mark.parametrize("kx,ky", [(kx, ky) for kx in KINDS for ky in KINDS])
def test_level1_refuses_short_y_untouched(op, kx, ky):
    rng = seeded(op, kx, ky)
    x, y = Operand(kx, "z", rng, 3, cols=1), Operand(ky, "z", rng, 2, cols=1)
    with pytest.raises(RuntimeError, match="^operand y has 2 elements, fewer than the 3 of operand x$"):
        getattr(nc, op)(*((1j,) if op == "axpy" else ()), x.obj, y.obj)
    x.check("z")
    y.check("z")


def matrix(suffix, rng, rows, cols):
    A = Operand("mat", suffix, rng, rows, cols)
    return A, A.start.reshape(cols, rows).T


@pytest.mark.parametrize("op", ["gemv", "matvec"])
@pytest.mark.parametrize("suffix", SUFFIXES)
@pytest.mark.parametrize("kx,ky", [(kx, ky) for kx in KINDS for ky in KINDS])
def test_matrix_vector_product_against_numpy(op, suffix, kx, ky):
    rng = seeded(op, suffix, kx, ky)
    m, n = rng.integers(1, 6, size=2)
    A, a_np = matrix(suffix, rng, m, n)
    x, y = Operand(kx, suffix, rng, n), Operand(ky, suffix, rng, m)  # a matrix takes part with its first column
    a, b = (scalar(rng, suffix), scalar(rng, suffix)) if op == "gemv" else (1, 1)
    result = nc.gemv(a, b, A.obj, x.obj, y.obj) if op == "gemv" else nc.matvec(A.obj, x.obj, y.obj)
    y.window(m)[:] = a * a_np @ x.window(n) + b * y.window(m)
    assert type(result) is type(y.obj)
    for operand in (A, x, y):
        operand.check(suffix)


@pytest.mark.parametrize("op", ["gemm", "matmul"])
@pytest.mark.parametrize("suffix", SUFFIXES)
def test_matrix_product_against_numpy(op, suffix):
    for trial in range(4):
        rng = seeded(op, suffix, trial)
        m, k, n = rng.integers(1, 9, size=3)
        (A, a_np), (X, x_np), (Y, y_np) = (matrix(suffix, rng, *shape) for shape in ((m, k), (k, n), (m, n)))
        a, b = (scalar(rng, suffix), scalar(rng, suffix)) if op == "gemm" else (1, 1)
        result = nc.gemm(a, b, A.obj, X.obj, Y.obj) if op == "gemm" else nc.matmul(A.obj, X.obj, Y.obj)
        Y.expected[:] = (a * a_np @ x_np + b * y_np).T.ravel()
        assert type(result) is type(Y.obj)
        for operand in (A, X, Y):
            operand.check(suffix)


GEMV = "In gemv expression y = aAx + by, "
GEMM = "In gemm expression Y = aAX + bY, "


@pytest.mark.parametrize("shapes,message", [
    (((2, 3), 2, 2), GEMV + "matrix A dimension 1: 3, doesn't match vector x dimension 0: 2"),
    (((2, 3), 2, 3), GEMV + "matrix A dimension 1: 3, doesn't match vector x dimension 0: 2"),
    (((2, 3), 3, 3), GEMV + "matrix A dimension 0: 2, doesn't match vector y dimension 0: 3"),
    (((2, 3), (3, 0), 2), GEMV + "vector x has 0 elements, fewer than its dimension 0: 3"),
    (((2, 3), 3, (2, 0)), GEMV + "vector y has 0 elements, fewer than its dimension 0: 2"),
    (((2, 3), (3, 2), (3, 2)), GEMM + "matrix A dimension 0: 2, doesn't match matrix Y dimension 0: 3"),
    (((2, 3), (3, 2), (2, 3)), GEMM + "matrix X dimension 1: 2, doesn't match matrix Y dimension 1: 3"),
    (((2, 3), (4, 2), (2, 2)), GEMM + "matrix A dimension 1: 3, doesn't match matrix X dimension 0: 4"),
])
@pytest.mark.parametrize("fixed", [False, True])
def test_product_shape_messages_leave_output_untouched(shapes, message, fixed):
    rng = seeded(shapes)
    A, x, y = (Operand("vec", "d", rng, s) if isinstance(s, int) else Operand("mat", "d", rng, *s) for s in shapes)
    if message.startswith(GEMV):
        call = (lambda: nc.matvec(A.obj, x.obj, y.obj)) if fixed else (lambda: nc.gemv(1.0, 1.0, A.obj, x.obj, y.obj))
    else:
        call = (lambda: nc.matmul(A.obj, x.obj, y.obj)) if fixed else (lambda: nc.gemm(1.0, 1.0, A.obj, x.obj, y.obj))
    with pytest.raises(RuntimeError, match="^" + re.escape(message) + "$"):
        call()
    y.check("d")


@pytest.mark.parametrize("suffix", SUFFIXES)
@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("m,n", [(5, 3), (4, 4), (2, 5)])
def test_ls_against_numpy(suffix, kind, m, n):
    rng = seeded(suffix, kind, m, n)
    A, a_np = matrix(suffix, rng, m, n)
    b = Operand(kind, suffix, rng, max(m, n), cols=1)
    assert nc.ls(A.obj, b.obj) is None
    solution = np.linalg.lstsq(a_np.astype(complex), b.window(m).astype(complex), rcond=None)[0]
    np.testing.assert_allclose(flat(b.obj)[:n], solution, **tol(suffix))
    b.window(max(m, n))[:] = flat(b.obj)[:max(m, n)]  # gels' work area; the rest of a view's vector stays
    b.check(suffix)


@pytest.mark.parametrize("suffix", SUFFIXES)
@pytest.mark.parametrize("case,message", [
    ("short", "In ls, vector b has 2 elements, fewer than max(1, m, n) = 3"),
    ("rank", "In ls, matrix A is rank deficient: diagonal element 2 of its triangular factor is zero"),
    ("nan", "In ls, argument 6 rejected by gels"),
])
def test_ls_reports_failure(suffix, case, message):
    A = getattr(nc, "mat" + suffix)(3, 2)
    A[0, 0] = A[1, 0] = 1
    A[2, 1] = {"short": 1, "rank": 0, "nan": float("nan")}[case]
    b = getattr(nc, "vec" + suffix)(2 if case == "short" else 3)
    b[0] = 1
    with pytest.raises(RuntimeError, match="^" + re.escape(message) + "$"):
        nc.ls(A, b)
    if case == "short":
        assert flat(A) == [1, 1, 0, 0, 0, 1] and flat(b) == [1, 0]


def registered_overloads():
    sigs = collections.defaultdict(list)

    def add(name, args, result):
        sigs[name].append(f"{name}({', '.join(f'arg{i}: {a}' for i, a in enumerate(args))}) -> {result}")

    for s in SUFFIXES:
        e = "float" if s in REAL else "complex"
        vec, view, mat = kinds = [f"nubracore.{k}{s}" for k in KINDS]
        for t1 in kinds:
            add("scale", [e, t1], t1)
            for t2 in kinds:
                add("sum", [t1, t2], t2), add("dot", [t1, t2], e), add("copy", [t1, t2], t2)
                add("swap", [t1, t2], "None"), add("axpy", [e, t1, t2], t2)
                if s not in REAL:
                    add("hdot", [t1, t2], "complex")
                if t1 == mat:
                    add("ls", [t1, t2], "None")
                for t3 in kinds:
                    if t1 == t2 == t3 == mat:
                        add("gemm", [e, e, t1, t2, t3], t3), add("matmul", [t1, t2, t3], t3)
                    if t1 == mat:
                        add("matvec", [t1, t2, t3], t3), add("gemv", [e, e, t1, t2, t3], t3)
    return sigs


COUNTS = {"scale": 12, "hdot": 18, "ls": 12, "gemm": 4, "matmul": 4}


@pytest.mark.parametrize("name", DOCS)
def test_overload_chain_order_and_docstrings(name):
    expected = registered_overloads()[name]
    assert len(expected) == COUNTS.get(name, 36)
    lines = [f"{name}(*args, **kwargs)", "Overloaded function.", ""]
    for i, sig in enumerate(expected, 1):
        lines += [f"{i}. {sig}", "", DOCS[name], ""]
    assert getattr(nc, name).__doc__ == "\n".join(lines)


@pytest.mark.parametrize("call", [
    lambda: nc.hdot(nc.vecd(1), nc.vecd(1)),
    lambda: nc.ls(nc.vecs(2), nc.vecs(2)),
    lambda: nc.gemm(1.0, 1.0, nc.matd(1, 1), nc.vecd(1), nc.matd(1, 1)),
    lambda: nc.gemv(1.0, 1.0, nc.vecd(1), nc.vecd(1), nc.vecd(1)),
    lambda: nc.matvec(nc.vecc(2)[0:1], nc.vecc(1), nc.vecc(1)),
    lambda: nc.copy(nc.vecs(1), nc.vecd(1)),
    lambda: nc.sum(nc.vecc(1), nc.vecz(1)),
    lambda: nc.scale("2", nc.vecs(1)),
])
def test_unmatched_arguments_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("op,kind", [(op, kind) for op in ("scale", "sum", "copy", "axpy", "matvec", "gemv")
                                       for kind in KINDS] + [("matmul", "mat"), ("gemm", "mat")])
def test_result_is_new_instance_sharing_output(op, kind):
    x, out = (Operand(kind, "c", seeded(op, i), 1, cols=1).obj for i in range(2))
    one = nc.matc(1, 1)
    args = {"scale": (2.0, out), "sum": (x, out), "copy": (x, out), "axpy": (2, x, out), "matvec": (one, x, out),
            "gemv": (1, 1, one, x, out), "matmul": (one, x, out), "gemm": (1, 1, one, x, out)}[op]
    result = getattr(nc, op)(*args)
    assert result is not out and type(result) is type(out)
    index = (0, 0) if kind == "mat" else 0
    result[index] = 5j
    assert out[index] == 5j


def ones(cls, *shape):
    c = cls(*shape)
    for i in range(c.numel()):
        c[(i % shape[0], i // shape[0]) if len(shape) == 2 else i] = 1
    return c


@pytest.mark.parametrize("suffix", SUFFIXES)
@pytest.mark.parametrize("call,result", [
    (lambda M, V: nc.gemm(1, 2, M(0, 3), ones(M, 3, 2), M(0, 2)), []),
    (lambda M, V: nc.gemm(1, 2, M(2, 0), M(0, 2), ones(M, 2, 2)), [2, 2, 2, 2]),
    (lambda M, V: nc.matmul(M(2, 0), M(0, 2), ones(M, 2, 2)), [1, 1, 1, 1]),
    (lambda M, V: nc.gemv(1, 2, M(0, 3), ones(V, 3), V(0)), []),
    (lambda M, V: nc.copy(M(0, 2), ones(V, 1)), [1]),
    (lambda M, V: (b := ones(V, 2), nc.ls(M(0, 2), b))[0], [0, 0]),
])
def test_empty_dimensions_are_quiet(suffix, call, result, capfd):
    assert flat(call(getattr(nc, "mat" + suffix), getattr(nc, "vec" + suffix))) == result
    assert capfd.readouterr().err == ""
