"""Writes nearest_centroid.onnx, the tour's model: a linear classifier that
puts a point of the plane into the class of its nearest centroid.

    input   point          float 1 x 2
    output  scores         float 1 x 3   scores = point @ W + b
    output  probabilities  float 1 x 3   softmax of the scores

With centroids c_k, the score x . c_k - |c_k|^2 / 2 is largest for the
nearest one. The centroids are (0, 0), (4, 0) and (0, 4), so the weights are
small integers and every score can be checked by hand.

Run with Debian's interpreter (python3-onnx): /usr/bin/python3 make_default_model.py
"""

import pathlib

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

CENTROIDS = np.array([[0.0, 0.0], [4.0, 0.0], [0.0, 4.0]], dtype=np.float32)


def build():
    weights = CENTROIDS.T.copy()                       # 2 x 3
    bias = -0.5 * (CENTROIDS ** 2).sum(axis=1)         # 3
    graph = helper.make_graph(
        [helper.make_node("MatMul", ["point", "W"], ["xw"]),
         helper.make_node("Add", ["xw", "b"], ["scores"]),
         helper.make_node("Softmax", ["scores"], ["probabilities"], axis=-1)],
        "nearest_centroid",
        [helper.make_tensor_value_info("point", TensorProto.FLOAT, [1, 2])],
        [helper.make_tensor_value_info("scores", TensorProto.FLOAT, [1, 3]),
         helper.make_tensor_value_info("probabilities", TensorProto.FLOAT, [1, 3])],
        [numpy_helper.from_array(weights, "W"), numpy_helper.from_array(bias.astype(np.float32), "b")])
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)],
                              producer_name="make_default_model.py")
    model.ir_version = 8
    onnx.checker.check_model(model)
    return model


if __name__ == "__main__":
    out = pathlib.Path(__file__).with_name("nearest_centroid.onnx")
    onnx.save(build(), str(out))
    print(f"wrote {out} ({out.stat().st_size} bytes)")
