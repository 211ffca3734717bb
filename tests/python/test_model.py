import subprocess
import sys

import numpy as np
import pytest

import models
import nubracore
import sanitizer

MAKERS = ["identity", "pass_through", "repeated_outputs", "uint8_identity", "matmul", "two_inputs", "constant", "scalar", "int64_input",
          "float16_input", "dynamic", "checked", "sequence_input"]


@pytest.fixture(scope="module")
def path(tmp_path_factory):
    folder = tmp_path_factory.mktemp("models")
    made = {name: getattr(models, name)(folder / f"{name}.onnx") for name in MAKERS}
    made["quoted"] = models.identity(folder / "quoted.onnx", shape=[2], name_in="it's x", name_out="{y}")
    made["missing"] = str(folder / "missing.onnx")
    (folder / "corrupt.onnx").write_bytes(b"\x08\x07not a model" * 20)
    made["corrupt"] = str(folder / "corrupt.onnx")
    return made


@pytest.fixture
def load(path, capfd):
    def make(name):
        model = nubracore.model(path[name])
        capfd.readouterr()
        return model
    return make


def construct(path):
    """Constructs a model in a fresh interpreter whose Python stdout is
    redirected; returns what reached the process's stdout and the error."""
    code = ("import io, sys, nubracore\n"
            "sys.stdout = io.StringIO()\n"
            "try:\n    nubracore.model(sys.argv[1])\n"
            "except RuntimeError as e:\n    sys.stderr.write('@@RuntimeError: ' + str(e))\n")
    done = subprocess.run([sys.executable, "-c", code, path], capture_output=True, text=True,
                          check=True, timeout=60)
    return done.stdout, done.stderr.partition("@@")[2]


def lines(*parts):
    out = []
    for side, i, name, shape, made in parts:
        out.append(f"Nubra::Onnx::Model:: {side} name {i} '{name}'")
        out.append(f"Nubra::Onnx::Model:: {side} shape {i} '{{{shape}}}'")
        if made:
            out.append("Nubra::Onnx::MakeTensor:: making tensor of type 'float'")
    return "".join(line + "\n" for line in out)


@pytest.mark.parametrize("name, stdout, error", [
    ("identity", lines(("input", 0, "x", "1, 3", 1), ("output", 0, "y", "1, 3", 1)), ""),
    ("two_inputs", lines(("input", 0, "a", "2", 1), ("input", 1, "b", "2", 1),
                         ("output", 0, "s", "2", 1), ("output", 1, "d", "2", 1)), ""),
    ("constant", lines(("output", 0, "c", "2", 1)), ""),
    ("scalar", lines(("input", 0, "x", "", 1), ("output", 0, "y", "", 1)), ""),
    ("int64_input", lines(("input", 0, "x", "2", 1), ("input", 1, "n", "2", 0),
                          ("output", 0, "y", "2", 1)), ""),
    ("quoted", lines(("input", 0, "it's x", "2", 1), ("output", 0, "{y}", "2", 1)), ""),
    ("float16_input", lines(("input", 0, "h", "2", 0)),
     "RuntimeError: Unsupported datatype 'ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16'"),
    ("dynamic", lines(("input", 0, "x", "-1, 3", 0)), "RuntimeError: "),
    ("sequence_input", "Nubra::Onnx::Model:: input name 0 's'\n",
     "RuntimeError: input 0 's' is not a tensor"),
    ("missing", "", "RuntimeError: "),
    ("corrupt", "", "RuntimeError: "),
])
def test_construction_prints_on_native_stdout(path, name, stdout, error):
    out, err = construct(path[name])
    assert out == stdout
    assert err.startswith(error) if error.endswith(": ") else err == error


@pytest.mark.parametrize("x", [[0.0, 0.0], [1.0, 0.0], [0.5, -2.0], [3.0, 7.0]])
def test_matmul(load, x):
    model = load("matmul")
    for j, v in enumerate(x):
        assert model.set(0, [0, j], v) is None
    assert model.run() is None
    expected = np.array([x], dtype=np.float32) @ models.WEIGHTS
    assert [model.get(0, [0, k]) for k in range(3)] == expected[0].tolist()


def test_zero_filled_before_first_run(load):
    model = load("two_inputs")
    assert [model.get(o, [k]) for o in (0, 1) for k in (0, 1)] == [0.0] * 4
    model.set(0, [0], 5.0)
    model.set(0, [1], -1.5)
    model.run()  # b was never set
    assert [model.get(o, [k]) for o in (0, 1) for k in (0, 1)] == [5.0, -1.5, 5.0, -1.5]

    # An input without a view (int64) is zero as well: y = x * n.
    model = load("int64_input")
    model.set(0, [0], 2.0)
    model.run()
    assert model.get(0, [0]) == 0.0


def test_inputs_persist_and_outputs_follow_each_run(load):
    model = load("two_inputs")
    model.set(0, [0], 1.0)
    model.run()
    assert model.get(0, [0]) == 1.0
    model.set(1, [0], 2.0)
    model.run()
    assert (model.get(0, [0]), model.get(1, [0])) == (3.0, -1.0)


