#include "install.h"

#include <map>
#include <string>
#include <vector>

#include <boost/hana.hpp>

#include "cpython.h"
#include "guards.h"
#include "instance.h"
#include "record.h"
#include "results.h"
#include "scalars.h"
#include "switch.h"
#if NUBRA_FAST_PATHS
#include "fast_access.h"
#include "fast_call.h"
#endif

namespace Nubra::Python {

namespace hana = boost::hana;

namespace {

// What each function, method and class got, by name, for the report.
using Report = std::map<std::string, std::string>;

std::string reported(const std::string& whyNot, const char* what)
{
    return whyNot.empty() ? what : "none (" + whyNot + ")";
}

std::string version(int major, int minor)
{
    return std::to_string(major) + "." + std::to_string(minor);
}

// The versions the module was built with.
std::string builtWith()
{
    return "pybind11 " + version(PYBIND11_VERSION_MAJOR, PYBIND11_VERSION_MINOR) + "."
           + std::to_string(PYBIND11_VERSION_PATCH) + ", CPython " + version(PY_MAJOR_VERSION, PY_MINOR_VERSION);
}

#if !NUBRA_FAST_PATHS
// The versions the fast paths are written for.
std::string writtenFor()
{
    return "pybind11 " + version(NUBRA_PYBIND11_VERSION >> 24, (NUBRA_PYBIND11_VERSION >> 16) & 0xFF) + "."
           + std::to_string((NUBRA_PYBIND11_VERSION >> 8) & 0xFF) + " and CPython "
           + version(NUBRA_FIRST_PYTHON >> 8, NUBRA_FIRST_PYTHON & 0xFF) + " to "
           + version(NUBRA_LAST_PYTHON >> 8, NUBRA_LAST_PYTHON & 0xFF);
}
#endif

void tell(const std::string& line)
{
    PySys_WriteStderr("nubracore fast paths: %s\n", line.c_str());
}

#if NUBRA_FAST_PATHS
std::string nameOf(PyTypeObject* type)
{
    return py::str(py::handle(reinterpret_cast<PyObject*>(type)).attr("__name__"));
}

// Whether the instances of a class are in the simple layout: one class,
// its holder inline.
std::string simpleLayout(const pyd::type_info* info)
{
    if (pyd::all_type_info(info->type).size() != 1 || info->holder_size_in_ptrs > pyd::instance_simple_holder_in_ptrs())
        return "instances not in the simple layout";
    return {};
}

// Results of C made and freed by results.h, where its instances are
// allocated plainly with the default holder, and its __init__ is guarded.
template <class C>
std::string makeResultsRegistryFree(PyTypeObject* type)
{
    ClassRecord<C>& record = classRecord<C>;
    if (!pyd::get_type_info(type)->default_holder)
        return "not the default holder";
    if (type->tp_itemsize != 0 || (type->tp_flags & managedLayout) != 0 || type->tp_alloc != PyType_GenericAlloc)
        return "not allocated plainly";
    if (!record.initGuarded)
        return "__init__ not guarded";
    record.pybind11Dealloc = std::exchange(type->tp_dealloc, deallocate<C>);
    record.registryFree = true;
    return {};
}
#endif

// Fills the record of C, in order: its class, the class guard, the
// __init__ guard; with the fast paths on and its instances in the simple
// layout, element access (the model: access to its tensors) and
// registry-free results.
template <class C>
void fillRecord(Report& report)
{
    ClassRecord<C>& record = classRecord<C>;
    const pyd::type_info* info = pyd::get_type_info(typeid(C));
    if (info == nullptr) {
        report[py::type_id<C>()] = "none (not registered)";
        return;
    }
    PyTypeObject* type = record.type = info->type;
    guardClass<C>(type);
#if NUBRA_FAST_PATHS
    const std::string name = nameOf(type);
    const std::string whyNotGuarded = guardInit(type);
    record.initGuarded = whyNotGuarded.empty();
    if (PyDict_GetItemString(type->tp_dict, "__init__") != nullptr)
        report[name + ".__init__"] = reported(whyNotGuarded, "guarded");
    if (!fastPaths)
        return;
    fast::knownTypes.push_back(type);
    if (const std::string whyNot = simpleLayout(info); !whyNot.empty()) {
        report[name] = reported(whyNot, "");
        return;
    }
    record.simpleType = type;
    if constexpr (std::is_same_v<C, Onnx::Model>) {
        report["model.run"] = reported(fast::installModelMethod(type, "run", fast::modelRun), "model access");
        report["model.set"] = reported(fast::installModelMethod(type, "set", fast::modelSet), "model access");
        report["model.get"] = reported(fast::installModelMethod(type, "get", fast::modelGet), "model access");
    } else {
        report[name + "[]"] = reported(fast::installElementAccess<C>(type), "element access");
        report[name + " results"] = reported(makeResultsRegistryFree<C>(type), "registry-free");
    }
#endif
}

#if NUBRA_FAST_PATHS
// The fast call for the module's functions and its classes' methods.
void installCalls(const py::module_& m, Report& report)
{
    for (const auto item : m.attr("__dict__").cast<py::dict>())
        if (PyCFunction_Check(item.second.ptr()))
            report[item.first.cast<std::string>()] = reported(fast::installCall(item.second.ptr()), "call");
    hana::for_each(classSet, [&](auto c) {
        PyTypeObject* type = classRecord<typename decltype(c)::type>.type;
        if (type == nullptr)
            return;
        for (const auto item : py::reinterpret_borrow<py::dict>(type->tp_dict)) {
            const std::string name = nameOf(type) + "." + item.first.cast<std::string>();
            if (PyInstanceMethod_Check(item.second.ptr()) && !report.contains(name))
                report[name] = reported(fast::installCall(PyInstanceMethod_GET_FUNCTION(item.second.ptr())), "call");
        }
    });
}
#endif

} // namespace

void install([[maybe_unused]] py::module_& m)
{
    Report report;
    hana::for_each(classSet, [&](auto c) { fillRecord<typename decltype(c)::type>(report); });
#if NUBRA_FAST_PATHS
    if (!fastPaths)
        return;
    installCalls(m, report);
    if (fastPathSetting == "report") {
        tell("on (" + builtWith() + ")");
        for (const auto& [name, what] : report)
            tell(name + ": " + what);
    }
#else
    if (fastPathSetting == "report")
        tell("compiled out (they need " + writtenFor() + "; built with " + builtWith() + ")");
#endif
}

} // namespace Nubra::Python
