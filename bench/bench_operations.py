"""Operation benchmark: nubracore against scipy.linalg.blas and lapack (the
same OpenBLAS) and numpy, in one run, with each target marked met or missed.

Per call: small operands, where the call's own cost dominates. Every
overload position of every operation is timed, against scipy's wrapper for
the same call on the same scalar type; a call that converts its scalar
against the same call that doesn't; element access against numpy's; a call
that matches nothing against the same call without the fast paths
(NUBRACORE_FAST_PATHS=0, in a child interpreter).

Large containers: making them against np.zeros, and their first write.

Throughput: large operands, where the BLAS routine dominates. Operands hold
written zeros on both sides (the kernels don't depend on the values).

Writes BUILD/bench_overloads.png: per-call time by overload position.

    PYTHONPATH=build /usr/bin/python3 bench/bench_operations.py [BUILD]
"""

import json
import os
import platform
import subprocess
import sys
from pathlib import Path

import numpy as np
import scipy.linalg.blas as blas
import scipy.linalg.lapack as lapack

import nubracore as nc
from per_call import EMPTY, N, OPERATIONS, PROCESSES, REPEATS, SHAPES, apart, best, call, fill, overloads, positions

SUFFIXES = "sdcz"
DTYPES = dict(zip(SUFFIXES, (np.float32, np.float64, np.complex64, np.complex128)))
results = []  # (target, measured, limit, met)
TOP = Path(__file__).resolve().parent.parent


def target(name, measured, limit, at_least=False):
    met = measured >= limit if at_least else measured <= limit
    results.append((name, measured, limit, met))
    return "met" if met else "MISSED"


def peer(name, s):
    """The statement of scipy's wrapper for the same call on scalar type s."""
    rows, cols = SHAPES.get(name, SHAPES["level1"])[0]
    dt = DTYPES[s]
    x, y = np.full(N, 0.25, dt), np.full(N, 0.5, dt)
    A, X, Y = (np.asfortranarray(np.full(shape, 0.25, dt)) for shape in ((rows, cols), (cols, cols), (rows, cols)))
    if name == "ls":
        A = np.asfortranarray(np.eye(rows, cols, dtype=dt))
    u, v = np.full(cols, 0.25, dt), np.full(rows, 0.5, dt)
    f = lambda routine: getattr(blas, s + routine)  # noqa: E731
    return {"scale": lambda: call(f("scal"), -1, x), "sum": lambda: call(f("axpy"), x, y, a=1),
            "swap": lambda: call(f("swap"), x, y), "dot": lambda: call(f("dot" if s in "sd" else "dotu"), x, y),
            "copy": lambda: call(f("copy"), x, y), "axpy": lambda: call(f("axpy"), x, y, a=-1),
            "hdot": lambda: call(f("dotc"), x, y),
            "ls": lambda: call(getattr(lapack, s + "gels"), A, v, overwrite_a=1, overwrite_b=1),
            "gemm": lambda: call(f("gemm"), -1, A, X, beta=-1, c=Y, overwrite_c=1),
            "matmul": lambda: call(f("gemm"), 1, A, X, beta=1, c=Y, overwrite_c=1),
            "matvec": lambda: call(f("gemv"), 1, A, u, beta=1, y=v, overwrite_y=1),
            "gemv": lambda: call(f("gemv"), -1, A, u, beta=-1, y=v, overwrite_y=1)}[name]()


