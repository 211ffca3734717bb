#pragma once
// The call layer's def: registers an overload or a constructor on a module
// or class as pybind11's own def does, and makes there and then everything
// the call layer has of it:
//   - the class's record, at the first registration on it (guards.h, and
//     with the fast paths on its registry-free results);
//   - the records of the bounded message on pybind11's function object
//     (adapter.h, message.h), in every build;
//   - the function object that is the attribute: pybind11's own, or one of
//     the layer's (call.h): an __init__ guard in every build; with the fast
//     paths on, the fast call with each overload's parameter kinds and
//     direct call, or a model's element access;
//   - element access on the class, once its subscript methods are there.
// Nothing after registration looks a function up again. The module's
// registration code includes this header and nothing else of the layer.
// It reaches pybind11's internals through the adapter's interface
// (adapter.h) only, and pybind11's public API besides.

#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include <pybind11/pybind11.h>

#include "adapter.h"
#include "call.h"
#include "element_access.h"
#include "fast_paths.h"
#include "guards.h"
#include "loading.h"
#include "message.h"
#include "results.h"
#include "scalars.h"
#include "state.h"

namespace Nubra::Python {

namespace py = pybind11;

namespace registration {

// The parameters and result of a callable as pybind11 binds it: a member
// function takes its object first.
template <class R, class... A>
struct Parameters {
    using Result = R;
    using List = std::tuple<A...>;
};

template <class M>
struct CallOperator;
template <class R, class L, class... A>
struct CallOperator<R (L::*)(A...) const> : Parameters<R, A...> {};
template <class R, class L, class... A>
struct CallOperator<R (L::*)(A...)> : Parameters<R, A...> {};

template <class F>
struct Signature : CallOperator<decltype(&F::operator())> {};
template <class R, class... A>
struct Signature<R (*)(A...)> : Parameters<R, A...> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...)> : Parameters<R, C&, A...> {};
template <class R, class C, class... A>
struct Signature<R (C::*)(A...) const> : Parameters<R, const C&, A...> {};

template <class T>
struct IsClass : std::false_type {
    using Type = void;
};
template <class C>
struct IsClass<py::class_<C>> : std::true_type {
    using Type = C;
};

inline std::string nameOf(py::handle type)
{
    return py::str(type.attr("__name__"));
}

inline std::string reported(const std::string& whyNot, const char* what)
{
    return whyNot.empty() ? what : "none (" + whyNot + ")";
}

// Fills the record of C at the first registration on its class: its type,
// the class guard; with the fast paths on, its instances' layout and the
// registry-free results of its operations.
template <ModuleClass C>
void prepare(py::class_<C>& cls)
{
    ClassRecord<C>& record = classRecord<C>();
    if (record.type != nullptr)
        return;
    PyTypeObject* type = record.type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    guardClass<C>(type);
#if NUBRA_FAST_PATHS
    if (!fastPaths)
        return;
    if (!adapter::simpleLayout(type)) {
        state.report[nameOf(cls)] = "none (instances not in the simple layout)";
        return;
    }
    record.simpleType = type;
    if constexpr (!std::is_same_v<C, Onnx::Model>)
        state.report[nameOf(cls) + " results"] = reported(makeResultsRegistryFree<C>(type), "registry-free");
#endif
}

#if NUBRA_FAST_PATHS
// The direct call of f, or why it has none.
template <class F, class R, class... A>
fast::Overload overload(const F& f, std::string& whyNot, std::tuple<A...>*)
{
    constexpr bool positional = ((kindOf<A> != Kind::other) && ...);
    if constexpr (sizeof...(A) > fast::maxArgs)
        whyNot = "more than 5 parameters";
    else if constexpr (!positional)
        whyNot = "a parameter loaded by its value";
    else if constexpr (std::is_reference_v<R> || std::is_pointer_v<R>)
        whyNot = "a result by reference";
    else if constexpr (!std::is_trivially_copyable_v<F> || sizeof(F) > sizeof(fast::Overload::callable)
                       || alignof(F) > alignof(fast::Overload))
        whyNot = "a function with state";
    else {
        fast::Overload made{fast::callDirect<F, R, A...>};
        size_t i = 0;
        const auto slot = [&]<class P>() {
            PyTypeObject* type = nullptr;
            if constexpr (kindOf<P> == Kind::instance)
                if ((type = classRecord<fast::Bare<P>>().simpleType) == nullptr)
                    whyNot = "a parameter of a class not registered, or outside the fast paths";
            made.slots[i++] = {kindOf<P>, type};
        };
        (slot.template operator()<A>(), ...);
        made.arity = sizeof...(A);
        new (made.callable) F(f);
        return made;
    }
    return {};
}

// Gives the layer's function object ours, or a new one, the overload f
// with pybind11's signature; the function object for the attribute, or
// null where pybind11's is, and why then.
template <class F, class Bound>
py::object fastCall(Function* ours, py::handle current, const F& f, bool method, py::handle made, py::handle module,
                    std::string& whyNot, const char*& what)
{
    fast::Overload direct = overload<F, typename Bound::Result>(f, whyNot, static_cast<typename Bound::List*>(nullptr));
    Entry entry = fast::modelAccess(f);
    what = entry ? "model access" : "call";
    if (entry != nullptr)
        whyNot.clear();
    else if (whyNot.empty())
        entry = fast::callFast;
    if (entry == nullptr)
        return {};
    py::object function = ours ? py::reinterpret_borrow<py::object>(current) : makeFunctionObject(made, entry, module);
    if (entry == fast::callFast) {
        direct.convertible = direct.arity > (method ? 1 : 0);
        direct.signature = adapter::newestSignature(made.ptr());
        fast::append(*layerFunction(function.ptr()), direct);
    }
    return function;
}

// Gives a container's class element access once pybind11 has made its
// __getitem__ and __setitem__.
template <class C>
void afterSubscript(PyTypeObject* type, const char* name)
{
    if (!fastPaths || classRecord<C>().simpleType == nullptr)
        return;
    if (std::strcmp(name, "__getitem__") == 0 || std::strcmp(name, "__setitem__") == 0)
        state.report[nameOf(py::handle(reinterpret_cast<PyObject*>(type))) + "[]"] =
            reported(fast::installElementAccess<C>(type, name), "element access");
}
#endif

} // namespace registration

