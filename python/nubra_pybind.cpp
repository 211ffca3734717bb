// The nubracore module: registers the model class, the container classes
// of every scalar type, then the operations over every container kind
// (operations.h, compiled in operations.cpp), then installs what the call
// layer adds (install.h, compiled in install.cpp), and last the bounded
// message of a call no overload takes (no_match.h).

#include <algorithm>
#include <sstream>

#include <boost/hana.hpp>
#include <pybind11/complex.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "install.h"
#include "instance.h"
#include "kinds.h"
#include "no_match.h"
#include "operations.h"
#include "operations/show.h"
#include "scalars.h"

namespace py = pybind11;
namespace hana = boost::hana;
using Nubra::Python::def;
using Nubra::Python::registerOperations;
using Nubra::Python::typeSet;

namespace {

// --- model ------------------------------------------------------------------

void registerModel(py::module_& m)
{
    using Nubra::Onnx::Model;
    py::class_<Model> model(m, "model");
    model.def(py::init<const std::string&>());
    def(model, "run", &Model::run);
    def(model, "set", &Model::set<float>);
    def(model, "get", &Model::get<float>);
}

// --- containers ---------------------------------------------------------------

template <class C>
std::string repr(const C& self)
{
    std::stringstream output;
    Nubra::show(self, output);
    return output.str();
}

// The methods vectors and views share, after the vector's constructor.
template <class C>
void addVectorMethods(py::class_<C>& cls)
{
    using T = typename C::SampleType;
    def(cls, "numel", &C::numel);
    def(cls, "dim", [](const C& self, size_t idx) {
        if (idx != 0)
            throw std::runtime_error(Nubra::cat("dimension ", idx, " invalid for vector"));
        return self.template dim<0>();
    });
    def(cls, "__getitem__", [](const C& self, size_t idx) { return self[idx]; });
    def(cls, "__getitem__", [](const C& self, const py::slice& slice) {
        size_t start, stop, step, sliceLength;
        if (!slice.compute(self.numel(), &start, &stop, &step, &sliceLength))
            throw py::error_already_set();
        if (step > 1)
            throw std::runtime_error("stepsizes larger than 1 invalid for vector");
        // A start past the stop selects nothing, as for a Python list.
        return self[{start, std::max(start, stop)}];
    });
    def(cls, "__setitem__", [](C& self, size_t idx, T value) { self[idx] = value; });
    def(cls, "__repr__", repr<C>);
}

template <class T, class Postfix>
void registerContainers(py::module_& m, Postfix postfix)
{
    using Vector = Nubra::Vector<T>;
    using View = Nubra::VectorView<T>;
    using Matrix = Nubra::Matrix<T>;
    using Index = std::pair<size_t, size_t>;
    constexpr auto vecname = BOOST_HANA_STRING("vec") + Postfix{};
    constexpr auto vecviewname = BOOST_HANA_STRING("view") + Postfix{};
    constexpr auto matname = BOOST_HANA_STRING("mat") + Postfix{};

    py::class_<Vector> vector(m, vecname.c_str());
    vector.def(py::init<size_t>());
    addVectorMethods(vector);

    py::class_<View> view(m, vecviewname.c_str());
    addVectorMethods(view);

    py::class_<Matrix> matrix(m, matname.c_str());
    matrix.def(py::init<size_t, size_t>());
    def(matrix, "dim", [](const Matrix& self, size_t idx) {
        if (idx > 1)
            throw std::runtime_error(Nubra::cat("dimension ", idx, " invalid for matrix"));
        return idx == 0 ? self.template dim<0>() : self.template dim<1>();
    });
    def(matrix, "numel", &Matrix::numel);
    def(matrix, "__getitem__", [](const Matrix& self, Index idx) { return self[idx]; });
    def(matrix, "__setitem__", [](Matrix& self, Index idx, T value) { self[idx] = value; });
    def(matrix, "__repr__", repr<Matrix>);
}

void registerModule(py::module_& m)
{
    registerModel(m);
    hana::for_each(typeSet, [&](auto pair) {
        registerContainers<typename decltype(+hana::first(pair))::type>(m, hana::second(pair));
    });
    registerOperations(m);
    Nubra::Python::install(m);
    Nubra::Python::noMatch::appendRecords(m);
}

// What the module holds once made: an import after the first (a reload,
// or after leaving sys.modules) gets the same.
PyObject* made = nullptr;

// Makes the module in the main interpreter. In any other, pybind11 2.10
// would set up its internals through PyGILState_Ensure, which deadlocks
// there, or share the main one's objects: the import is refused.
int execute(PyObject* module)
{
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError, "nubracore can't be imported in a sub-interpreter, only in the main one");
        return -1;
    }
    if (made != nullptr)
        return PyDict_Update(PyModule_GetDict(module), made);
    try {
        pybind11::detail::get_internals();
        auto m = py::reinterpret_borrow<py::module_>(module);
        registerModule(m);
    } catch (py::error_already_set& e) {
        py::raise_from(e, PyExc_ImportError, "initialization failed");
        return -1;
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_ImportError, e.what());
        return -1;
    }
    made = PyDict_Copy(PyModule_GetDict(module));
    return made != nullptr ? 0 : -1;
}

// Made in phases, so that every import runs execute in its own
// interpreter: made once, CPython would copy a module made in one phase
// into a sub-interpreter, and from 3.13 make it in the main one first.
PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute)},
#ifdef Py_mod_multiple_interpreters
    // Said so that CPython leaves the refusal to execute in every kind of
    // sub-interpreter.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr}};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "nubracore", nullptr, 0, nullptr, slots, nullptr, nullptr, nullptr};

} // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit_nubracore()
{
    PYBIND11_CHECK_PYTHON_VERSION
    return PyModuleDef_Init(&definition);
}
