"""A short tour of nubracore: containers, views and their printed forms,
matrix products and a least-squares fit, then a small ONNX model run element
by element."""

import sys
from pathlib import Path

import nubracore as nc


def section(title):
    print(f"\n== {title} ==")


def show(x):
    print(repr(x), end="")  # the text already ends its last line


def containers():
    section("a vector of four doubles, written element by element")
    v = nc.vecd(4)
    for i in range(v.numel()):
        v[i] = i * 1.5
    show(v)

    section("a view of elements 1 to 2 shares the vector's storage")
    w = v[1:3]
    w[0] = -1.0
    show(w)
    print(f"vector element 1 now reads {v[1]}")

    section("single precision stores the nearest float")
    s = nc.vecs(1)
    s[0] = 0.1
    print(f"0.1 written into a vecs reads back as {s[0]!r}")

    section("a complex 2 x 5 matrix: rows print across the column-major storage")
    m = nc.matz(2, 5)
    for i in range(2):
        for j in range(5):
            m[i, j] = complex(10 * i + j, -j)
    show(m)


def filled_matrix(cls, rows):
    m = cls(len(rows), len(rows[0]))
    for i, row in enumerate(rows):
        for j, value in enumerate(row):
            m[i, j] = value
    return m


def products():
    section("matmul accumulates A X into Y; a new Y starts at zero")
    A = filled_matrix(nc.matd, [(1, 2, 3), (4, 5, 6)])
    X = filled_matrix(nc.matd, [(1, 0), (0, 1), (1, 1)])
    Y = nc.matmul(A, X, nc.matd(2, 2))
    show(Y)
    print("by hand: rows (1 + 3, 2 + 3) = (4, 5) and (4 + 6, 5 + 6) = (10, 11)")

    section("gemv: y = 2 A x - y, with x = (1, 1, 1) and y = (1, 1)")
    x, y = nc.vecd(3), nc.vecd(2)
    for v in (x, y):
        for i in range(v.numel()):
            v[i] = 1.0
    nc.gemv(2.0, -1.0, A, x, y)
    print(f"y = ({y[0]}, {y[1]}); by hand 2 * (6, 15) - 1 = (11, 29)")

    section("shapes that don't fit are refused before anything is written")
    try:
        nc.matmul(A, A, Y)
    except RuntimeError as e:
        print(f"RuntimeError: {e}")


def least_squares():
    section("least squares: fit y = c0 + c1 t through five points")
    points = [(0, 1.1), (1, 2.9), (2, 5.2), (3, 6.8), (4, 9.1)]
    A = filled_matrix(nc.matd, [(1.0, t) for t, _ in points])
    b = nc.vecd(len(points))
    for i, (_, y) in enumerate(points):
        b[i] = y
    nc.ls(A, b)  # b now holds (c0, c1), then the transformed residual
    residual = sum(b[i] ** 2 for i in range(2, b.numel()))
    print(f"c0 = {b[0]:.4f}, c1 = {b[1]:.4f}, residual sum of squares {residual:.4f}")
    print("by hand: c1 = 19.9 / 10 = 1.99, c0 = 5.02 - 2 * 1.99 = 1.04;")
    print("residuals 0.06, -0.13, 0.18, -0.21, 0.10 square to 0.107")


def model():
    """Runs examples/models/nearest_centroid.onnx: a point of the plane gets
    the class of its nearest centroid, (0, 0), (4, 0) or (0, 4)."""
    centroids = [(0.0, 0.0), (4.0, 0.0), (0.0, 4.0)]
    path = Path(__file__).with_name("models") / "nearest_centroid.onnx"

    section("loading a model prints its inputs and outputs")
    sys.stdout.flush()  # the model prints on the process's own stdout
    m = nc.model(str(path))

    section("classifying points: scores are x . c - |c|^2 / 2 for each centroid c")
    for point in [(0.5, 0.5), (3.0, 1.0), (1.0, 3.5), (2.5, 2.0)]:
        m.set(0, [0, 0], point[0])
        m.set(0, [0, 1], point[1])
        m.run()
        scores = [m.get(0, [0, k]) for k in range(3)]
        probabilities = [m.get(1, [0, k]) for k in range(3)]
        by_hand = [point[0] * c[0] + point[1] * c[1] - (c[0] ** 2 + c[1] ** 2) / 2 for c in centroids]
        best = max(range(3), key=lambda k: scores[k])
        print(f"point {point}: scores {scores} (by hand {by_hand})")
        print(f"    probabilities {[round(p, 4) for p in probabilities]} -> nearest centroid {centroids[best]}")


if __name__ == "__main__":
    containers()
    products()
    least_squares()
    model()
