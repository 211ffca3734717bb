"""A short tour of nubracore: containers, views and their printed forms."""

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


if __name__ == "__main__":
    containers()
