#include <pybind11/pybind11.h>

#include "scalars.h"

void bind(pybind11::module_& m)
{
    m.def("numel", [](const Nubra::Vector<double>& v) { return v.numel(); });
}
