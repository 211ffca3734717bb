#pragma once
// The fast call path: a call whose argument types alone decide which
// overload pybind11 would choose, and in which pass, goes straight to that
// overload's impl; every other call goes to pybind11's dispatcher as it
// would without this path, so results, errors and messages stay the same.
//
// Built on pybind11 2.10.3's internals:
//   - the function objects it makes (functions.h);
//   - function_record: impl, next, nargs, args, is_method, is_constructor,
//     is_operator, has_args, has_kwargs, signature;
//   - detail::function_call, reference_cast_error,
//     PYBIND11_TRY_NEXT_OVERLOAD, raise_from;
//   - what its casters load with and without conversion: float from float,
//     and from int or bool with conversion; complex from complex, and from
//     int, bool or float with conversion; size_t from int or bool; slice from
//     slice; a class from an instance of it;
//   - the dispatcher's rules: a single overload is tried once with
//     conversion; several are tried in order without conversion, then in
//     order with conversion where they have an argument besides self; every
//     argument of an overload is loaded before it is refused; a null result
//     is reported as "Unable to convert function return value ...".
// And on CPython's METH_FASTCALL | METH_KEYWORDS calling convention.

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "functions.h"
#include "kinds.h"
#include "switch.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python::fast {

constexpr Py_ssize_t maxArgs = 5;

// Types whose loading into each kind of parameter is decided by the type
// alone, without running code of the object's own: these builtins and the
// module's classes (added at install).
inline std::vector<PyTypeObject*> knownTypes = {&PyLong_Type,  &PyBool_Type,  &PyFloat_Type, &PyComplex_Type,
                                                Py_TYPE(Py_None), &PyUnicode_Type, &PyBytes_Type, &PySlice_Type,
                                                &PyTuple_Type, &PyList_Type};

struct Slot {
    Kind kind;
    PyTypeObject* type; // of an instance parameter
};

enum class Outcome : uint8_t { accept, refuse, depends };

// What a parameter does with an argument of exact type t: accept means it
// loads unless the value decides otherwise (an int too large, an instance
// never constructed), and then the call goes to the dispatcher after all.
inline Outcome loadOutcome(const Slot& slot, PyTypeObject* t, bool convert)
{
    const bool integer = t == &PyLong_Type || t == &PyBool_Type;
    bool loads = false;
    switch (slot.kind) {
    case Kind::real:
        loads = t == &PyFloat_Type || (convert && integer);
        break;
    case Kind::complex:
        loads = t == &PyComplex_Type || (convert && (integer || t == &PyFloat_Type));
        break;
    case Kind::index:
        loads = integer;
        break;
    case Kind::slice:
        loads = t == &PySlice_Type;
        break;
    case Kind::instance:
        loads = t == slot.type;
        break;
    case Kind::other:
        return Outcome::depends;
    }
    return loads ? Outcome::accept : Outcome::refuse;
}

// Calls impl as pybind11's dispatcher does; tryNext when the overload
// refuses the arguments. Arguments of the known types load without
// temporaries, so no loader_life_support frame is needed.
inline PyObject* invoke(pyd::function_call& prepared)
{
    return translated([&]() -> PyObject* {
        py::handle result;
        try {
            result = prepared.func.impl(prepared);
        } catch (py::reference_cast_error&) {
            return tryNext;
        }
        return result ? result.ptr() : unconvertible(prepared.func);
    });
}

struct Overload {
    Overload(const pyd::function_record& record, std::vector<Slot> slots, DirectCall direct)
        : slots(std::move(slots)), direct(direct), prepared(record, py::handle())
    {
        convertible = this->slots.size() > (record.is_method ? 1u : 0u);
        prepared.args.resize(this->slots.size());
        prepared.args_convert.resize(this->slots.size(), false);
    }

    // Calls the overload's impl with as many arguments as it has
    // parameters, or returns tryNext when it refuses them or is already
    // running further up the stack (its call record is in use).
    PyObject* operator()(PyObject* const* args, bool convert)
    {
        if (busy)
            return tryNext;
        struct Running {
            bool& busy;
            explicit Running(bool& busy) : busy(busy) { busy = true; }
            ~Running() { busy = false; }
        } running(busy);
        py::handle* to = prepared.args.data();
        for (size_t i = 0; i < slots.size(); ++i)
            to[i] = args[i];
        if (convert != converting) {
            std::fill(prepared.args_convert.begin(), prepared.args_convert.end(), convert);
            converting = convert;
        }
        prepared.parent = slots.empty() ? nullptr : args[0];
        return invoke(prepared);
    }

