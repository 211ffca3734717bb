"""Damaged model files: seeded truncations and byte flips of the test models,
each loaded, written, run and read in a child interpreter. Every file must
end in success or a Python exception, never in a signal.

Run as a script, this file takes model paths and tries each in turn,
writing "start N" to stderr before model N."""

import random
import subprocess
import sys

import pytest

import models

FILES = 300
PER_CHILD = 25
BASES = ["identity", "matmul", "two_inputs", "constant", "scalar", "int64_input", "checked"]


def mutate(data, rng):
    data = bytearray(data)
    if rng.random() < 0.4:
        del data[rng.randrange(len(data)):]
    for _ in range(rng.choice([0, 1, 1, 2, 4]) if data else 0):
        data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
    return bytes(data)


def exercise(path):
    """Loads, writes the first element of each input, runs and reads the outputs."""
    import nubracore
    model = nubracore.model(path)
    for side, access in (("input", lambda i, at: model.set(i, at, 1.0)), ("output", lambda i, at: model.get(i, at))):
        for i in range(4):
            for rank in range(4):
                try:
                    access(i, [0] * rank)
                    break
                except RuntimeError:
                    pass
        if side == "input":
            model.run()


@pytest.fixture(scope="module")
def damaged(tmp_path_factory):
    folder = tmp_path_factory.mktemp("damaged")
    rng = random.Random(1208)
    bases = [open(getattr(models, name)(folder / f"{name}.onnx"), "rb").read() for name in BASES]
    paths = []
    for n in range(FILES):
        path = folder / f"damaged{n}.onnx"
        path.write_bytes(mutate(rng.choice(bases), rng))
        paths.append(str(path))
    return paths


@pytest.mark.parametrize("batch", range(FILES // PER_CHILD))
def test_damaged_models_end_without_a_signal(damaged, batch):
    paths = damaged[batch * PER_CHILD:(batch + 1) * PER_CHILD]
    done = subprocess.run([sys.executable, __file__, *paths], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, timeout=300)
    started = [int(line.split()[1]) for line in done.stderr.splitlines() if line.startswith("start ")]
    assert done.returncode >= 0, f"signal {-done.returncode} on {paths[started[-1]] if started else paths}"
    assert done.returncode == 0, done.stderr[-2000:]


if __name__ == "__main__":
    for number, path in enumerate(sys.argv[1:]):
        print(f"start {number}", file=sys.stderr, flush=True)
        try:
            exercise(path)
        except Exception:  # noqa: BLE001 - any Python exception is an acceptable end
            pass