def test_argument_conversion_and_precision(load):
    model = load("identity")
    model.set(0, (0, 1), 2)
    model.set(0, [0, 2], 0.1)
    model.run()
    assert model.get(0, (0, 1)) == 2.0
    value = model.get(0, [0, 2])
    assert type(value) is float and value == float(np.float32(0.1)) and value != 0.1


def test_output_that_is_an_input_follows_it(load):
    model = load("pass_through")
    for value in (1.5, -4.0):
        model.set(0, [1], value)
        model.run()
        assert (model.get(0, [1]), model.get(1, [1])) == (value, 2 * value)


def test_output_listed_again_reads_what_the_graph_computed(load):
    model = load("repeated_outputs")
    for x in ([1.0, 2.0, 3.0], [-1.5, 0.5, 4.0]):
        for k, value in enumerate(x):
            model.set(0, [k], value)
        model.run()
        doubled = [2 * value for value in x]
        assert [[model.get(o, [k]) for k in range(3)] for o in range(4)] == [doubled, x, doubled, x]


def test_no_inputs_and_rank_zero(load):
    model = load("constant")
    model.run()
    assert [model.get(0, [0]), model.get(0, [1])] == [7.0, 8.0]

    model = load("scalar")
    model.set(0, [], 3.0)
    model.run()
    assert model.get(0, []) == 6.0


@pytest.mark.parametrize("name, call, error, message", [
    ("identity", lambda m: m.set(1, [0, 0], 1.0), RuntimeError, "input index 1 exceeds max number of inputs 1"),
    ("identity", lambda m: m.get(5, [0, 0]), RuntimeError, "output index 5 exceeds max number of outputs 1"),
    ("constant", lambda m: m.set(0, [0], 1.0), RuntimeError, "input index 0 exceeds max number of inputs 0"),
    ("int64_input", lambda m: m.set(1, [0], 1.0), RuntimeError,
     "input 1 'n' holds int64 elements; only float tensors can be set and read"),
    ("uint8_identity", lambda m: m.set(0, [0], 1.0), RuntimeError,
     "input 0 'x' holds uint8 elements; only float tensors can be set and read"),
    ("uint8_identity", lambda m: m.get(0, [0]), RuntimeError,
     "output 0 'y' holds uint8 elements; only float tensors can be set and read"),
    ("identity", lambda m: m.set(0, [0], 1.0), RuntimeError, "location dimensions do not match shape size"),
    ("identity", lambda m: m.get(0, [0, 0, 0]), RuntimeError, "location dimensions do not match shape size"),
    ("identity", lambda m: m.set(0, [0, 3], 1.0), RuntimeError, "invalid location range"),
    ("identity", lambda m: m.get(0, [-1, 0]), RuntimeError, "invalid location range"),
    ("identity", lambda m: m.set(-1, [0, 0], 1.0), TypeError, "incompatible function arguments"),
    ("identity", lambda m: m.set(0, [0, 0.5], 1.0), TypeError, "incompatible function arguments"),
    ("identity", lambda m: m.get(0, 3), TypeError, "incompatible function arguments"),
    ("identity", lambda m: m.set(0, [0, 0], "1"), TypeError, "incompatible function arguments"),
])
def test_access_errors(load, name, call, error, message):
    model = load(name)
    with pytest.raises(error, match=message) as caught:
        call(model)
    assert error is TypeError or str(caught.value) == message


def test_refused_write_leaves_tensor_unchanged(load):
    model = load("identity")
    model.set(0, [0, 2], 4.0)
    with pytest.raises(RuntimeError):
        model.set(0, [0, 3], 9.0)
    model.run()
    assert [model.get(0, [0, k]) for k in range(3)] == [0.0, 0.0, 4.0]


def test_rerun_after_failed_run(load, capfd):
    model = load("checked")  # fails while any element of x is negative
    model.set(0, [1], -1.0)
    with pytest.raises(RuntimeError, match="Reshape"):
        model.run()
    model.set(0, [1], 2.0)
    model.run()
    assert [model.get(0, [k]) for k in range(3)] == [0.0, 2.0, 0.0]
    assert capfd.readouterr().out == ""  # runs print nothing


def rss_kb():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))


@pytest.mark.skipif(sanitizer.ACTIVE, reason="the sanitizer's allocator holds freed memory")
@pytest.mark.parametrize("name", ["matmul", "float16_input"])
def test_models_are_freed(path, capfd, name):
    def churn(count):
        for _ in range(count):
            try:
                model = nubracore.model(path[name])
                model.run()
                del model
            except RuntimeError:
                pass
        capfd.readouterr()

    churn(50)
    before = rss_kb()
    churn(300)
    assert rss_kb() - before < 4 * 1024  # a leaked model costs about 60 KB


@pytest.mark.parametrize("tail", ["\0", "\0/anything"])
@pytest.mark.parametrize("encode", [str, str.encode])
def test_embedded_null_in_path(path, capfd, tail, encode):
    with pytest.raises(ValueError, match="^model path contains an embedded null byte$"):
        nubracore.model(encode(path["identity"] + tail))
    assert capfd.readouterr().out == ""
