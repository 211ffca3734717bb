"""A model loaded, set, run and read in a fresh interpreter, as a new user
runs it: with an empty HOME and without ORT_DISABLE_TELEMETRY, nothing is
written outside the caller's files, nothing is printed on stderr and, where
strace can tell, no process is started and no socket opened. Needs the module
alone, so it runs on every interpreter the wheels are built for."""

import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

import pytest

MODEL = Path(__file__).resolve().parents[2] / "examples" / "models" / "nearest_centroid.onnx"
CHILD = """
import os, sys
import nubracore
model = nubracore.model(sys.argv[1])
model.set(0, [0, 1], 2.5)
model.run()
model.get(0, [0, 2])
print(os.getpid())
"""


@pytest.mark.parametrize("fast", ["1", "0"])
def test_model_runs_quietly(tmp_path, fast):
    home, work, trace = tmp_path / "home", tmp_path / "work", tmp_path / "trace"
    home.mkdir()
    work.mkdir()
    env = {k: v for k, v in os.environ.items() if k != "ORT_DISABLE_TELEMETRY"}
    env.update(HOME=str(home), NUBRACORE_FAST_PATHS=fast)
    command = [sys.executable, "-c", CHILD, str(MODEL)]
    strace = shutil.which("strace")
    if strace:
        command = [strace, "-f", "-qq", "-o", str(trace), "-e", "trace=execve,fork,vfork,clone,clone3,socket"] + command
    started = time.time()
    done = subprocess.run(command, cwd=work, env=env, capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stderr) == (0, "")
    pid = done.stdout.split()[-1]
    assert list(home.iterdir()) == [] and list(work.iterdir()) == []
    log = Path(f"/tmp/mat-debug-{pid}.log")  # one left by an earlier process of that pid is older
    assert not (log.exists() and log.stat().st_mtime >= started)
    if strace:
        # Lines of calls as made (a call resumed in a later line has its own);
        # the first is the interpreter's own start.
        calls = [c for c in trace.read_text().splitlines() if "(" in c.split("resumed>")[0]][1:]
        assert [c for c in calls if "clone" not in c or "CLONE_THREAD" not in c] == []
