"""Small ONNX models for the model tests, written with the onnx package."""

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

FLOAT = TensorProto.FLOAT

# 2 x 3 weights of the MatMul model: y = x @ W for x of shape 1 x 2.
WEIGHTS = np.array([[1.0, 2.0, 3.0], [4.0, 5.0, 6.0]], dtype=np.float32)


def _tensor(name, elem, shape):
    return helper.make_tensor_value_info(name, elem, shape)


def _save(path, nodes, inputs, outputs, initializers=()):
    graph = helper.make_graph(nodes, "g", inputs, outputs, list(initializers))
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])
    model.ir_version = 8
    onnx.checker.check_model(model)
    onnx.save(model, str(path))
    return str(path)


def identity(path, shape=(1, 3), name_in="x", name_out="y"):
    return _save(path, [helper.make_node("Identity", [name_in], [name_out])],
                 [_tensor(name_in, FLOAT, shape)], [_tensor(name_out, FLOAT, shape)])


def pass_through(path):
    """Output 0 is input x itself; output 1 is y = 2 x."""
    two = numpy_helper.from_array(np.array(2.0, dtype=np.float32), "two")
    return _save(path, [helper.make_node("Mul", ["x", "two"], ["y"])],
                 [_tensor("x", FLOAT, [2])], [_tensor("x", FLOAT, [2]), _tensor("y", FLOAT, [2])], [two])


def repeated_outputs(path):
    """Outputs y, x, y, x: y = 2 x listed twice, and input x itself twice."""
    two = numpy_helper.from_array(np.array(2.0, dtype=np.float32), "two")
    return _save(path, [helper.make_node("Mul", ["x", "two"], ["y"])],
                 [_tensor("x", FLOAT, [3])], [_tensor(name, FLOAT, [3]) for name in "yxyx"], [two])


def uint8_identity(path):
    return _save(path, [helper.make_node("Identity", ["x"], ["y"])],
                 [_tensor("x", TensorProto.UINT8, [2])], [_tensor("y", TensorProto.UINT8, [2])])


def matmul(path):
    return _save(path, [helper.make_node("MatMul", ["x", "W"], ["y"])],
                 [_tensor("x", FLOAT, [1, 2])], [_tensor("y", FLOAT, [1, 3])],
                 [numpy_helper.from_array(WEIGHTS, "W")])


def two_inputs(path):
    """s = a + b, d = a - b: two inputs and two outputs."""
    return _save(path, [helper.make_node("Add", ["a", "b"], ["s"]),
                        helper.make_node("Sub", ["a", "b"], ["d"])],
                 [_tensor("a", FLOAT, [2]), _tensor("b", FLOAT, [2])],
                 [_tensor("s", FLOAT, [2]), _tensor("d", FLOAT, [2])])


def constant(path):
    """No inputs; one output holding [7, 8]."""
    value = numpy_helper.from_array(np.array([7.0, 8.0], dtype=np.float32), "c")
    return _save(path, [helper.make_node("Constant", [], ["c"], value=value)],
                 [], [_tensor("c", FLOAT, [2])])


def scalar(path):
    """Rank-0 input and output: y = 2 x."""
    two = numpy_helper.from_array(np.array(2.0, dtype=np.float32), "two")
    return _save(path, [helper.make_node("Mul", ["x", "two"], ["y"])],
                 [_tensor("x", FLOAT, [])], [_tensor("y", FLOAT, [])], [two])


def int64_input(path):
    """A float input and an int64 input: y = x * float(n)."""
    return _save(path, [helper.make_node("Cast", ["n"], ["nf"], to=FLOAT),
                        helper.make_node("Mul", ["x", "nf"], ["y"])],
                 [_tensor("x", FLOAT, [2]), _tensor("n", TensorProto.INT64, [2])],
                 [_tensor("y", FLOAT, [2])])


def float16_input(path):
    return _save(path, [helper.make_node("Cast", ["h"], ["y"], to=FLOAT)],
                 [_tensor("h", TensorProto.FLOAT16, [2])], [_tensor("y", FLOAT, [2])])


def dynamic(path):
    return identity(path, shape=("batch", 3))


def checked(path):
    """Identity on x whose run fails while x holds a negative element:
    z = x + Reshape(x, 1 - any(x < 0)) has an impossible shape then."""
    nodes = [
        helper.make_node("Less", ["x", "zero"], ["neg"]),
        helper.make_node("Cast", ["neg"], ["negi"], to=TensorProto.INT64),
        helper.make_node("ReduceMax", ["negi"], ["anyneg"], keepdims=0),
        helper.make_node("Sub", ["three", "anyneg"], ["n"]),
        helper.make_node("Reshape", ["n", "one"], ["shape"]),
        helper.make_node("Reshape", ["x", "shape"], ["y"]),
    ]
    init = [numpy_helper.from_array(np.array(0.0, dtype=np.float32), "zero"),
            numpy_helper.from_array(np.array(3, dtype=np.int64), "three"),
            numpy_helper.from_array(np.array([1], dtype=np.int64), "one")]
    return _save(path, nodes, [_tensor("x", FLOAT, [3])], [_tensor("y", FLOAT, [3])], init)


def sequence_input(path):
    seq = helper.make_tensor_sequence_value_info("s", FLOAT, [2])
    return _save(path, [helper.make_node("SequenceAt", ["s", "i"], ["y"])],
                 [seq], [_tensor("y", FLOAT, [2])],
                 [numpy_helper.from_array(np.array(0, dtype=np.int64), "i")])
