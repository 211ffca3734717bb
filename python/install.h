#pragma once
// What the finished module gets on top of pybind11's own paths: the guards
// of its instances and, where built in and switched on, the fast paths.
// Compiled apart (install.cpp), so that editing them rebuilds little.

#include <pybind11/pybind11.h>

namespace Nubra::Python {

void install(pybind11::module_& m);

} // namespace Nubra::Python