// Registers f as an overload of name on a module or class, as their own
// def does.
template <class Target, class F, class... Extra>
void def(Target& target, const char* name, F&& f, const Extra&... extra)
{
    static_assert((std::is_convertible_v<Extra, const char*> && ...),
                  "def binds positional parameters, and takes a docstring at most besides");
    using Callable = std::decay_t<F>;
    using Bound = registration::Signature<Callable>;
    constexpr bool method = registration::IsClass<Target>::value;
    std::string qualified = name;
    if constexpr (method) {
        if constexpr (ModuleClass<typename registration::IsClass<Target>::Type>)
            registration::prepare(target);
        qualified = registration::nameOf(target) + "." + name;
    }
    const py::object current = adapter::functionNamed(target, name);
    Function* ours = layerFunction(current.ptr());
    const py::object sibling = ours ? ours->made : current;
    [[maybe_unused]] const bool fresh = ours == nullptr && adapter::recordsOf(current.ptr()) == nullptr;
    [[maybe_unused]] const Callable callable = f;
    adapter::Record* message = adapter::detachMessage(sibling.ptr());
    const py::object made = adapter::unwrapped(adapter::makeFunction(target, name, std::forward<F>(f), sibling, extra...));
    adapter::attachMessage(made.ptr(), message, message::render);

    py::object attribute = made;
#if NUBRA_FAST_PATHS
    if (fastPaths && (ours != nullptr || fresh)) {
        std::string whyNot;
        const char* what;
        py::object function = registration::fastCall<Callable, Bound>(
            ours, current, callable, method, made, method ? target.attr("__module__") : target.attr("__name__"),
            whyNot, what);
        state.report[qualified] = registration::reported(whyNot, what);
        if (function)
            attribute = function;
    }
#endif
    adapter::setAttribute(target, name, attribute);
    if (Function* function = layerFunction(attribute.ptr()))
        function->method.ml_doc = adapter::docOf(made.ptr());
    if constexpr (method && ModuleClass<typename registration::IsClass<Target>::Type>) {
        using C = typename registration::IsClass<Target>::Type;
        if (std::strcmp(name, "__repr__") == 0)
            Py_XSETREF(classRecord<C>().repr, py::getattr(target, name).release().ptr());
#if NUBRA_FAST_PATHS
        if constexpr (!std::is_same_v<C, Onnx::Model>)
            registration::afterSubscript<C>(reinterpret_cast<PyTypeObject*>(target.ptr()), name);
#endif
    }
}

// Registers a constructor, py::init<...>(), on a class as its own def does,
// with its __init__ guarded.
template <class C, class Init>
void def(py::class_<C>& cls, Init&& init)
{
    if constexpr (ModuleClass<C>)
        registration::prepare(cls);
    py::object guard = adapter::functionNamed(cls, "__init__");
    Function* ours = layerFunction(guard.ptr());
    if (ours != nullptr)
        adapter::setAttribute(cls, "__init__", ours->made); // for pybind11 to chain to
    adapter::Record* message = adapter::detachMessage(ours ? ours->made.ptr() : guard.ptr());
    cls.def(std::forward<Init>(init));
    const py::object made = adapter::functionNamed(cls, "__init__");
    adapter::attachMessage(made.ptr(), message, message::render);
    if (ours == nullptr) {
        guard = makeFunctionObject(made, initOnce, cls.attr("__module__"));
        layerFunction(guard.ptr())->guarded = reinterpret_cast<PyTypeObject*>(cls.ptr());
    }
    adapter::setAttribute(cls, "__init__", guard);
    layerFunction(guard.ptr())->method.ml_doc = adapter::docOf(made.ptr());
    state.report[registration::nameOf(cls) + ".__init__"] = "guarded";
}

} // namespace Nubra::Python
