#pragma once
// Each overload's parameter kinds, taken from its C++ parameter types where
// it is registered: what the fast call path needs to know to predict which
// overload pybind11 would choose for given argument types.
//
// Built on pybind11 2.10.3's internals: the function objects it makes
// (functions.h), to whose record chain a new overload is appended;
// function_signature_t.

#include <complex>
#include <concepts>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "direct.h"
#include "functions.h"
#include "scalars.h"
#include "switch.h"

namespace Nubra::Python {

namespace py = pybind11;
namespace pyd = pybind11::detail;

enum class Kind : uint8_t {
    real,     // float, double
    complex,  // std::complex
    index,    // size_t
    slice,    // py::slice
    instance, // a class of the module
    other,    // loaded by what the value holds, never by its type alone
};

// The kind of each parameter type; a type with none doesn't compile.
template <class T>
struct KindOf;
template <class T>
    requires std::floating_point<T>
struct KindOf<T> {
    static constexpr Kind kind = Kind::real;
};
template <class T>
struct KindOf<std::complex<T>> {
    static constexpr Kind kind = Kind::complex;
};
template <>
struct KindOf<size_t> {
    static constexpr Kind kind = Kind::index;
};
template <>
struct KindOf<py::slice> {
    static constexpr Kind kind = Kind::slice;
};
template <ModuleClass T>
struct KindOf<T> {
    static constexpr Kind kind = Kind::instance;
};
template <class A, class B>
struct KindOf<std::pair<A, B>> {
    static constexpr Kind kind = Kind::other;
};
template <class T>
struct KindOf<std::vector<T>> {
    static constexpr Kind kind = Kind::other;
};

struct Parameter {
    Kind kind;
    const std::type_info* type; // of an instance parameter
};

template <class T>
Parameter parameter()
{
    using Bare = std::remove_cvref_t<std::remove_pointer_t<std::remove_cvref_t<T>>>;
    return {KindOf<Bare>::kind, &typeid(Bare)};
}

// The parameters of a callable as pybind11 binds it: a member function
// takes its object first.
template <class F>
struct Signature : Signature<pyd::function_signature_t<F>> {};
template <class R, class... A>
struct Signature<R(A...)> {
    static std::vector<Parameter> parameters() { return {parameter<A>()...}; }

#if NUBRA_FAST_PATHS
    // The direct call of f, where it is a lambda without captures whose
    // parameters are all scalars, indices or instances and whose result is
    // a value; null otherwise.
    template <class F>
    static DirectCall direct()
    {
        constexpr auto loadable = [](Kind kind) { return kind != Kind::slice && kind != Kind::other; };
        if constexpr (std::is_empty_v<F> && std::is_default_constructible_v<F> && !std::is_reference_v<R>
                      && !std::is_pointer_v<R> && (loadable(KindOf<std::remove_cvref_t<A>>::kind) && ...))
            return callDirect<F, R, A...>;
        else
            return nullptr;
    }
#endif
};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...)> : Signature<R(C&, A...)> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) const> : Signature<R(const C&, A...)> {};

#if NUBRA_FAST_PATHS
// What def recorded of an overload.
struct Registered {
    std::vector<Parameter> parameters;
    DirectCall direct;
};
inline std::unordered_map<const pyd::function_record*, Registered> registeredOverloads;
#endif

// Registers f as an overload of name on a module or class, as their own def
// does, and records its parameters where the fast paths are built in.
template <class Target, class F, class... Extra>
void def(Target& target, const char* name, F&& f, const Extra&... extra)
{
    using Bound = Signature<std::decay_t<F>>;
    std::vector<Parameter> parameters = Bound::parameters();
    target.def(name, std::forward<F>(f), extra...);
#if NUBRA_FAST_PATHS
    PyObject* function = py::getattr(target, name).ptr();
    if (PyInstanceMethod_Check(function))
        function = PyInstanceMethod_GET_FUNCTION(function); // a class's method
    pyd::function_record* record = recordsOf(function);
    if (record == nullptr)
        return; // not pybind11's function object: the fast paths will say so
    while (record->next != nullptr)
        record = record->next;
    registeredOverloads.emplace(record, Registered{std::move(parameters), Bound::template direct<std::decay_t<F>>()});
#endif
}

} // namespace Nubra::Python