    std::vector<Slot> slots;
    DirectCall direct; // or null: called through its impl
    bool convertible; // tried in the conversion pass
    pyd::function_call prepared; // the call record, refilled for each call
    bool busy = false;
    bool converting = false; // what prepared.args_convert holds
};

// Which overload, in which pass, pybind11 would load arguments of some
// exact types into.
struct Resolution {
    bool found = false; // otherwise the dispatcher decides
    bool cacheable = false; // decided by the types alone
    uint16_t overload = 0;
    bool convert = false;
};

// The overload chain of one function, with a cache of what argument types
// decided. Only type-decided outcomes are cached, and a full cache evicts,
// so unusual calls can't crowd out common ones.
struct Function {
    struct Entry {
        std::array<PyTypeObject*, maxArgs> types{};
        Py_ssize_t count = -1;
        Resolution resolution;

        bool holds(PyObject* const* args, Py_ssize_t nargs) const
        {
            if (count != nargs)
                return false;
            for (Py_ssize_t i = 0; i < nargs; ++i)
                if (types[i] != Py_TYPE(args[i]))
                    return false;
            return true;
        }
    };
    static constexpr size_t cacheSize = 64, probes = 4;

    // The cache's entry for these types, or what they decide, cached; the
    // latest hit is checked before, by the caller.
    Resolution lookUp(PyObject* const* args, Py_ssize_t nargs)
    {
        size_t hash = nargs;
        for (Py_ssize_t i = 0; i < nargs; ++i)
            hash = (hash ^ (reinterpret_cast<uintptr_t>(Py_TYPE(args[i])) >> 4)) * 0x9E3779B97F4A7C15u;
        hash >>= 32;
        for (size_t probe = 0; probe < probes; ++probe) {
            Entry& entry = cache[(hash + probe) % cacheSize];
            if (entry.holds(args, nargs))
                return (last = &entry)->resolution;
            if (entry.count < 0)
                break;
        }
        const Resolution resolution = decide(args, nargs);
        if (resolution.cacheable) {
            Entry* slot = &cache[hash % cacheSize];
            for (size_t probe = 0; probe < probes; ++probe)
                if (cache[(hash + probe) % cacheSize].count < 0) {
                    slot = &cache[(hash + probe) % cacheSize];
                    break;
                }
            slot->count = nargs;
            for (Py_ssize_t i = 0; i < nargs; ++i)
                slot->types[i] = Py_TYPE(args[i]);
            slot->resolution = resolution;
        }
        return resolution;
    }

    // The overload and pass in which pybind11 would load arguments of these
    // types, when the types alone decide it.
    Resolution decide(PyObject* const* args, Py_ssize_t nargs) const
    {
        for (Py_ssize_t i = 0; i < nargs; ++i)
            if (std::find(knownTypes.begin(), knownTypes.end(), Py_TYPE(args[i])) == knownTypes.end())
                return {};
        const bool overloaded = overloads.size() > 1;
        for (const bool convert : {false, true}) {
            if (!overloaded && !convert)
                continue; // a single overload is tried once, with conversion
            for (size_t k = 0; k < overloads.size(); ++k) {
                const Overload& overload = overloads[k];
                if (static_cast<Py_ssize_t>(overload.slots.size()) != nargs
                    || (overloaded && convert && !overload.convertible))
                    continue;
                Outcome all = Outcome::accept;
                for (Py_ssize_t i = 0; i < nargs; ++i) {
                    const Outcome one = loadOutcome(overload.slots[i], Py_TYPE(args[i]), convert);
                    if (one == Outcome::depends)
                        return {false, true};
                    if (one == Outcome::refuse)
                        all = Outcome::refuse;
                }
                if (all == Outcome::accept)
                    return {true, true, static_cast<uint16_t>(k), convert};
            }
        }
        return {false, true};
    }

    std::vector<Overload> overloads;
    std::array<Entry, cacheSize> cache{};
    const Entry* last = &cache[0]; // the entry of the latest hit, checked first
    Dispatcher dispatcher; // pybind11's, for what this can't decide
};

// Calls overload through its impl, or the dispatcher where it refuses.
[[gnu::noinline]] inline PyObject* callImpl(Function& function, Overload& overload, bool convert, PyObject* const* args,
                                            Py_ssize_t nargs, PyObject* kwnames)
{
    PyObject* result = overload(args, convert);
    if (result != tryNext)
        return result;
    return callDispatcher(function.dispatcher.meth, function.dispatcher.self, args, nargs, kwnames);
}

