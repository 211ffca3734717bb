#include "install.h"

#include <iostream>
#include <map>
#include <string>

#include <boost/hana.hpp>

#include "guards.h"
#include "instance.h"
#include "scalars.h"
#if NUBRA_FAST_PATHS
#include "fast_access.h"
#include "fast_call.h"
#endif

namespace Nubra::Python {

namespace hana = boost::hana;

namespace {

// The module's classes, in its attribute order.
std::vector<PyTypeObject*> classesOf(const py::module_& m)
{
    std::vector<PyTypeObject*> classes;
    for (const auto item : m.attr("__dict__").cast<py::dict>())
        if (PyType_Check(item.second.ptr()) && pyd::get_type_info(reinterpret_cast<PyTypeObject*>(item.second.ptr())))
            classes.push_back(reinterpret_cast<PyTypeObject*>(item.second.ptr()));
    return classes;
}

// Calls f with each container class and the model class as C++ types.
template <class F>
void forEachClass(F f)
{
    hana::for_each(operationsSet, [&](auto scalar) {
        using T = typename decltype(scalar)::type;
        f(hana::type_c<Vector<T>>);
        f(hana::type_c<VectorView<T>>);
        f(hana::type_c<Matrix<T>>);
    });
    f(hana::type_c<Onnx::Model>);
}

#if NUBRA_FAST_PATHS
// What each function, method and class got, by name, for the report.
using Report = std::map<std::string, std::string>;

std::string outcome(const std::string& whyNot, const char* what)
{
    return whyNot.empty() ? what : "none (" + whyNot + ")";
}

template <class C>
std::string nameOf()
{
    return py::str(py::type::of<C>().attr("__name__"));
}

// Results of C made and freed by results.h, where its instances are in the
// simple layout with the default holder, allocated plainly, and its
// __init__ can be guarded.
template <class C>
std::string makeResultsRegistryFree()
{
    std::string whyNot;
    PyTypeObject* type = fast::simpleClass<C>(whyNot);
    if (type == nullptr)
        return whyNot;
    if (!pyd::get_type_info(type)->default_holder)
        return "not the default holder";
    unsigned long managed = Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT;
#ifdef Py_TPFLAGS_MANAGED_WEAKREF
    managed |= Py_TPFLAGS_MANAGED_WEAKREF;
#endif
    if (type->tp_itemsize != 0 || (type->tp_flags & managed) != 0 || type->tp_alloc != PyType_GenericAlloc)
        return "not allocated plainly";
    if (whyNot = guardInit(type); !whyNot.empty())
        return whyNot;
    registryFree<C> = type;
    pybind11Dealloc<C> = std::exchange(type->tp_dealloc, deallocate<C>);
    return {};
}

void installFastPaths(const py::module_& m, Report& report)
{
    const std::vector<PyTypeObject*> classes = classesOf(m);
    fast::knownTypes.insert(fast::knownTypes.end(), classes.begin(), classes.end());
    forEachClass([](auto c) {
        using C = typename decltype(c)::type;
        std::string whyNot;
        simpleLayoutClass<C> = fast::simpleClass<C>(whyNot);
    });

    // The model's methods first: they have paths of their own.
    std::string whyNot;
    if (PyTypeObject* type = fast::simpleClass<Onnx::Model>(whyNot)) {
        report["model.run"] = outcome(fast::installModelMethod(type, "run", fast::modelRun), "model access");
        report["model.set"] = outcome(fast::installModelMethod(type, "set", fast::modelSet), "model access");
        report["model.get"] = outcome(fast::installModelMethod(type, "get", fast::modelGet), "model access");
    } else
        report["model"] = "none (" + whyNot + ")";

    for (const auto item : m.attr("__dict__").cast<py::dict>())
        if (PyCFunction_Check(item.second.ptr()))
            report[item.first.cast<std::string>()] = outcome(fast::install(item.second.ptr()), "call");
    for (PyTypeObject* type : classes)
        for (const auto item : py::reinterpret_borrow<py::dict>(type->tp_dict)) {
            const std::string name = std::string(py::str(py::handle(reinterpret_cast<PyObject*>(type)).attr("__name__")))
                                     + "." + item.first.cast<std::string>();
            if (PyInstanceMethod_Check(item.second.ptr()) && !report.contains(name))
                report[name] = outcome(fast::install(PyInstanceMethod_GET_FUNCTION(item.second.ptr())), "call");
        }

    forEachClass([&](auto c) {
        using C = typename decltype(c)::type;
        if constexpr (!std::is_same_v<C, Onnx::Model>) {
            report[nameOf<C>() + "[]"] = outcome(fast::installElementAccess<C>(), "element access");
            report[nameOf<C>() + " results"] = outcome(makeResultsRegistryFree<C>(), "registry-free");
        }
    });
}
#endif

} // namespace

void install(py::module_& m)
{
    forEachClass([](auto c) {
        using C = typename decltype(c)::type;
        if (const pyd::type_info* info = pyd::get_type_info(typeid(C)))
            guardClass<C>(info->type);
    });
#if NUBRA_FAST_PATHS
    if (!fastPaths)
        return;
    Report report;
    installFastPaths(m, report);
    if (fastPathSetting == "report") {
        std::cerr << "nubracore fast paths: on (pybind11 " << PYBIND11_VERSION_MAJOR << '.' << PYBIND11_VERSION_MINOR
                  << '.' << PYBIND11_VERSION_PATCH << ", CPython " << PY_MAJOR_VERSION << '.' << PY_MINOR_VERSION
                  << ")\n";
        for (const auto& [name, what] : report)
            std::cerr << "nubracore fast paths: " << name << ": " << what << '\n';
    }
#else
    if (fastPathSetting == "report")
        std::cerr << "nubracore fast paths: compiled out (they need pybind11 2.10.3 and CPython 3.11 to 3.13; built with "
                  << "pybind11 " << PYBIND11_VERSION_MAJOR << '.' << PYBIND11_VERSION_MINOR << '.'
                  << PYBIND11_VERSION_PATCH << ", CPython " << PY_MAJOR_VERSION << '.' << PY_MINOR_VERSION << ")\n";
#endif
}

} // namespace Nubra::Python
