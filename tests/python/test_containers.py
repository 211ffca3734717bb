import gc
import re

import pytest

import nubracore as nc

SUFFIXES = "sdcz"
REAL = "sd"
VECTORS = [getattr(nc, "vec" + s) for s in SUFFIXES]
MATRICES = [getattr(nc, "mat" + s) for s in SUFFIXES]
ZERO = "0.00000000000000e+00"


def element_name(suffix):
    return "float" if suffix in REAL else "complex"


def filled(cls, n):
    v = cls(n)
    for i in range(n):
        v[i] = i
    return v


@pytest.mark.parametrize("suffix", SUFFIXES)
def test_classes_are_plain_named_types(suffix):
    for prefix in ("vec", "view", "mat"):
        cls = getattr(nc, prefix + suffix)
        assert (cls.__module__, cls.__name__, cls.__doc__) == ("nubracore", prefix + suffix, None)
    with pytest.raises(TypeError, match=f"nubracore.view{suffix}: No constructor defined!"):
        getattr(nc, "view" + suffix)()


@pytest.mark.parametrize("instance", [nc.vecs(2), nc.vecz(2)[0:1], nc.matd(1, 1)], ids=repr)
def test_instances_take_no_new_attributes(instance):
    with pytest.raises(AttributeError):
        instance.extra = 1


@pytest.mark.parametrize("suffix", SUFFIXES)
def test_rendered_signatures(suffix):
    e = element_name(suffix)
    vec, view, mat = (f"nubracore.{p}{suffix}" for p in ("vec", "view", "mat"))
    scalar = {"s": "float", "d": "double", "c": "std::complex<float>", "z": "std::complex<double>"}[suffix]
    if " " not in scalar and "<" in scalar:
        scalar += " "
    assert nc.__dict__["vec" + suffix].__init__.__doc__.startswith(f"__init__(self: {vec}, arg0: int) -> None")
    getitem = getattr(nc, "vec" + suffix).__getitem__.__doc__
    assert f"1. __getitem__(self: {vec}, arg0: int) -> {e}" in getitem
    assert f"2. __getitem__(self: {vec}, arg0: slice) -> Nubra::VectorView<{scalar}>" in getitem
    assert f"2. __getitem__(self: {view}, arg0: slice) -> {view}" in getattr(nc, "view" + suffix).__getitem__.__doc__
    assert getattr(nc, "vec" + suffix).__setitem__.__doc__.startswith(
        f"__setitem__(self: {vec}, arg0: int, arg1: {e}) -> None")
    m = getattr(nc, "mat" + suffix)
    assert m.__init__.__doc__.startswith(f"__init__(self: {mat}, arg0: int, arg1: int) -> None")
    assert m.__getitem__.__doc__.startswith(f"__getitem__(self: {mat}, arg0: Tuple[int, int]) -> {e}")
    assert m.__setitem__.__doc__.startswith(f"__setitem__(self: {mat}, arg0: Tuple[int, int], arg1: {e}) -> None")
    assert m.__repr__.__doc__.startswith(f"__repr__(self: {mat}) -> str")


@pytest.mark.parametrize("prefix, methods", [
    ("vec", ["__init__", "numel", "dim", "__getitem__", "__setitem__", "__repr__"]),
    ("view", ["numel", "dim", "__getitem__", "__setitem__", "__repr__"]),
    ("mat", ["__init__", "dim", "numel", "__getitem__", "__setitem__", "__repr__"]),
])
def test_method_order(prefix, methods):
    for s in SUFFIXES:
        assert [k for k in vars(getattr(nc, prefix + s)) if k in methods] == methods


@pytest.mark.parametrize("cls", VECTORS)
def test_vector_sizes_and_zero_elements(cls):
    v = cls(3)
    assert (v.numel(), v.dim(0)) == (3, 3)
    assert [v[i] for i in range(3)] == [0, 0, 0]
    with pytest.raises(RuntimeError, match="^dimension 1 invalid for vector$"):
        v.dim(1)
    with pytest.raises(RuntimeError, match="^dimension 1 invalid for vector$"):
        v[0:2].dim(1)


