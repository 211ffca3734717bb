"""The TypeError of a call that no overload takes: pybind11's text, with an
argument of more than ten lines shown as its first four, "...", and its last."""

import resource

import pytest

import nubracore as nc
import no_match_module as nm
import sanitizer


def message(call):
    with pytest.raises(TypeError) as caught:
        call()
    return caught.value


def cut(text):
    """text as the message shows it: lines counted by "\n", as they print."""
    lines = text.split("\n")
    ends = [line + "\n" for line in lines[:-1]] + ([lines[-1]] if lines[-1] else [])
    return text if len(ends) <= 10 else "".join(ends[:4]) + "...\n" + ends[-1]


def bounded(x):
    try:
        return cut(repr(x))
    except RuntimeError:
        return "<repr raised Error>"


class Loud:
    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


class FailingRepr:
    def __repr__(self):
        raise ValueError("no")


class Index:
    def __index__(self):
        raise ValueError("pending")


def filled(x, count):
    rows = x.dim(0)
    for k in range(count):
        x[(k % rows, k // rows) if type(x).__name__.startswith("mat") else k] = k / 3
    return x


SMALL = [
    ("pick", (0.5,), {}), ("pick", (), {}), ("pick", ("ab", None), {}), ("pick", (0.5, -1), {}),
    ("pick", (nc.vecd(3), -1), {}), ("pick", (filled(nc.vecd(9), 9), 2.5), {}), ("pick", ((0, 1), 2), {}),
    ("pick", (0.5,), {"y": 1}), ("pick", (), {"x": Loud("a\nb"), "y": nc.vecs(2)}), ("pick", (FailingRepr(), 1), {}),
    ("pick", (Loud("\n".join("0123456789")), 1), {}), ("single", (-1,), {}), ("single", (), {}),
    ("single", (1, 2), {}), ("single", (), {"k": 1}), ("single", (Index(),), {}), ("single", (nc.matd(9, 5),), {}), ("single", (nc.matd(1, 0),), {}),
    ("single", (nc.vecd.__new__(nc.vecd),), {}), ("pick", (nc.matz.__new__(nc.matz), 1), {}), ("unbound", (1,), {}), ("Box", ("x",), {}), ("Box", (), {}), ("Box", (1, 2, 3), {}), ("Box", (0.5,), {"k": 2}),
]


@pytest.mark.parametrize("name, args, kwargs", SMALL)
def test_small_arguments_give_pybind11s_text(name, args, kwargs):
    ours = message(lambda: getattr(nm, name)(*args, **kwargs))
    theirs = message(lambda: getattr(nm.plain, name)(*args, **kwargs))
    assert str(ours) == str(theirs).replace("no_match_module.plain.", "no_match_module.")
    assert type(ours.__cause__) is type(theirs.__cause__)


def containers():
    for s in "sdcz":
        for lines in (10, 11, 40):
            yield filled(getattr(nc, "vec" + s)(lines - 1), lines - 1)
            yield filled(getattr(nc, "vec" + s)(lines + 5), lines + 5)[3:lines + 2]
            yield filled(getattr(nc, "mat" + s)(lines - 1, 7), 7 * (lines - 1))
        yield getattr(nc, "mat" + s)(12, 1)
        yield getattr(nc, "mat" + s)(12, 0)


class Shown(nc.vecd):
    pass


class Told(nc.vecd):
    def __repr__(self):
        return "told\n" * 12


@pytest.mark.parametrize("x", list(containers()) + [filled(Shown(30), 30), Told(30), Loud("a\n" * 11),
                                                      Loud("a\n" * 10 + "b"), Loud("\n" * 20), Loud("a\r" * 20)],
                         ids=lambda x: type(x).__name__)
def test_long_renderings_show_first_four_lines_and_last(x):
    text = str(message(lambda: nm.single(x)))
    assert text.endswith("Invoked with: " + bounded(x))


def test_methods_and_operations_bound_their_arguments():
    v = filled(nc.vecd(100), 100)
    shown = bounded(v)
    assert str(message(lambda: v[-1])).endswith("Invoked with: " + shown + ", -1")
    assert str(message(lambda: nc.dot(v, nc.vecs(3)))).endswith(f"Invoked with: {shown}, {repr(nc.vecs(3))}")
    assert str(message(lambda: nc.vecd(v))).endswith("Invoked with: " + shown)


def test_containers_inside_arguments_show_bounded():
    v, w = filled(nc.vecd(30), 30), filled(nc.matz(12, 2), 24)
    loop = [v]
    loop.append(loop)
    for argument in [(v,), [v, (w, 1.5)], {"v": v, 2: [w]}, loop, ((),), [[]], {}]:
        shown = repr(argument).replace(repr(v), bounded(v)).replace(repr(w), bounded(w))
        assert str(message(lambda: nc.scale(argument, v))).endswith(f"Invoked with: {cut(shown)}, {bounded(v)}")


def test_a_class_whose_repr_is_replaced_shows_what_repr_shows():
    v, original = nc.vecd(20), vars(nc.vecd)["__repr__"]
    try:
        nc.vecd.__repr__ = lambda self: "PATCHED"
        assert str(message(lambda: nc.scale("x", v))).endswith("Invoked with: 'x', PATCHED")
        del nc.vecd.__repr__
        assert str(message(lambda: nc.scale("x", v))).endswith("Invoked with: 'x', " + repr(v))
    finally:
        nc.vecd.__repr__ = original


@pytest.mark.skipif(sanitizer.ACTIVE, reason="the sanitizer's allocator holds freed memory")
@pytest.mark.parametrize("wrap", [lambda v: v, lambda v: (v,), lambda v: [v, v], lambda v: {"v": [(v,)]}],
                         ids=["alone", "tuple", "list", "dict"])
def test_failed_call_on_a_huge_container_costs_little(wrap):
    v = wrap(nc.vecd(2**22))
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    text = str(message(lambda: nc.scale("x", v)))
    assert len(text) < 2000
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before < 16 * 1024
