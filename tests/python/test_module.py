import pytest

import nubracore as nc
from operation_table import OPERATIONS

CLASSES = ["model"] + [p + s for s in "sdcz" for p in ("vec", "view", "mat")]
# In order of first registration: float overloads first, complex-only hdot last.
FUNCTIONS = list(OPERATIONS)


def test_module_holds_exactly_its_classes_and_functions():
    public = [name for name in vars(nc) if not name.startswith("__")]
    assert public == CLASSES + FUNCTIONS  # registration order
    assert nc.__doc__ is None
    assert all(isinstance(getattr(nc, name), type) for name in CLASSES)



def refused_calls(name, raw):
    """Every method and some operations on an instance made by __new__ alone."""
    if name == "model":
        return [raw.run, lambda: raw.set(0, [0, 0], 1.0), lambda: raw.get(0, [0, 0])]
    kind, s = name[:-1], name[-1]
    one = 1.0 if s in "sd" else 1j
    index = (0, 0) if kind == "mat" else 0
    good, square = getattr(nc, "vec" + s)(4), getattr(nc, "mat" + s)(1, 1)
    calls = [raw.numel, lambda: raw.dim(0), lambda: raw[index], lambda: raw.__setitem__(index, one),
             lambda: repr(raw), lambda: nc.scale(one, raw), lambda: nc.copy(good, raw), lambda: nc.dot(raw, good),
             lambda: nc.swap(raw, good)]
    if kind == "mat":
        calls += [lambda: nc.gemv(one, one, raw, good, good), lambda: nc.ls(raw, good),
                  lambda: nc.matmul(square, square, raw)]
    else:
        calls += [lambda: raw[0:1], lambda: nc.matvec(square, raw, good)]
    return calls


@pytest.mark.parametrize("name", CLASSES)
def test_instances_never_constructed_are_refused(name):
    cls = getattr(nc, name)
    raw = cls.__new__(cls)
    for call in refused_calls(name, raw):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call()


@pytest.mark.parametrize("name", CLASSES)
def test_methods_refuse_none_as_self(name):
    cls = getattr(nc, name)
    for method, args in [("numel", ()), ("dim", (0,)), ("__getitem__", (0,)), ("__repr__", ()),
                         ("run", ()), ("get", (0, [0]))]:
        if method in vars(cls):
            with pytest.raises(TypeError, match="incompatible function arguments"):
                getattr(cls, method)(None, *args)