@pytest.mark.parametrize("cls", MATRICES)
def test_matrix_sizes(cls):
    m = cls(2, 3)
    assert (m.numel(), m.dim(0), m.dim(1)) == (6, 2, 3)
    with pytest.raises(RuntimeError, match="^dimension 2 invalid for matrix$"):
        m.dim(2)


@pytest.mark.parametrize("cls, value, expected", [
    (nc.vecz, 1.5, 1.5 + 0j),
    (nc.vecc, 2, 2 + 0j),
    (nc.vecd, 2, 2.0),
    (nc.vecs, 0.1, 0.10000000149011612),
    (nc.vecd, 0.1, 0.1),
    (nc.vecc, 0.1 - 1j, complex(0.10000000149011612, -1)),
])
def test_values_convert_on_write(cls, value, expected):
    v = cls(1)
    v[0] = value
    assert v[0] == expected and type(v[0]) is type(expected)


@pytest.mark.parametrize("cls, value", [(nc.vecs, 1j), (nc.vecd, "1"), (nc.vecz, "1"), (nc.vecs, None)])
def test_wrong_value_kind_is_a_type_error(cls, value):
    v = cls(1)
    with pytest.raises(TypeError):
        v[0] = value
    assert v[0] == 0


@pytest.mark.parametrize("cls", VECTORS + [lambda n: nc.vecd(n + 2)[2:]])
@pytest.mark.parametrize("index, error", [
    (3, RuntimeError), (-1, TypeError), (1.0, TypeError), (2**64, TypeError)])
def test_bad_indices_raise_and_change_nothing(cls, index, error):
    v = cls(3)
    with pytest.raises(error) as info:
        v[index]
    with pytest.raises(error):
        v[index] = 1
    if error is RuntimeError:
        assert str(info.value) == "index 3 exceeds max number of elements 3"
    assert [v[i] for i in range(3)] == [0, 0, 0]


@pytest.mark.parametrize("index, message", [
    ((2, 0), "index for dimension 0 2 exceeds max number of elements for that dimension 2"),
    ((0, 3), "requested array index 6 exceeds max number of elements 6"),
    ((5, 1), "requested array index 7 exceeds max number of elements 6"),
])
def test_matrix_index_messages(index, message):
    m = nc.mats(2, 3)
    with pytest.raises(RuntimeError, match=f"^{re.escape(message)}$"):
        m[index]
    with pytest.raises(RuntimeError, match=f"^{re.escape(message)}$"):
        m[index] = 1.0


@pytest.mark.parametrize("index", [0, (0,), (0, 0, 0), (-1, 0), "ab"])
def test_matrix_takes_only_index_pairs(index):
    with pytest.raises(TypeError):
        nc.matd(2, 2)[index]


def test_matrix_index_pair_from_any_sequence():
    m = nc.matd(2, 3)
    m[[1, 2]] = 12
    assert (m[1, 2], m[(0, 2)], m[1, 1]) == (12.0, 0.0, 0.0)


@pytest.mark.parametrize("key, expected", [
    (slice(None), [0, 1, 2, 3, 4]),
    (slice(2, None), [2, 3, 4]),
    (slice(2, 2), []),
    (slice(None, None, 1), [0, 1, 2, 3, 4]),
    (slice(-2, None), [3, 4]),
    (slice(-100, 100), [0, 1, 2, 3, 4]),
    (slice(3, 1), []),
    (slice(7, 9), []),
])
@pytest.mark.parametrize("cls", VECTORS)
def test_slices_select_like_lists(cls, key, expected):
    view = filled(cls, 5)[key]
    assert type(view).__name__ == "view" + cls.__name__[-1]
    assert view.numel() == len(expected)
    assert [view[i] for i in range(view.numel())] == expected


