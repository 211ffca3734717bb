#pragma once
// The call path: the function objects the layer makes, and the fast call.
//
// A function object of the layer's is a builtin function (METH_FASTCALL |
// METH_KEYWORDS, which CPython's specialising interpreter calls straight)
// whose self is its Function: the entry picked when it was made (the fast
// call, an __init__ guard, a model's element access) and pybind11's
// function object of the same overloads, `made`, whose dispatcher takes
// whatever the entry leaves.
//
// The fast call: a call whose argument types alone decide which overload
// pybind11 would choose, and in which pass, goes straight to that overload's
// direct call: its arguments loaded by the rules (loading.h), its C++
// function called and its result cast as pybind11 does. Any other call, and
// an argument whose value the casters would refuse (an int out of range, an
// instance never constructed), goes to pybind11's dispatcher, so results,
// errors and messages stay the same. What argument types decided is cached
// per function; only type-decided outcomes are, and a full cache evicts, so
// unusual calls can't crowd out common ones.
//
// It touches pybind11's and CPython's internals through the adapter's
// interface (adapter.h) only, and builtin function objects through the C
// API.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "fast_paths.h"
#include "loading.h"
#include "results.h"
#include "state.h"

namespace Nubra::Python {

// What a function object's entry is: CPython's METH_FASTCALL | METH_KEYWORDS
// convention, self being the object's Function.
using Entry = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

struct Function;

#if NUBRA_FAST_PATHS
namespace fast {

constexpr Py_ssize_t maxArgs = 5;

struct Slot {
    Kind kind;
    PyTypeObject* type; // of an instance parameter: its class
};

struct Overload;

// What a call of some argument types does: a direct call of an overload, or
// pybind11's dispatcher.
struct Choice;
using Call = PyObject* (*)(Function& function, const Choice& choice, PyObject* const* args, Py_ssize_t nargs);

// An empty cache entry's call: it looks the argument types up.
inline PyObject* unknown(Function& function, const Choice& choice, PyObject* const* args, Py_ssize_t nargs);
// A choice of no overload: pybind11's dispatcher raises its error.
inline PyObject* refused(Function& function, const Choice& choice, PyObject* const* args, Py_ssize_t nargs);

struct Choice {
    std::array<PyTypeObject*, maxArgs> types{};
    Py_ssize_t count = -1; // of types; -1 for an empty cache entry
    Call call = unknown;
    const Overload* overload = nullptr;

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

struct Overload {
    Call call;                          // its direct call
    std::array<Slot, maxArgs> slots{};  // its parameters
    Py_ssize_t arity = 0;
    bool convertible = false;           // tried in the conversion pass: an argument besides self
    const char* signature = nullptr;    // pybind11's, for a result that can't be cast
    alignas(16) std::byte callable[16]; // the C++ function: a copy, trivially copyable

    template <class F>
    const F& function() const
    {
        return *std::launder(reinterpret_cast<const F*>(callable));
    }
};

// A function's overloads, in registration order, and what argument types
// decided. Calls check the choice of the latest call first.
struct Overloads {
    static constexpr size_t cacheSize = 64, probes = 4;

    std::vector<Overload> list;
    std::array<Choice, cacheSize> cache{};
    const Choice* last;
};

} // namespace fast
#endif

struct Function {
    PyMethodDef method;            // the name and docstring pybind11 made, the entry
    py::object made;               // pybind11's function object of the same overloads
    adapter::Dispatcher dispatcher; // made's
    PyTypeObject* guarded = nullptr; // the class whose __init__ this is (guards.h)
#if NUBRA_FAST_PATHS
    fast::Overloads overloads;
#endif