def per_call(build):
    empty, ours = apart(1000, EMPTY), positions(1000, SHAPES)
    before = apart(50, SHAPES, 1, dict(os.environ, NUBRACORE_FAST_PATHS="0"))
    scipy = {name: dict(zip("cz" if name == "hdot" else SUFFIXES,
                            best([peer(name, s) for s in ("cz" if name == "hdot" else SUFFIXES)], 1000)))
             for name in OPERATIONS}
    suffixes = {name: [[t for t in types if "." in t][-1][-1] for types in overloads(name)] for name in OPERATIONS}
    limits = {"dot": 0.6, "axpy": 1.5, "copy": 1.5, "scale": 1.5, "gemv": 1.5}

    print(f"Per call by overload position, nanoseconds, best of {REPEATS} rounds. Empty operands, of {PROCESSES}")
    print("processes, each with its own copy of the module, the one where the positions spread least: the worst")
    print(f"position against the first, <= 1.05. Operands of {N} elements (products and ls: 4 rows): every position")
    print("against scipy's wrapper for the same call and type, <= the limit where there is one.")
    print(f"{'':18}{'empty operands':^31} {'':2}{f'{N} elements':^41}")
    print(f"{'operation':10} {'count':>5} {'first':>7} {'worst':>7} {'ratio':>6} {'':7}   {'worst':>7} {'/scipy':>7}"
          f" {'limit':>5} {'':7} {'before':>8}")
    for name in OPERATIONS:
        t, n = empty[name], ours[name]
        ratio = max(n[k] / scipy[name][suffixes[name][k]] for k in range(len(n)))
        line = (f"{name:10} {len(t):5} {t[0] * 1e9:7.0f} {max(t) * 1e9:7.0f} {max(t) / t[0]:6.2f} "
                f"{target(f'{name}: worst position / first', max(t) / t[0], 1.05):7}   {max(n) * 1e9:7.0f} {ratio:7.2f}")
        if name in limits:
            line += f" {limits[name]:5.1f} {target(f'{name}: any position / scipy', ratio, limits[name]):7}"
        else:
            line += f" {'':5} {'':7}"
        print(line + f" {max(before[name]) * 1e9:8.0f}")
    print("(before: the worst position without the fast paths)")
    chart(build, ours, before, scipy, suffixes)


def conversion():
    print("\nScalar from the conversion pass (an int), against the same call with the exact type, nanoseconds")
    for s in SUFFIXES:
        exact = -1.0 if s in "sd" else -1 + 0j
        mat, vec = getattr(nc, "mat" + s), getattr(nc, "vec" + s)
        X, Y, v = fill(mat(N, 1)), fill(mat(N, 1)), fill(vec(N))
        times = best([call(nc.axpy, -1, X, Y), call(nc.axpy, exact, X, Y), call(nc.scale, -1, v),
                      call(nc.scale, exact, v)], 1000)
        for label, converted, direct in (("axpy(-1, X, Y)", *times[:2]), ("scale(-1, v)", *times[2:])):
            print(f"  {label:16} {s}  {converted * 1e9:6.0f} {direct * 1e9:6.0f}  ratio {converted / direct:5.2f}"
                  f"  {target(f'{label} {s}: conversion pass / first pass', converted / direct, 1.1)}")


def element_access():
    print("\nElement access against numpy's, nanoseconds; ratio <= 0.6")
    for s in SUFFIXES:
        v, m = fill(getattr(nc, "vec" + s)(N)), fill(getattr(nc, "mat" + s)(4, 4))
        names = {"v": v, "w": v[1:7], "m": m, "a": np.ones(N, DTYPES[s]), "A": np.ones((4, 4), DTYPES[s]),
                 "x": 1.5 if s in "sd" else 1.5 + 0j}
        statements = ["v[3]", "v[3] = x", "w[3]", "w[3] = x", "m[1, 2]", "m[1, 2] = x", "a[3]", "a[3] = x",
                      "A[1, 2]", "A[1, 2] = x"]
        t = dict(zip(statements, best([(text, names) for text in statements], 5000)))
        for ours, numpy in (("v[3]", "a[3]"), ("v[3] = x", "a[3] = x"), ("w[3]", "a[3]"), ("w[3] = x", "a[3] = x"),
                            ("m[1, 2]", "A[1, 2]"), ("m[1, 2] = x", "A[1, 2] = x")):
            label = ours.replace("w", "view").replace("v[", "vec[").replace("m[", "mat[")
            ratio = t[ours] / t[numpy]
            print(f"  {label:16} {s}  {t[ours] * 1e9:5.0f}  numpy {t[numpy] * 1e9:5.0f}  ratio {ratio:5.2f}"
                  f"  {target(f'{label} {s} / numpy', ratio, 0.6)}")