@pytest.mark.parametrize("key, error, message", [
    (slice(None, None, 2), RuntimeError, "^stepsizes larger than 1 invalid for vector$"),
    (slice(None, None, -1), RuntimeError, "^stepsizes larger than 1 invalid for vector$"),
    (slice(None, None, 0), ValueError, "slice step cannot be zero"),
    (slice(0.5, 2), TypeError, "slice indices"),
])
@pytest.mark.parametrize("make", [lambda: nc.vecs(5), lambda: nc.vecz(6)[1:]], ids=["vector", "view"])
def test_bad_slices(make, key, error, message):
    with pytest.raises(error, match=message):
        make()[key]


def test_views_share_storage_and_compose_offsets():
    v = filled(nc.vecd, 10)
    outer = v[2:8]
    inner = outer[1:3]
    assert [inner[0], inner[1]] == [3.0, 4.0]
    inner[1] = -4
    outer[0] = -2
    assert [v[2], v[4]] == [-2.0, -4.0]
    v[3] = 33
    assert inner[0] == 33.0
    with pytest.raises(TypeError):
        v[1:3] = 1.0


def test_view_keeps_elements_alive():
    view = filled(nc.vecz, 4)[1:4]
    gc.collect()
    assert [view[i] for i in range(3)] == [1, 2, 3]


def rss_mib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS")) / 1024


# 128 MiB each: mapped when made, its pages taken when written, shared by a
# result (of a view, for the vector) that outlives it, and given back with
# the last of them.
@pytest.mark.parametrize("make, share, last", [
    (lambda: nc.vecd(2**24), lambda v: nc.scale(0.0, v[:]), 2**24 - 1),
    (lambda: nc.matd(2**12, 2**12), lambda m: nc.scale(0.0, m), (4095, 4095))])
def test_large_storage_is_taken_when_written_and_freed_with_its_last_owner(make, share, last):
    before = rss_mib()
    x = make()
    assert rss_mib() - before < 16 and x[last] == 0.0
    y = share(x)
    assert rss_mib() - before > 120
    x[last] = 2.0
    del x
    assert y[last] == 2.0
    del y
    assert rss_mib() - before < 16


def test_iteration_ends_in_the_index_error():
    seen = []
    with pytest.raises(RuntimeError, match="index 2 exceeds"):
        for x in filled(nc.vecs, 2):
            seen.append(x)
    assert seen == [0.0, 1.0]


@pytest.mark.parametrize("make", [
    lambda: nc.vecs(2**62), lambda: nc.vecc(2**64 - 1),
    lambda: nc.vecd(2**50),
    lambda: nc.matd(2**32, 2**32), lambda: nc.matz(2**40, 2**20)])
def test_impossible_sizes_are_memory_errors(make):
    with pytest.raises(MemoryError):
        make()


@pytest.mark.parametrize("cls", VECTORS)
def test_vector_repr(cls):
    v = cls(2)
    v[1] = -2
    value = "-2.00000000000000e+00"
    if cls in (nc.vecc, nc.vecz):
        value, zero = f"({value},{ZERO})", f"({ZERO},{ZERO})"
    else:
        zero = ZERO
    assert repr(v) == f"Column vector of size: 2\n[{zero}]\n[{value}]\n"
    assert str(v[1:]) == f"Column vector of size: 1\n[{value}]\n"
    assert repr(v[2:]) == "Column vector of size: 0\n"


def test_matrix_repr():
    m = nc.mats(2, 6)
    m[1, 5] = 0.1
    row = f"[{ZERO}, {ZERO}, {ZERO}, ..., " + "{}]\n"
    assert repr(m) == "Matrix of size: (2, 6)\n" + row.format(ZERO) + row.format("1.00000001490116e-01")
    assert repr(nc.matz(0, 3)) == "Matrix of size: (0, 3)\n"
    with pytest.raises(RuntimeError, match="^requested array index 0 exceeds max number of elements 0$"):
        repr(nc.matd(1, 0))
