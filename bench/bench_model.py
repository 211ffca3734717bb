"""Model benchmark: run() of small MatMul models through nubracore.model
against the same pre-allocated-tensor loop in C++ (ort_run, which also times
Nubra::Onnx::Model::run without Python), and the cost of one set/get next to
numpy's item access.

    PYTHONPATH=build /usr/bin/python3 bench/bench_model.py [BUILD]
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

import nubracore

REPEATS = 7
RUNS = {16: 20000, 256: 20000, 1024: 2000}  # y (1 x N) = x (1 x N) @ W (N x N): runs per loop


def matmul_model(path, N):
    weights = (np.arange(N * N).reshape(N, N) / (N * N)).astype(np.float32)
    graph = helper.make_graph(
        [helper.make_node("MatMul", ["x", "W"], ["y"])], "bench",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1, N])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1, N])],
        [numpy_helper.from_array(weights, "W")])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    onnx.save(model, path)


def quietly(make):
    """Calls make() with the process's stdout sent to /dev/null."""
    sys.stdout.flush()
    saved = os.dup(1)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 1)
        try:
            return make()
        finally:
            os.dup2(saved, 1)
            os.close(saved)


def per_call(loop, count, repeats=REPEATS):
    """Median and best seconds per call of loop(count), over repeats."""
    loop(count // 10)
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        loop(count)
        times.append((time.perf_counter() - start) / count)
    return statistics.median(times), min(times)


def time_runs(build, path, N):
    out = subprocess.run([str(build / "bench" / "ort_run"), path, str(RUNS[N]), str(REPEATS)],
                         check=True, capture_output=True, text=True).stdout.splitlines()
    cpp = {words[0]: float(words[1]) * 1e-9 for words in (line.split() for line in out[-2:])}

    model = quietly(lambda: nubracore.model(path))
    for j in range(N):
        model.set(0, [0, j], 0.5)

    def runs(count):
        run = model.run
        for _ in range(count):
            run()

    python = per_call(runs, RUNS[N])[0]
    print(f"  N = {N:4d}: ONNX Runtime {cpp['ort'] * 1e6:7.3f} us, Model::run {cpp['model'] * 1e6:7.3f} us, "
          f"nubracore.model.run {python * 1e6:7.3f} us, ratio {python / cpp['ort']:.3f}")
    return model


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else "build")
    print(f"run() of a 1xN @ NxN MatMul, median of {REPEATS} loops; ratio = Python / C++ loop, target <= 1.05")
    with tempfile.TemporaryDirectory() as folder:
        for N in RUNS:
            path = os.path.join(folder, f"matmul{N}.onnx")
            matmul_model(path, N)
            model = time_runs(build, path, N)

    # One element of the last (largest) model's tensors against a numpy array of that shape.
    a = np.zeros((1, N), dtype=np.float32)
    idx = [0, 3]
    tup = (0, 3)
    count = 200000

    def model_set(n):
        s = model.set
        for _ in range(n):
            s(0, idx, 1.5)

    def model_get(n):
        g = model.get
        for _ in range(n):
            g(0, idx)

    def numpy_set(n):
        for _ in range(n):
            a[tup] = 1.5

    def numpy_get(n):
        for _ in range(n):
            a[tup]

    def numpy_item(n):
        item = a.item
        for _ in range(n):
            item(tup)

    def empty(n):
        for _ in range(n):
            pass

    loop = per_call(empty, count)[0]
    print(f"one element, median ns per call (loop overhead {loop * 1e9:.0f} ns subtracted)")
    for label, fn in [("model.set(0, [0, 3], v)", model_set), ("model.get(0, [0, 3])", model_get),
                      ("numpy a[0, 3] = v", numpy_set), ("numpy a[0, 3]", numpy_get),
                      ("numpy a.item(0, 3)", numpy_item)]:
        print(f"  {label:26s} {(per_call(fn, count)[0] - loop) * 1e9:6.0f}")


if __name__ == "__main__":
    main()