NO_MATCH = """
import timeit, nubracore as nc
x, y = nc.vecs(8), nc.vecd(8)
def call():
    try:
        nc.dot(x, y)
    except TypeError:
        pass
print(min(timeit.repeat(call, number=300, repeat=5)) / 300)
"""


def no_match():
    times = {}
    for fast in ("1", "0") * 3:
        out = subprocess.run([sys.executable, "-c", NO_MATCH], check=True, capture_output=True, text=True,
                             env=dict(os.environ, NUBRACORE_FAST_PATHS=fast)).stdout
        times[fast] = min(times.get(fast, float("inf")), float(out))
    ratio = times["1"] / times["0"]
    print(f"\nA call that matches nothing (dot(vecs, vecd), TypeError): {times['1'] * 1e6:.1f} us, "
          f"without the fast paths {times['0'] * 1e6:.1f} us, ratio {ratio:.2f}  "
          f"{target('no-match TypeError / without fast paths', ratio, 1.05)}")


CROWDED = """
import timeit, nubracore as nc
z = nc.vecz(8)
def time():
    return min(timeit.repeat(lambda: nc.dot(z, z), number=2000, repeat=20)) / 2000
before = time()
# 200 signatures of types the fast call can't judge: subclasses of vecz.
for k in range(200):
    nc.dot(type(f"Z{k}", (nc.vecz,), {})(8), z)
print(before, time())
"""


def crowded_cache():
    before, after = float("inf"), float("inf")
    for _ in range(3):
        out = subprocess.run([sys.executable, "-c", CROWDED], check=True, capture_output=True, text=True).stdout
        before, after = min(before, float(out.split()[0])), min(after, float(out.split()[1]))
    ratio = after / before
    print(f"\ndot(vecz, vecz) after 200 signatures of unknown types: {after * 1e9:.0f} ns, before them "
          f"{before * 1e9:.0f} ns, ratio {ratio:.2f}  {target('dot after unknown signatures / before', ratio, 1.2)}")


def large_containers():
    print("\nMaking a large container of doubles against np.zeros of the same shape, best of 5; ratio <= 2.0")
    for size, rows, cols in (("8 MiB", 1024, 1024), ("128 MiB", 4096, 4096), ("1 GiB", 8192, 16384)):
        names = {"nc": nc, "np": np, "n": rows * cols, "rows": rows, "cols": cols}
        statements = ["nc.vecd(n)", "np.zeros(n)", "nc.matd(rows, cols)", "np.zeros((rows, cols), order='F')"]
        t = best([(text, names) for text in statements], 20, 5)
        for label, ours, numpy in ((f"vecd {size}", t[0], t[1]), (f"matd {rows}x{cols}", t[2], t[3])):
            print(f"  {label:18} {ours * 1e6:8.1f} us  numpy {numpy * 1e6:8.1f} us  ratio {ours / numpy:5.2f}"
                  f"  {target(f'{label} / np.zeros', ours / numpy, 2.0)}")
    # Laziness costs nothing later: the first write takes the pages.
    n = 2**24
    names = {"nc": nc, "np": np, "n": n, "x": nc.scale(0.0, nc.vecd(n)), "a": np.full(n, 0.0)}
    ours, numpy = best([("nc.copy(x, nc.vecd(n))", names), ("np.copyto(np.zeros(n), a)", names)], 1, 5)
    print(f"  {'first write 128 MiB':18} {ours * 1e3:8.1f} ms  numpy {numpy * 1e3:8.1f} ms  ratio {ours / numpy:5.2f}"
          f"  {target('made and written once, 128 MiB / numpy', ours / numpy, 1.1)}")


