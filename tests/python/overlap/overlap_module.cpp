// Overload sets that overlap on float, int and complex, so that the pass
// and the order decide which overload pybind11 chooses. Each overload
// returns its position; `resolve` tells what the fast call chose.
#include <complex>
#include <stdexcept>
#include <string>

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include "registration.h"

namespace py = pybind11;
using Nubra::Python::def;
namespace fast = Nubra::Python::fast;

using Complex = std::complex<double>;

PYBIND11_MODULE(overlap_module, m)
{
    def(m, "fic", [](double) { return 0; });
    def(m, "fic", [](size_t) { return 1; });
    def(m, "fic", [](Complex) { return 2; });

    def(m, "cif", [](Complex) { return 0; });
    def(m, "cif", [](size_t) { return 1; });
    def(m, "cif", [](double) { return 2; });

    def(m, "cf", [](Complex) { return 0; });
    def(m, "cf", [](double) { return 1; });

    def(m, "fc", [](double) { return 0; });
    def(m, "fc", [](Complex) { return 1; });

    def(m, "single", [](double) { return 0; });

    def(m, "pairs", [](double, size_t) { return 0; });
    def(m, "pairs", [](size_t, double) { return 1; });
    def(m, "pairs", [](Complex, Complex) { return 2; });

    const auto functionOf = [](const py::handle& f) -> Nubra::Python::Function& {
        Nubra::Python::Function* function = Nubra::Python::layerFunction(f.ptr());
        if (function == nullptr)
            throw std::runtime_error("no fast call (NUBRACORE_FAST_PATHS off?)");
        return *function;
    };
    // The position of the overload the fast call chose for these arguments,
    // or None where it chose none or leaves the choice to pybind11.
    m.def("resolve", [=](const py::function& f, const py::args& args) -> py::object {
        const fast::Overloads& overloads = functionOf(f).overloads;
        const fast::Resolution r = fast::decide(overloads, PySequence_Fast_ITEMS(args.ptr()), args.size());
        if (r.overload == nullptr)
            return py::none();
        return py::int_(r.overload - overloads.list.data());
    });
    // Calls f through pybind11's own dispatcher.
    m.def("pybind11", [=](const py::function& f, const py::args& args) {
        PyObject* result = functionOf(f).dispatch(PySequence_Fast_ITEMS(args.ptr()), args.size(), nullptr);
        if (result == nullptr)
            throw py::error_already_set();
        return py::reinterpret_steal<py::object>(result);
    });
}
