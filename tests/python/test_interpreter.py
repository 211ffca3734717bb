"""The module against the interpreter around it, with the fast paths on and
off: threads ended inside a call at exit, __init__ re-entered, imports in
sub-interpreters, the report on sys.stderr. Needs the module alone, so it
runs on every interpreter the wheels are built for."""

import os
import subprocess
import sys
import textwrap

import pytest

import sanitizer

MODES = ["1", "0"]


def start(code, fast):
    env = dict(os.environ, NUBRACORE_FAST_PATHS=fast)
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)


def run(code, fast):
    child = start(code, fast)
    out, err = child.communicate(timeout=60)
    return child.returncode, out, err


# Calls the interpreter ends where they wait for the GIL, at exit: one that
# converts an argument with Python code, and failed ones with more
# positional arguments than any overload takes, whose message renders an
# argument with Python code.
WORK = {
    "conversion": "nc.scale(Fraction(1, 2), x)",
    "extra arguments": "call(lambda: nc.dot(x, x, Slow()))",
    "extra constructor arguments": "call(lambda: nc.matd(1, 2, Slow()))",
}


@pytest.mark.skipif(sanitizer.ACTIVE, reason="the sanitizers take the forced unwind of an ended thread for a fault")
@pytest.mark.parametrize("fast", MODES)
@pytest.mark.parametrize("work", WORK, ids=list(WORK))
def test_daemon_threads_inside_calls_at_exit(fast, work):
    code = f"""
        import sys, threading, time
        from fractions import Fraction
        import nubracore as nc
        sys.setswitchinterval(1e-6)
        x = nc.vecd(64)
        class Slow:
            def __repr__(self):
                return repr(sum(range(10000)))
        def call(f):
            try:
                f()
            except TypeError:
                pass
        def work():
            while True:
                {WORK[work]}
        for _ in range(4):
            threading.Thread(target=work, daemon=True).start()
        time.sleep(0.05)
    """
    children = [start(code, fast) for _ in range(20)]
    outcomes = [(child.wait(timeout=60), child.stderr.read()[-300:]) for child in children]
    for child in children:
        child.stdout.close()
        child.stderr.close()
    assert [o for o in outcomes if o[0] != 0] == []


@pytest.mark.parametrize("fast", MODES)
def test_init_reentered_from_its_argument(fast):
    # The call that starts first constructs; the one inside it changes nothing.
    code = """
        import gc
        import nubracore as nc
        h = nc.vecd.__new__(nc.vecd)
        class Idx:
            def __index__(self):
                h.__init__(5)
                return 3
        h.__init__(Idx())
        h.__init__(7)
        print(h.numel())
        m = nc.matd.__new__(nc.matd)
        class Rows:
            def __index__(self):
                m.__init__(Rows(), 1)
                return 2
        m.__init__(Rows(), 4)
        print(m.numel())
        del h, m
        gc.collect()
    """
    assert run(code, fast)[:2] == (0, "3\n8\n")


def sub_interpreters():
    """Ways to make a sub-interpreter here, as the code that makes one."""
    if sys.version_info >= (3, 13):
        return ["import _interpreters as i; n = i.create()", "import _interpreters as i; n = i.create('legacy')"]
    ways = ["import _xxsubinterpreters as i; n = i.create()"]
    if sys.version_info >= (3, 12):
        ways.append("import _xxsubinterpreters as i; n = i.create(isolated=False)")
    return ways


@pytest.mark.parametrize("fast", MODES)
@pytest.mark.parametrize("imported_first", [False, True])
@pytest.mark.parametrize("create", sub_interpreters())
def test_sub_interpreter_import_refused(create, imported_first, fast):
    code = f"""
        {"import nubracore" if imported_first else ""}
        {create}
        try:  # from 3.13 the error is returned, not raised
            print(i.run_string(n, "import nubracore; print(nubracore.vecd(3))").msg)
        except Exception as e:
            print(e)
        import nubracore
        print(nubracore.vecd(2).numel())
    """
    status, out, err = run(code, fast)
    assert status == 0, err
    assert "nubracore can't be imported in a sub-interpreter, only in the main one" in out
    assert "Column vector" not in out and out.endswith("2\n")


def test_report_through_sys_stderr():
    code = """
        import io, sys
        sys.stderr = io.StringIO()
        import nubracore
        report = sys.stderr.getvalue()
        sys.stderr = sys.__stderr__
        print(report)
    """
    status, out, err = run(code, "report")
    assert (status, err) == (0, "")
    lines = dict(line.split(": ", 2)[1:] for line in out.splitlines()[1:] if line)
    assert all(lines[f"{p}{s}.__init__"] == "guarded" for p in ("vec", "mat") for s in "sdcz")
    assert lines["model.__init__"] == "guarded"
