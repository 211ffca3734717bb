// Overload sets that overlap on float, int and complex, so that the pass
// and the order decide which overload pybind11 chooses. Each overload
// returns its position; `resolve` tells what the fast call predicted.
#include <complex>
#include <string>

#include <pybind11/complex.h>
#include <pybind11/pybind11.h>

#include "fast_call.h"
#include "kinds.h"

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

    for (const char* name : {"fic", "cif", "cf", "fc", "single", "pairs"})
        if (const std::string whyNot = fast::installCall(m.attr(name).ptr()); !whyNot.empty())
            throw std::runtime_error(name + (": " + whyNot));

    const auto functionOf = [](const py::function& f) {
        return reinterpret_cast<fast::MethodDef*>(reinterpret_cast<PyCFunctionObject*>(f.ptr())->m_ml)->function;
    };
    // The overload and pass the fast call chose for these arguments, or None
    // where it leaves the choice to pybind11.
    m.def("resolve", [=](const py::function& f, const py::args& args) -> py::object {
        const fast::Resolution r = functionOf(f)->decide(PySequence_Fast_ITEMS(args.ptr()), args.size());
        if (!r.found)
            return py::none();
        return py::make_tuple(r.overload, r.convert);
    });
    // Calls f through pybind11's own dispatcher.
    m.def("pybind11", [=](const py::function& f, const py::args& args) {
        const fast::Function* function = functionOf(f);
        PyObject* result = Nubra::Python::callDispatcher(function->dispatcher.meth, function->dispatcher.self,
                                                          PySequence_Fast_ITEMS(args.ptr()), args.size(), nullptr);
        if (result == nullptr)
            throw py::error_already_set();
        return py::reinterpret_steal<py::object>(result);
    });
}