def fresh(placements, number, statements):
    """Each statement's best of 5 rounds, over placements lists of them,
    statements() making new operands for each: how fast a kernel runs on
    large operands depends on where they lie relative to one another (gemv
    of complex floats by up to 20%, axpy of 10^6 by up to 30%, scipy's as
    much as ours)."""
    return [min(times) for times in zip(*(best(statements(), number, 5) for _ in range(placements)))]


def throughput():
    print("\nThroughput, best of 5 (gemv 2048x2048, axpy: of 4 x 5 on fresh operands); ratio = nubracore / scipy >= 0.97 (gemv 2048x2048:")
    print(">= 1.0, time <= scipy's on numpy arrays, which get huge pages)")
    print(f"{'op':15} {'type':4} {'unit':8} {'nubracore':>10} {'scipy':>8} {'numpy':>8} {'ratio':>6}")
    for s in SUFFIXES:
        dt, c = DTYPES[s], (1 if s in "sd" else 4)  # real multiply-adds per multiply-add
        mat, vec = getattr(nc, "mat" + s), getattr(nc, "vec" + s)
        gemm, gemv, axpy = (getattr(blas, s + f) for f in ("gemm", "gemv", "axpy"))
        one = 1.0 if s in "sd" else 1.0 + 0j
        # Written zeros: untouched pages would all read the one zero page.
        zeros = lambda *shape: np.full(shape, 0, dt, order="F")  # noqa: E731
        mat = lambda rows, cols, mat=mat: nc.scale(0, mat(rows, cols))  # noqa: E731
        vec = lambda n, vec=vec: nc.scale(0, vec(n))  # noqa: E731
        rows = []

        n = 1024
        A, X, Y, a, x, y = mat(n, n), mat(n, n), mat(n, n), zeros(n, n), zeros(n, n), zeros(n, n)
        times = best([call(nc.gemm, one, one, A, X, Y), call(gemm, one, a, x, beta=one, c=y, overwrite_c=1),
                      call(np.matmul, a, x, out=y)], 3, 5)
        rows.append(("gemm 1024x1024", "GFLOP/s", *(2 * c * n**3 / t / 1e9 for t in times)))
        del A, X, Y, a, x, y

        def gemvs():
            A, u, v, a, x, y = mat(n, n), vec(n), vec(n), zeros(n, n), zeros(n), zeros(n)
            return [call(nc.gemv, one, one, A, u, v), call(gemv, one, a, x, beta=one, y=y, overwrite_y=1),
                    call(np.dot, a, x, out=y)]

        def axpys():
            u, v, x, y = vec(n), vec(n), zeros(n), zeros(n)
            return [call(nc.axpy, one, u, v), call(axpy, x, y, a=one),
                    ("np.add(y, one * x, out=y)", {"np": np, "one": one, "x": x, "y": y})]

        for n, placements in ((2048, 4), (4096, 1)):
            times = fresh(placements, 10, gemvs)
            rows.append((f"gemv {n}x{n}", "GFLOP/s", *(2 * c * n**2 / t / 1e9 for t in times)))

        n = 10**6
        times = fresh(4, 100, axpys)
        moved = 3 * n * np.dtype(dt).itemsize  # read x and y, write y
        rows.append(("axpy 10^6", "GB/s", *(moved / t / 1e9 for t in times)))
        limits = {"gemv 2048x2048": 1.0, "gemv 4096x4096": None}
        for name, unit, ours, scipy, numpy in rows:
            limit = limits.get(name, 0.97)
            mark = target(f"{name} {s} / scipy", ours / scipy, limit, at_least=True) if limit else ""
            print(f"{name:15} {s:4} {unit:8} {ours:10.2f} {scipy:8.2f} {numpy:8.2f} {ours / scipy:6.2f} {mark}")


