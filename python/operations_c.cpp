// The operations over complex float containers.
#include "operations.h"

template void Nubra::Python::registerOperations<std::complex<float>>(pybind11::module_&);
