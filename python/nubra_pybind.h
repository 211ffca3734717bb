#pragma once
// The registration frame of the module (nubra_pybind.cpp), which the module
// entry (module.cpp) runs.

#include <pybind11/pybind11.h>

namespace Nubra::Python {

// Registers the model class, the container classes of every scalar type,
// then the operations over every container kind, on the new module m.
void registerModule(pybind11::module_& m);

} // namespace Nubra::Python
