import nubracore as nc

CLASSES = ["model"] + [p + s for s in "sdcz" for p in ("vec", "view", "mat")]
# In order of first registration: float overloads first, complex-only hdot last.
FUNCTIONS = ["scale", "sum", "dot", "copy", "swap", "axpy", "ls", "matvec", "gemv", "gemm", "matmul", "hdot"]


def test_module_holds_exactly_its_classes_and_functions():
    public = [name for name in vars(nc) if not name.startswith("__")]
    assert public == CLASSES + FUNCTIONS  # registration order
    assert nc.__doc__ is None
    assert all(isinstance(getattr(nc, name), type) for name in CLASSES)