def chart(build, ours, before, scipy, suffixes):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    figure, axes = plt.subplots(3, 4, figsize=(16, 10), sharey=True)
    for ax, name in zip(axes.flat, OPERATIONS):
        x = range(1, len(ours[name]) + 1)
        ax.plot(x, [t * 1e9 for t in before[name]], ".-", color="tab:gray", label="without fast paths")
        ax.plot(x, [t * 1e9 for t in ours[name]], ".-", color="tab:blue", label="nubracore")
        ax.step(x, [scipy[name][s] * 1e9 for s in suffixes[name]], where="mid", color="tab:orange", label="scipy")
        ax.set_title(name)
        ax.set_yscale("log")
    for ax in axes[:, 0]:
        ax.set_ylabel("ns per call")
    for ax in axes[-1]:
        ax.set_xlabel("overload position")
    axes.flat[0].legend()
    figure.tight_layout()
    path = Path(build) / "bench_overloads.png"
    figure.savefig(path, dpi=80)
    print(f"\nchart: {path}")


def interpreters(build):
    """The per-call figures on each interpreter the wheels are built for,
    from its build folder, or from its wheel in Debian sid's chroot for one
    built from headers alone (make wheels)."""
    print("\nPer call on each interpreter, nanoseconds, best of the rounds: worst overload position with")
    print(f"operands of {N} elements (dot: first / worst), element access on doubles")
    print(f"{'CPython':8} {'dot':>9} {'axpy':>6} {'copy':>6} {'scale':>6} {'gemv':>6} {'v[i]':>6} {'v[i]=x':>6}"
          f" {'m[i,j]':>6}")
    for python in subprocess.run([TOP / "scripts/pythons"], capture_output=True, text=True).stdout.split():
        version = subprocess.run([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                                 capture_output=True, text=True).stdout.strip()
        folder = Path(build) if python == sys.executable else TOP / f"build-py{version}"
        if not list(folder.glob("nubracore.*.so")):
            print(f"{version:8} (no module in {folder}: make wheels)")
            continue
        row(version, subprocess.run([python, Path(__file__).with_name("per_call.py")], check=True,
                                    capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=folder)).stdout)
    # Versions built from headers alone run in Debian sid's chroot, from their wheel.
    for version in subprocess.run([TOP / "scripts/pythons", "--headers"], capture_output=True, text=True).stdout.split():
        wheels = list((TOP / "dist").glob(f"nubracore-*-cp{version.replace('.', '')}-*_{platform.machine()}.whl"))
        if len(wheels) != 1:
            print(f"{version:8} (no wheel in dist: make wheels)")
            continue
        script = (f"python{version} -m venv --system-site-packages /tmp/venv && /tmp/venv/bin/pip install --quiet "
                  f"--no-index {wheels[0]} && /tmp/venv/bin/python {Path(__file__).with_name('per_call.py')}")
        row(version, subprocess.run([TOP / "tests/wheels/in_chroot.sh", "sid", TOP, Path(build) / "wheels", "sh", "-c",
                                     script], check=True, capture_output=True, text=True).stdout)


def row(version, output):
    """One interpreter's line, from per_call.py's output."""
    found = json.loads(output)
    t, e = found["positions"], found["elements"]
    worst = [max(t[name]) * 1e9 for name in ("axpy", "copy", "scale", "gemv")]
    print(f"{version:8} {t['dot'][0] * 1e9:4.0f} /{max(t['dot']) * 1e9:3.0f}" + "".join(f" {w:6.0f}" for w in worst)
          + "".join(f" {e[k] * 1e9:6.0f}" for k in ("v[3]", "v[3] = x", "m[1, 2]")))


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    per_call(build)
    interpreters(build)
    conversion()
    element_access()
    no_match()
    crowded_cache()
    large_containers()
    throughput()
    missed = [r for r in results if not r[3]]
    print(f"\n{len(results) - len(missed)} of {len(results)} targets met")
    for name, measured, limit, _ in missed:
        print(f"  missed: {name}: {measured:.2f} against {limit}")


if __name__ == "__main__":
    main()
