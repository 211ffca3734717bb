// The operations over complex double containers.
#include "operations.h"

template void Nubra::Python::registerOperations<std::complex<double>>(pybind11::module_&);
