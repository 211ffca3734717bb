// The operations of every scalar type, compiled apart from the module entry
// and the classes so that the two build side by side.
#include "operations.h"

template void Nubra::Python::registerOperations<float>(pybind11::module_&);
template void Nubra::Python::registerOperations<double>(pybind11::module_&);
template void Nubra::Python::registerOperations<std::complex<float>>(pybind11::module_&);
template void Nubra::Python::registerOperations<std::complex<double>>(pybind11::module_&);
