// Twin overload sets and classes: the module's own, registered by the call
// layer's def, get the bounded message of a call no overload takes; their
// twins in `plain`, registered by pybind11's, keep its message.
#include <utility>
#include <variant>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "registration.h"

namespace py = pybind11;

namespace {

template <int>
struct Box {
    explicit Box(size_t) {}
};

// Registers the overload sets through def(target, name, f) or
// def(class, constructor).
template <class B, class Def>
void define(py::module_& m, Def def)
{
    def(m, "pick", [](double, size_t) { return 0; });
    def(m, "pick", [](const Nubra::Vector<double>&, size_t) { return 1; });
    def(m, "pick", [](std::pair<size_t, size_t>, const py::slice&) { return 2; });
    def(m, "single", [](size_t) { return 0; });
    def(m, "unbound", [](const std::monostate&) { return 0; });
    py::class_<B> box(m, "Box");
    def(box, py::init<size_t>());
    def(box, py::init([](double, double) { return B(0); }));
}

} // namespace

PYBIND11_MODULE(no_match_module, m)
{
    py::module_::import("nubracore");
    define<Box<0>>(m, [](auto& target, auto&&... args) { Nubra::Python::def(target, std::forward<decltype(args)>(args)...); });
    py::module_ plain = m.def_submodule("plain");
    define<Box<1>>(plain, [](auto& target, auto&&... args) { target.def(std::forward<decltype(args)>(args)...); });
}
