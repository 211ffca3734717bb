#include "install.h"

#include <iostream>
#include <map>
#include <string>

#include <boost/hana.hpp>

#include "guards.h"
#include "instance.h"
#include "scalars.h"
#include "switch.h"
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

// The class of C, if its instances are in the simple layout.
template <class C>
PyTypeObject* simpleClass(std::string& whyNot)
{
    const pyd::type_info* info = pyd::get_type_info(typeid(C));
    if (info == nullptr)
        whyNot = "not registered";
    else if (pyd::all_type_info(info->type).size() != 1 || info->holder_size_in_ptrs > pyd::instance_simple_holder_in_ptrs())
        whyNot = "instances not in the simple layout";
    else
        return info->type;
    return nullptr;
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

// The versions the module was built with.
std::string builtWith()
{
    return "pybind11 " + std::to_string(PYBIND11_VERSION_MAJOR) + "." + std::to_string(PYBIND11_VERSION_MINOR) + "."
           + std::to_string(PYBIND11_VERSION_PATCH) + ", CPython " + std::to_string(PY_MAJOR_VERSION) + "."
           + std::to_string(PY_MINOR_VERSION);
}

#if NUBRA_FAST_PATHS
// What each function, method and class got, by name, for the report.
using Report = std::map<std::string, std::string>;

std::string outcome(const std::string& whyNot, const char* what)
{
    return whyNot.empty() ? what : "none (" + whyNot + ")";
}

std::string nameOf(PyTypeObject* type)
{
    return py::str(py::handle(reinterpret_cast<PyObject*>(type)).attr("__name__"));
}

// Results of C made and freed by results.h, where its instances are
// allocated plainly with the default holder, and its __init__ can be
// guarded.
template <class C>
std::string makeResultsRegistryFree(PyTypeObject* type)
{
    if (!pyd::get_type_info(type)->default_holder)
        return "not the default holder";
    unsigned long managed = Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT;
#ifdef Py_TPFLAGS_MANAGED_WEAKREF
    managed |= Py_TPFLAGS_MANAGED_WEAKREF;
#endif
    if (type->tp_itemsize != 0 || (type->tp_flags & managed) != 0 || type->tp_alloc != PyType_GenericAlloc)
        return "not allocated plainly";
    if (std::string whyNot = guardInit(type); !whyNot.empty())
        return whyNot;
    registryFree<C> = type;
    pybind11Dealloc<C> = std::exchange(type->tp_dealloc, deallocate<C>);
    return {};
}

void installFastPaths(const py::module_& m, Report& report)
{
    const std::vector<PyTypeObject*> classes = classesOf(m);
    fast::knownTypes.insert(fast::knownTypes.end(), classes.begin(), classes.end());

    // Classes whose instances are in the simple layout get element access
    // (the model: access to its tensors) and registry-free results.
    forEachClass([&](auto c) {
        using C = typename decltype(c)::type;
        std::string whyNot;
        PyTypeObject* type = simpleLayoutClass<C> = simpleClass<C>(whyNot);
        if (type == nullptr)
            report[py::type_id<C>()] = "none (" + whyNot + ")";
        else if constexpr (std::is_same_v<C, Onnx::Model>) {
            report["model.run"] = outcome(fast::installModelMethod(type, "run", fast::modelRun), "model access");
            report["model.set"] = outcome(fast::installModelMethod(type, "set", fast::modelSet), "model access");
            report["model.get"] = outcome(fast::installModelMethod(type, "get", fast::modelGet), "model access");
        } else {
            report[nameOf(type) + "[]"] = outcome(fast::installElementAccess<C>(type), "element access");
            report[nameOf(type) + " results"] = outcome(makeResultsRegistryFree<C>(type), "registry-free");
        }
    });

    for (const auto item : m.attr("__dict__").cast<py::dict>())
        if (PyCFunction_Check(item.second.ptr()))
            report[item.first.cast<std::string>()] = outcome(fast::install(item.second.ptr()), "call");
    for (PyTypeObject* type : classes)
        for (const auto item : py::reinterpret_borrow<py::dict>(type->tp_dict)) {
            const std::string name = nameOf(type) + "." + item.first.cast<std::string>();
            if (PyInstanceMethod_Check(item.second.ptr()) && !report.contains(name))
                report[name] = outcome(fast::install(PyInstanceMethod_GET_FUNCTION(item.second.ptr())), "call");
        }
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
        std::cerr << "nubracore fast paths: on (" << builtWith() << ")\n";
        for (const auto& [name, what] : report)
            std::cerr << "nubracore fast paths: " << name << ": " << what << '\n';
    }
#else
    if (fastPathSetting == "report")
        std::cerr << "nubracore fast paths: compiled out (they need pybind11 2.10.3 and CPython 3.11 to 3.15; built with "
                  << builtWith() << ")\n";
#endif
}

} // namespace Nubra::Python
