"""A short tour of nubracore: containers, views and their printed forms,
then a small ONNX model run element by element."""

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
    model()