    PyObject* dispatch(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
    {
        return adapter::callDispatcher(dispatcher, args, nargs, kwnames);
    }
};

// A function object's self: its Function, in memory of CPython's.
struct FunctionObject {
    PyObject_HEAD
    alignas(Function) std::byte storage[sizeof(Function)];
};

inline Function& functionOf(PyObject* self)
{
    return *std::launder(reinterpret_cast<Function*>(reinterpret_cast<FunctionObject*>(self)->storage));
}

inline void deallocateFunction(PyObject* self)
{
    PyTypeObject* type = Py_TYPE(self);
    std::destroy_at(&functionOf(self));
    PyObject_Free(self);
    Py_DECREF(type);
}

// The Function of a function object the layer made, or null.
inline Function* layerFunction(PyObject* object)
{
    if (object == nullptr || !PyCFunction_Check(object))
        return nullptr;
    PyObject* self = PyCFunction_GET_SELF(object);
    return self != nullptr && Py_TYPE(self) == state.functionType ? &functionOf(self) : nullptr;
}

#if NUBRA_FAST_PATHS
// CPython's calls other than its specialised ones of builtin functions:
// the entry itself, without their recursion check, as in those (Python
// code the call runs checks its depth).
inline PyObject* callThroughObject(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const auto entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(PyCFunction_GET_FUNCTION(callable)));
    return entry(PyCFunction_GET_SELF(callable), args, PyVectorcall_NARGS(nargsf), kwnames);
}
#endif

// A new function object for the overloads of made, pybind11's function
// object, entered through entry.
inline py::object makeFunctionObject(py::handle made, Entry entry, py::handle module)
{
    if (state.functionType == nullptr) {
        static PyType_Slot slots[] = {{Py_tp_dealloc, reinterpret_cast<void*>(deallocateFunction)}, {0, nullptr}};
        static PyType_Spec overloadsType = {"nubracore.overloads", sizeof(FunctionObject), 0,
                                            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
        if ((state.functionType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&overloadsType))) == nullptr)
            throw py::error_already_set();
    }
    auto* self = PyObject_New(FunctionObject, state.functionType);
    if (self == nullptr)
        throw py::error_already_set();
    Function* function = new (self->storage) Function{
        {adapter::nameOf(made.ptr()), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
         METH_FASTCALL | METH_KEYWORDS, adapter::docOf(made.ptr())},
        py::reinterpret_borrow<py::object>(made), adapter::dispatcherOf(made.ptr())};
    auto callable = py::reinterpret_steal<py::object>(
        PyCMethod_New(&function->method, reinterpret_cast<PyObject*>(self), module.ptr(), nullptr));
    Py_DECREF(self);
    if (!callable)
        throw py::error_already_set();
#if NUBRA_FAST_PATHS
    function->overloads.last = &function->overloads.cache[0];
    adapter::setVectorcall(callable.ptr(), callThroughObject);
#endif
    return callable;
}

#if NUBRA_FAST_PATHS
namespace fast {

// --- choosing ---------------------------------------------------------------------

// Whether the module's classes include type, with instances the fast paths
// take.
inline bool moduleClass(PyTypeObject* type)
{
    return std::apply([&](const auto&... record) { return ((record.simpleType == type) || ...); }, state.classes);
}

// Which overload, in which pass, pybind11 would load arguments of these
// exact types into: cacheable if the types alone decide it, null if none.
struct Resolution {
    bool cacheable = false;
    const Overload* overload = nullptr;
};

inline Resolution decide(const Overloads& overloads, PyObject* const* args, Py_ssize_t nargs)
{
    for (Py_ssize_t i = 0; i < nargs; ++i)
        if (builtinOf(Py_TYPE(args[i])) == Builtin::none && !moduleClass(Py_TYPE(args[i])))
            return {};
    const bool overloaded = overloads.list.size() > 1;
    for (const Pass pass : {Pass::first, Pass::second}) {
        if (!overloaded && pass == Pass::first)
            continue; // a single overload is tried once, with conversion
        for (const Overload& overload : overloads.list) {
            if (overload.arity != nargs || (overloaded && pass == Pass::second && !overload.convertible))
                continue;
            bool all = true;
            for (Py_ssize_t i = 0; i < nargs && all; ++i) {
                const Slot& slot = overload.slots[i];
                PyTypeObject* type = Py_TYPE(args[i]);
                all = slot.kind == Kind::instance ? type == slot.type : loads(slot.kind, builtinOf(type), pass);
            }
            if (all)
                return {true, &overload};
        }
    }
    return {true, nullptr};
}

// The call that argument types not the latest call's take: looked up in the
// cache, or decided and cached; out of line, so that a repeated call makes
// no call but its last.
[[gnu::noinline]] inline PyObject* lookUp(Function& function, PyObject* const* args, Py_ssize_t nargs)
{
    Overloads& overloads = function.overloads;
    if (nargs > maxArgs)
        return function.dispatch(args, nargs, nullptr);
    size_t hash = nargs;
    for (Py_ssize_t i = 0; i < nargs; ++i)
        hash = (hash ^ (reinterpret_cast<uintptr_t>(Py_TYPE(args[i])) >> 4)) * 0x9E3779B97F4A7C15u;
    hash >>= 32;
    Choice* slot = &overloads.cache[hash % Overloads::cacheSize];
    for (size_t probe = 0; probe < Overloads::probes; ++probe) {
        Choice& choice = overloads.cache[(hash + probe) % Overloads::cacheSize];
        if (choice.holds(args, nargs)) {
            overloads.last = &choice;
            return choice.call(function, choice, args, nargs);
        }
        if (choice.count < 0) {
            slot = &choice;
            break;
        }
    }
    const Resolution resolution = decide(overloads, args, nargs);
    if (!resolution.cacheable)
        return function.dispatch(args, nargs, nullptr);
    slot->count = nargs;
    for (Py_ssize_t i = 0; i < nargs; ++i)
        slot->types[i] = Py_TYPE(args[i]);
    slot->overload = resolution.overload;
    slot->call = resolution.overload ? resolution.overload->call : refused;
    overloads.last = slot;
    return slot->call(function, *slot, args, nargs);
}

// --- direct calls ------------------------------------------------------------------

template <class A>
using Bare = std::remove_cvref_t<std::remove_pointer_t<std::remove_cvref_t<A>>>;

// What a parameter of type A holds once loaded: the native object of an
// instance, or the value.
template <class A>
using Held = std::conditional_t<ModuleClass<Bare<A>>, Bare<A>*, Bare<A>>;

// Loads an argument whose type the choice admitted for A. Inlined: the held
// arguments are value-initialised, and only inlined loads let the compiler
// drop the zeroing they overwrite (out of line, two complex scalars were
// zeroed by a `rep stos`, some 3 ns a call).
template <class A>
[[gnu::always_inline]] inline bool load(PyObject* object, Held<A>& held)
{
    if constexpr (ModuleClass<Bare<A>>)
        return (held = adapter::nativeOf<Bare<A>>(object)) != nullptr;
    else if constexpr (std::is_same_v<Bare<A>, py::slice>) {
        held = py::reinterpret_borrow<py::slice>(object);
        return true;
    } else
        return read(object, held);
}

template <class A, class H>
decltype(auto) argument(H& held)
{
    if constexpr (std::is_pointer_v<H> && !std::is_pointer_v<std::remove_cvref_t<A>>)
        return *held;
    else
        return (held);
}

// Calls f with everything it calls that can be inlined inlined: an
// operation's checks, and its scalars taken where they were loaded (a
// complex<float> passed by value across a call goes through memory in
// halves, then loads as a whole, which the store can't forward).
template <class F, class... A>
[[gnu::flatten]] decltype(auto) invokeInlined(const F& f, A&&... args)
{
    return std::invoke(f, std::forward<A>(args)...);
}

// The direct call of an overload F(A...) -> R: with the argument types of
// the choice, its arguments loaded, F called, its result cast.
template <class F, class R, class... A, size_t... I>
PyObject* callDirect(Function& function, const Choice& choice, PyObject* const* args, Py_ssize_t nargs,
                     std::index_sequence<I...>)
{
    if (nargs != sizeof...(A) || ((Py_TYPE(args[I]) != choice.types[I]) || ...))
        return lookUp(function, args, nargs);
    std::tuple<Held<A>...> held;
    if (!(load<A>(args[I], std::get<I>(held)) && ...))
        return function.dispatch(args, nargs, nullptr);
    const Overload& overload = *choice.overload;
    return adapter::translated([&]() -> PyObject* {
        if constexpr (std::is_void_v<R>) {
            invokeInlined(overload.function<F>(), argument<A>(std::get<I>(held))...);
            return Py_NewRef(Py_None);
        } else {
            PyObject* result = resultOf(invokeInlined(overload.function<F>(), argument<A>(std::get<I>(held))...));
            return result ? result : adapter::unconvertible(overload.signature);
        }
    });
}

template <class F, class R, class... A>
PyObject* callDirect(Function& function, const Choice& choice, PyObject* const* args, Py_ssize_t nargs)
{
    return callDirect<F, R, A...>(function, choice, args, nargs, std::index_sequence_for<A...>());
}

inline PyObject* refused(Function& function, const Choice& choice, PyObject* const* args, Py_ssize_t nargs)
{
    if (!choice.holds(args, nargs))
        return lookUp(function, args, nargs);
    return function.dispatch(args, nargs, nullptr);
}

inline PyObject* unknown(Function& function, const Choice&, PyObject* const* args, Py_ssize_t nargs)
{
    return lookUp(function, args, nargs);
}

[[gnu::noinline]] inline PyObject* callWithKeywords(Function& function, PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames)
{
    if (PyTuple_GET_SIZE(kwnames) == 0)
        return lookUp(function, args, nargs);
    return function.dispatch(args, nargs, kwnames);
}

// The fast call's entry.
inline PyObject* callFast(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    Function& function = functionOf(self);
    if (kwnames == nullptr) {
        const Choice& last = *function.overloads.last;
        return last.call(function, last, args, nargs);
    }
    return callWithKeywords(function, args, nargs, kwnames);
}

// Appends an overload to a function's fast call, and empties its cache.
inline void append(Function& function, const Overload& overload)
{
    Overloads& overloads = function.overloads;
    overloads.list.push_back(overload);
    overloads.cache.fill(Choice{});
    overloads.last = &overloads.cache[0];
}

} // namespace fast
#endif

} // namespace Nubra::Python
