"""The module's operations in registration order, the one table every test
takes them from: each one's parameters (s a scalar, then v a container, m
a matrix), the container it writes (an index among its containers; None
where it writes none) and its docstring."""

OPERATIONS = {"scale": ("sv", 0, "scale an object"),
              "sum": ("vv", 1, "add objects"),
              "dot": ("vv", None, "dot product"),
              "copy": ("vv", 1, "copy an object into another"),
              "swap": ("vv", 1, "swap objects into another"),
              "axpy": ("svv", 1, "axpy objects"),
              "ls": ("mv", 1, "ls"),
              "matvec": ("mvv", 2, "matvec"),
              "gemv": ("ssmvv", 2, "gemv"),
              "gemm": ("ssmmm", 2, "gemm"),
              "matmul": ("mmm", 2, "matmul"),
              "hdot": ("vv", None, "hermetian dot product")}

PARAMETERS = {name: parameters for name, (parameters, _, _) in OPERATIONS.items()}
WRITES = {name: written for name, (_, written, _) in OPERATIONS.items() if written is not None}
DOCS = {name: doc for name, (_, _, doc) in OPERATIONS.items()}