// Calls function as resolution says, for a call without keywords. No
// recursion check, as none in CPython's specialised calls of C functions:
// Python code the overload runs checks its depth.
inline PyObject* callResolved(Function& function, const Resolution& resolution, PyObject* const* args, Py_ssize_t nargs)
{
    if (!resolution.found)
        return callDispatcher(function.dispatcher.meth, function.dispatcher.self, args, nargs, nullptr);
    Overload& overload = function.overloads[resolution.overload];
    if (overload.direct != nullptr)
        return overload.direct(args, nargs, nullptr, function.dispatcher, overload.prepared.func);
    return callImpl(function, overload, resolution.convert, args, nargs, nullptr);
}

// A call whose argument types are not the latest hit's: out of line, so that
// a repeated call makes no call but its last.
[[gnu::noinline]] inline PyObject* callLookedUp(Function& function, PyObject* const* args, Py_ssize_t nargs,
                                                PyObject* kwnames)
{
    if ((kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) && nargs <= maxArgs)
        return callResolved(function, function.lookUp(args, nargs), args, nargs);
    return callDispatcher(function.dispatcher.meth, function.dispatcher.self, args, nargs, kwnames);
}

// Calls function as pybind11 would.
inline PyObject* callFast(Function& function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    if (kwnames == nullptr && function.last->holds(args, nargs))
        return callResolved(function, function.last->resolution, args, nargs);
    return callLookedUp(function, args, nargs, kwnames);
}

// The function objects' entries. Each is a METH_FASTCALL | METH_KEYWORDS
// function of its own, which knows its Function without a lookup and
// which CPython's specialising interpreter calls directly.
constexpr size_t maxFunctions = 256;
inline std::array<Function*, maxFunctions> functions{};

template <size_t I>
PyObject* entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    return callFast(*functions[I], args, nargs, kwnames);
}

template <size_t... I>
constexpr std::array<PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*), sizeof...(I)>
entries(std::index_sequence<I...>)
{
    return {entry<I>...};
}

// The method definition a function object gets, with its Function.
struct MethodDef {
    PyMethodDef def;
    Function* function;
};

// The function object's vectorcall: CPython's calls other than its
// specialised ones of METH_FASTCALL functions.
inline PyObject* callThroughObject(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    Function& function = *reinterpret_cast<MethodDef*>(reinterpret_cast<PyCFunctionObject*>(callable)->m_ml)->function;
    return callFast(function, args, PyVectorcall_NARGS(nargsf), kwnames);
}

// Gives a function object of plain positional overloads the fast call, if
// it is what this path was written for; otherwise leaves it as it is and
// says why not.
inline std::string installCall(PyObject* object)
{
    static constexpr auto fastEntries = entries(std::make_index_sequence<maxFunctions>());
    static size_t installed = 0;
    const pyd::function_record* records = recordsOf(object);
    if (records != nullptr && records->is_constructor)
        return "a constructor";
    PyCFunctionObject* cfunction = asMade(object);
    if (cfunction == nullptr)
        return "not a function object as pybind11 makes them";
    if (installed == maxFunctions)
        return "more than " + std::to_string(maxFunctions) + " functions";
    auto function = std::make_unique<Function>();
    for (const pyd::function_record* record = records; record != nullptr; record = record->next) {
        if (!record->args.empty() || record->has_args || record->has_kwargs || record->is_operator
            || record->nargs > maxArgs)
            return "an overload with named, variadic or more than 5 parameters";
        const auto recorded = registeredOverloads.find(record);
        if (recorded == registeredOverloads.end() || recorded->second.parameters.size() != record->nargs)
            return "an overload registered without its parameter kinds";
        std::vector<Slot> slots;
        for (const Parameter& parameter : recorded->second.parameters) {
            if (parameter.kind == Kind::other)
                return "a parameter loaded by its value";
            const pyd::type_info* info = parameter.kind == Kind::instance ? pyd::get_type_info(*parameter.type) : nullptr;
            if (parameter.kind == Kind::instance && info == nullptr)
                return "a parameter of an unregistered class";
            slots.push_back({parameter.kind, info ? info->type : nullptr});
        }
        function->overloads.emplace_back(*record, std::move(slots), recorded->second.direct);
    }
    function->dispatcher = {reinterpret_cast<PyCFunctionWithKeywords>(reinterpret_cast<void (*)()>(cfunction->m_ml->ml_meth)),
                            cfunction->m_self};
    functions[installed] = function.get();
    PyMethodDef def = *cfunction->m_ml;
    def.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fastEntries[installed++]));
    def.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    cfunction->m_ml = &(new MethodDef{def, function.release()})->def;
    cfunction->vectorcall = callThroughObject;
    return {};
}

} // namespace Nubra::Python::fast

#endif
