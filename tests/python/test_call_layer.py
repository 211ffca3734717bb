"""The call layer under hostile callers, its switch and report, and the fast
call's choice of overload against pybind11's two passes."""

import ctypes
import os
import subprocess
import sys
import textwrap

import pytest

import nubracore as nc
import overlap_module as om

CLASSES = [getattr(nc, p + s) for s in "sdcz" for p in ("vec", "view", "mat")] + [nc.model]
MODES = ["1", "0"]


def child(code, fast="1", timeout=60):
    """Runs code in a fresh interpreter with the fast paths set so."""
    env = dict(os.environ, NUBRACORE_FAST_PATHS=fast)
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True,
                          timeout=timeout)


@pytest.mark.parametrize("fast", MODES)
def test_second_init_changes_nothing(fast):
    done = child("""
        import nubracore as nc
        r = nc.copy(nc.vecd(3), nc.vecd(3))
        class Evil:
            def __float__(self):
                try:
                    r.__init__(2**62)
                except MemoryError:
                    pass
                return 1.0
        r[0] = Evil()
        print(r[0], r.numel())

        class Start:
            def __index__(self):
                r.__init__(1)
                return 0
        print(r[slice(Start(), 3)].numel())

        y = nc.vecd(3)
        r = nc.copy(nc.vecd(3), y)
        r.__init__(5)
        r[0] = 7.0
        v = y[0:2]
        try:
            v.__init__(9)
        except TypeError as e:
            assert "No constructor defined" in str(e)
        m = nc.matd(2, 2)
        m.__init__(1, 1)
        print(y[0], r.numel(), v.numel(), m.numel())
    """, fast)
    assert (done.returncode, done.stdout.split()) == (0, ["1.0", "3", "3", "7.0", "3", "2", "4"]), done.stderr


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_assignment_refused(cls, tmp_path):
    import models
    make = {nc.model: lambda: nc.model(models.identity(tmp_path / "m.onnx"))}
    x = make.get(cls, lambda: cls(2, 2) if cls.__name__.startswith("mat") else
                 cls(3) if cls.__name__.startswith("vec") else getattr(nc, "vec" + cls.__name__[-1])(3)[0:2])()
    before = repr(x) if cls is not nc.model else None
    for other in CLASSES:
        if other is not cls:
            for assign in (lambda: setattr(x, "__class__", other),
                           lambda: object.__dict__["__class__"].__set__(x, other)):
                with pytest.raises(TypeError):
                    assign()
    assert type(x) is cls
    assert cls is nc.model or repr(x) == before


def test_sub_interpreter_import_refused():
    done = child("""
        import _xxsubinterpreters as interpreters
        try:
            interpreters.run_string(interpreters.create(), "import nubracore")
        except Exception as e:
            print(e)
    """, timeout=30)
    assert "ImportError" in done.stdout and "sub-interpreter" in done.stdout, done.stderr


def test_report_names_a_fast_path_for_everything_that_can_have_one():
    done = child("import nubracore", "report")
    lines = done.stderr.splitlines()
    assert lines[0].startswith("nubracore fast paths: on (pybind11 2.10.3")
    report = dict(line.removeprefix("nubracore fast paths: ").split(": ", 1) for line in lines[1:])
    without = {name: what for name, what in report.items() if what.startswith("none")}
    constructors = {c.__name__ + ".__init__" for c in CLASSES if type(vars(c).get("__init__")).__name__ == "instancemethod"}
    pairs = {f"mat{s}.{m}" for s in "sdcz" for m in ("__getitem__", "__setitem__")}
    assert set(without) == pairs
    assert {name: report[name] for name in constructors} == dict.fromkeys(constructors, "guarded")
    functions = [name for name in vars(nc) if callable(getattr(nc, name)) and not isinstance(getattr(nc, name), type)]
    methods = [f"{c.__name__}.{m}" for c in CLASSES for m in vars(c) if callable(vars(c)[m])
               and type(vars(c)[m]).__name__ == "instancemethod"]
    assert set(functions + methods) <= set(report)
    assert all(report[f"{c.__name__}[]"] == "element access" for c in CLASSES if c is not nc.model)


# Where a builtin function object keeps its vectorcall, after m_ml, m_self,
# m_module and m_weakreflist; pybind11 gives its functions none.
VECTORCALL = object.__basicsize__ + 4 * ctypes.sizeof(ctypes.c_void_p)


@pytest.mark.parametrize("setting, on", [("0", False), ("false", False), ("No", False), ("OFF", False),
                                         ("1", True), ("report", True), ("", True)])
def test_switch(setting, on):
    done = child(f"import ctypes, nubracore\n"
                 f"print(ctypes.c_void_p.from_address(id(nubracore.dot) + {VECTORCALL}).value is not None)", setting)
    assert done.stdout.split() == [str(on)], done.stderr


class Real(float):
    pass


VALUES = [0, 3, True, 2.5, -1.0, 1j, 2 - 1j, "x", None, 2**70, Real(1.5)]
KNOWN = (int, bool, float, complex, str, type(None))


@pytest.mark.parametrize("name", ["fic", "cif", "cf", "fc", "single", "pairs"])
def test_fast_call_chooses_as_pybind11(name):
    f = getattr(om, name)
    arity = 2 if name == "pairs" else 1
    arguments = [(a,) for a in VALUES] if arity == 1 else [(a, b) for a in VALUES for b in VALUES]
    for args in arguments:
        try:
            expected = om.pybind11(f, *args)
        except TypeError:
            expected = None
        try:
            got = f(*args)
        except TypeError:
            got = None
        assert got == expected, args
        chosen = om.resolve(f, *args)
        if all(type(a) in KNOWN and a != 2**70 for a in args):
            assert chosen == expected, args
        elif any(type(a) not in KNOWN for a in args):
            assert chosen is None, args


@pytest.mark.parametrize("make", [lambda x: nc.dot(x, x), lambda x: x[0]], ids=["dot", "element"])
def test_complex_results_held_keep_their_values(make):
    # The layer writes a complex result it made before into the next one
    # only once nothing else holds it.
    held, values = [], []
    for k in range(1, 6):
        x = nc.vecz(1)
        x[0] = complex(k, -k)
        held.append(make(x))
        values.append(complex(held[-1]))
        make(x)
    assert [complex(h) for h in held] == values and len({id(h) for h in held}) == len(held)


def test_overloads_of_a_function_cant_be_made_from_python():
    overloads = type(nc.dot.__self__)
    for make in (overloads, lambda: object.__new__(overloads)):
        with pytest.raises(TypeError):
            make()
