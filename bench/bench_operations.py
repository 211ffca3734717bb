"""Operation benchmark: nubracore against scipy.linalg.blas (the same OpenBLAS)
and numpy, in one run.

Per call: small operands, where the binding's overload dispatch dominates.
"vec" is the vector overload of the scalar type, "mat" the matrix one; the
complex double matrix overloads are the last of each name's chain, so they
pay for every earlier overload that is tried and refused.

Throughput: large operands, where the BLAS routine dominates. Operands hold
written zeros on both sides (the kernels don't depend on the values).

    PYTHONPATH=build /usr/bin/python3 bench/bench_operations.py
"""

import timeit

import numpy as np
import scipy.linalg.blas as blas

import nubracore as nc

SUFFIXES = "sdcz"
DTYPES = dict(zip(SUFFIXES, (np.float32, np.float64, np.complex64, np.complex128)))
SMALL = 8  # elements per vector; gemv on a 4x4 matrix
REPEATS = 5


def best(calls, number):
    """Seconds per call of each callable, best of REPEATS rounds; the callables
    take turns within a round, so a busy moment of the machine hits them all."""
    times = [float("inf")] * len(calls)
    for _ in range(REPEATS):
        for i, call in enumerate(calls):
            times[i] = min(times[i], timeit.timeit(call, number=number) / number)
    return times


def ours_call(name, a, x, y, A, u, v):
    return {"dot": lambda: nc.dot(x, y), "axpy": lambda: nc.axpy(a, x, y), "copy": lambda: nc.copy(x, y),
            "scale": lambda: nc.scale(a, x), "gemv": lambda: nc.gemv(a, a, A, u, v)}[name]


def per_call(number):
    rows = []
    for s in SUFFIXES:
        a = 0.5 if s in "sd" else 0.5 + 0.25j
        dt = DTYPES[s]
        x, y = np.ones(SMALL, dt), np.ones(SMALL, dt)
        A, u, v = np.asfortranarray(np.ones((4, 4), dt)), np.ones(4, dt), np.ones(4, dt)
        dot, axpy, copy, scal, gemv = (getattr(blas, s + f) for f in
                                       ("dot" if s in "sd" else "dotu", "axpy", "copy", "scal", "gemv"))
        peers = {
            "dot": (lambda: dot(x, y), lambda: np.dot(x, y)),
            "axpy": (lambda: axpy(x, y, a=a), lambda: np.add(y, a * x, out=y)),
            "copy": (lambda: copy(x, y), lambda: np.copyto(y, x)),
            "scale": (lambda: scal(a, x), lambda: np.multiply(x, a, out=x)),
            "gemv": (lambda: gemv(a, A, u, beta=a, y=v, overwrite_y=1), lambda: np.dot(A, u, out=v)),
        }
        vec, mat = getattr(nc, "vec" + s), getattr(nc, "mat" + s)
        kinds = {"vec": (vec(SMALL), vec(SMALL), mat(4, 4), vec(4), vec(4)),
                 "mat": (mat(SMALL, 1), mat(SMALL, 1), mat(4, 4), mat(4, 1), mat(4, 1))}
        for name, (scipy_call, numpy_call) in peers.items():
            ours = [ours_call(name, a, *kinds["vec"]), ours_call(name, a, *kinds["mat"])]
            rows.append((name, s, *best(ours + [scipy_call, numpy_call], number)))
    return rows


def throughput():
    rows = []
    for s in SUFFIXES:
        dt, c = DTYPES[s], (1 if s in "sd" else 4)  # real multiply-adds per multiply-add
        mat, vec = getattr(nc, "mat" + s), getattr(nc, "vec" + s)
        gemm, gemv, axpy = (getattr(blas, s + f) for f in ("gemm", "gemv", "axpy"))
        one = 1.0 if s in "sd" else 1.0 + 0j
        # Written zeros: untouched np.zeros pages would all read the one zero page.
        zeros = lambda *shape: np.full(shape, 0, dt, order="F")  # noqa: E731

        n = 1024
        A, X, Y, a, x, y = mat(n, n), mat(n, n), mat(n, n), zeros(n, n), zeros(n, n), zeros(n, n)
        times = best([lambda: nc.gemm(one, one, A, X, Y), lambda: gemm(one, a, x, beta=one, c=y, overwrite_c=1),
                      lambda: np.matmul(a, x, out=y)], 3)
        rows.append(("gemm 1024x1024", s, "GFLOP/s", *(2 * c * n**3 / t / 1e9 for t in times)))
        del A, X, Y, a, x, y

        n = 4096
        A, u, v, a, x, y = mat(n, n), vec(n), vec(n), zeros(n, n), zeros(n), zeros(n)
        times = best([lambda: nc.gemv(one, one, A, u, v), lambda: gemv(one, a, x, beta=one, y=y, overwrite_y=1),
                      lambda: np.dot(a, x, out=y)], 10)
        rows.append(("gemv 4096x4096", s, "GFLOP/s", *(2 * c * n**2 / t / 1e9 for t in times)))
        del A, a

        n = 10**6
        u, v, x, y = vec(n), vec(n), zeros(n), zeros(n)
        times = best([lambda: nc.axpy(one, u, v), lambda: axpy(x, y, a=one), lambda: np.add(y, one * x, out=y)], 100)
        moved = 3 * n * np.dtype(dt).itemsize  # read x and y, write y
        rows.append(("axpy 10^6", s, "GB/s", *(moved / t / 1e9 for t in times)))
    return rows


def main():
    print(f"Per call, n = {SMALL} (gemv: 4x4), microseconds, best of {REPEATS}")
    print(f"{'op':6} {'type':4} {'vec':>7} {'mat':>7} {'scipy':>7} {'numpy':>7} {'vec/scipy':>10} {'mat/scipy':>10}")
    for name, s, vec, mat, scipy, numpy in per_call(20000):
        print(f"{name:6} {s:4} {vec * 1e6:7.3f} {mat * 1e6:7.3f} {scipy * 1e6:7.3f} {numpy * 1e6:7.3f}"
              f" {vec / scipy:10.2f} {mat / scipy:10.2f}")
    print()
    print(f"Throughput, best of {REPEATS}; ratio = nubracore / scipy")
    print(f"{'op':15} {'type':4} {'unit':8} {'nubracore':>10} {'scipy':>8} {'numpy':>8} {'ratio':>6}")
    for name, s, unit, ours, scipy, numpy in throughput():
        print(f"{name:15} {s:4} {unit:8} {ours:10.2f} {scipy:8.2f} {numpy:8.2f} {ours / scipy:6.2f}")


if __name__ == "__main__":
    main()
