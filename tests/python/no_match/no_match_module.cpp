// Twin overload sets and classes: the module's own get the bounded message
// of a call no overload takes, their twins in `plain` keep pybind11's.
#include <utility>
#include <variant>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "no_match.h"

namespace py = pybind11;

namespace {

template <int>
struct Box {
    explicit Box(size_t) {}
};

template <class B>
void define(py::module_& m)
{
    m.def("pick", [](double, size_t) { return 0; });
    m.def("pick", [](const Nubra::Vector<double>&, size_t) { return 1; });
    m.def("pick", [](std::pair<size_t, size_t>, const py::slice&) { return 2; });
    m.def("single", [](size_t) { return 0; });
    m.def("unbound", [](const std::monostate&) { return 0; });
    py::class_<B>(m, "Box").def(py::init<size_t>()).def(py::init([](double, double) { return B(0); }));
}

} // namespace

PYBIND11_MODULE(no_match_module, m)
{
    py::module_::import("nubracore");
    py::module_ plain = m.def_submodule("plain");
    define<Box<0>>(m);
    define<Box<1>>(plain);
    Nubra::Python::noMatch::appendRecords(m);
}
