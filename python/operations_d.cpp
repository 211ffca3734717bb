// The operations over double containers.
#include "operations.h"

template void Nubra::Python::registerOperations<double>(pybind11::module_&);
