// The operations over float containers.
#include "operations.h"

template void Nubra::Python::registerOperations<float>(pybind11::module_&);
