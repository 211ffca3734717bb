#pragma once
// The adapter: every use of pybind11's internals (its detail namespace) and
// of CPython's struct fields, each layout assumption checked beside the
// code that reads it. The rest of the call layer reads the interface below.
//
// pybind11, the release pyproject.toml names (asserted below):
//   - function objects: builtin functions (METH_VARARGS | METH_KEYWORDS, its
//     dispatcher) whose self is a capsule holding a chain of function_record;
//     a class's methods wrapped in instancemethod; add_class_method;
//   - function_record: name, signature, impl, next, data, free_data, args,
//     nargs, nargs_pos, is_method, is_constructor, is_new_style_constructor,
//     is_operator, has_args, has_kwargs; function_call: func, args,
//     args_convert, args_ref; PYBIND11_TRY_NEXT_OVERLOAD,
//     reference_cast_error;
//   - the dispatcher's rules: two passes, the first without conversion,
//     where a chain has more than one record; the defaults, *args and
//     **kwargs it fills in; the records it tries again with conversion; its
//     messages; apply_exception_translators;
//   - type_info (type, holder_size_in_ptrs, default_holder), get_type_info,
//     all_type_info;
//   - instance: the simple layout (the value pointer, then the holder), its
//     flags and weakrefs; get_value_and_holder;
//   - type_caster_generic (typeinfo, value), type_caster_base, make_caster,
//     cast_op_type, const_name, and the type_caster specialisation point.
// CPython, where the fast paths are built in (fast_paths.h):
//   - PyCFunctionObject's vectorcall; the int layout; PyComplexObject's cval,
//     read, and written in an object only the layer holds;
//   - type slots: tp_free, tp_repr (in every build); tp_dealloc, tp_alloc,
//     tp_itemsize, tp_flags, mp_subscript, mp_ass_subscript.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>

#include "fast_paths.h"
#include "scalars.h"
#include "state.h"

static_assert(PYBIND11_VERSION_HEX == NUBRA_PYBIND11_VERSION,
              "the adapter is written for the pybind11 release that pyproject.toml names");

namespace Nubra::Python {

namespace py = pybind11;

// Defined in results.h: a new instance of T's class owning value, made
// outside pybind11's registry; null with a Python error.
template <class T>
PyObject* makeResult(T&& value);

namespace adapter {

namespace pyd = pybind11::detail;

// --- CPython -------------------------------------------------------------------

#if NUBRA_FAST_PATHS
#if PY_VERSION_HEX >= 0x030C0000
// The flags under which CPython lays out an instance's dict and weak
// references itself.
inline constexpr unsigned long managedLayout = Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_MANAGED_WEAKREF;

// The value of an int or bool of one digit at most, which indices and
// coordinates are in practice; false for a larger one.
inline bool compactValue(PyObject* integer, long& value)
{
    auto* number = reinterpret_cast<PyLongObject*>(integer);
    if (!PyUnstable_Long_IsCompact(number))
        return false;
    value = PyUnstable_Long_CompactValue(number);
    return true;
}
#else
inline constexpr unsigned long managedLayout = Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT;

inline bool compactValue(PyObject* integer, long& value)
{
    static_assert(PyLong_SHIFT == 30, "one digit holds 30 bits");
    const Py_ssize_t size = Py_SIZE(integer);
    if (size < -1 || size > 1)
        return false;
    value = size * static_cast<long>(reinterpret_cast<PyLongObject*>(integer)->ob_digit[0]);
    return true;
}
#endif

static_assert(std::is_same_v<decltype(PyComplexObject::cval), Py_complex>);

inline Py_complex complexValue(PyObject* complex)
{
    return reinterpret_cast<PyComplexObject*>(complex)->cval;
}

inline void setComplexValue(PyObject* complex, Py_complex value)
{
    reinterpret_cast<PyComplexObject*>(complex)->cval = value;
}

static_assert(std::is_same_v<decltype(PyCFunctionObject::vectorcall), vectorcallfunc>);

// Gives a builtin function object of the layer's a vectorcall of its own.
inline void setVectorcall(PyObject* function, vectorcallfunc call)
{
    reinterpret_cast<PyCFunctionObject*>(function)->vectorcall = call;
}

// Whether instances of type are allocated plainly: a bare instance's size,
// no items, no layout of CPython's own, the generic allocator.
inline bool plainlyAllocated(PyTypeObject* type)
{
    return type->tp_basicsize == sizeof(pyd::instance) && type->tp_itemsize == 0
        && (type->tp_flags & managedLayout) == 0 && type->tp_alloc == PyType_GenericAlloc;
}

inline PyObject* allocate(PyTypeObject* type)
{
    return type->tp_alloc(type, 0);
}

inline void freeMemory(PyObject* self)
{
    Py_TYPE(self)->tp_free(self);
}

inline destructor exchangeDealloc(PyTypeObject* type, destructor with)
{
    return std::exchange(type->tp_dealloc, with);
}

// Replaces a slot of a type's mapping methods where it has one, keeping the
// one it had in base; false where it has none.
template <auto slot, class F>
bool replaceMapping(PyTypeObject* type, F with, F& base)
{
    PyMappingMethods* mapping = type->tp_as_mapping;
    if (mapping == nullptr || mapping->*slot == nullptr)
        return false;
    if (mapping->*slot != with)
        base = std::exchange(mapping->*slot, with);
    return true;
}

inline bool replaceGetItem(PyTypeObject* type, binaryfunc with, binaryfunc& base)
{
    return replaceMapping<&PyMappingMethods::mp_subscript>(type, with, base);
}

inline bool replaceSetItem(PyTypeObject* type, objobjargproc with, objobjargproc& base)
{
    return replaceMapping<&PyMappingMethods::mp_ass_subscript>(type, with, base);
}
#endif

inline freefunc exchangeFree(PyTypeObject* type, freefunc with)
{
    return std::exchange(type->tp_free, with);
}

// Whose repr the class of an object has: tuple's, list's, dict's or another.
enum class Repr { tuple, list, dict, other };

inline Repr reprOf(PyObject* object)
{
    const reprfunc repr = Py_TYPE(object)->tp_repr;
    return repr == PyTuple_Type.tp_repr ? Repr::tuple
           : repr == PyList_Type.tp_repr ? Repr::list
           : repr == PyDict_Type.tp_repr ? Repr::dict
                                         : Repr::other;
}

// --- pybind11: errors ------------------------------------------------------------

// Sets the TypeError message as pybind11's dispatcher sets its own: with
// its note on missing headers where a C++ type shows, and chained to the
// error already set, if any.
inline void setTypeError(std::string message)
{
    if (message.find("std::") != std::string::npos)
        message += "\n\nDid you forget to `#include <pybind11/stl.h>`? Or <pybind11/complex.h>,\n"
                   "<pybind11/functional.h>, <pybind11/chrono.h>, etc. Some automatic\n"
                   "conversions are optional and require extra headers to be included\n"
                   "when compiling your pybind11 module.";
    if (PyErr_Occurred())
        py::raise_from(PyExc_TypeError, message.c_str());
    else
        PyErr_SetString(PyExc_TypeError, message.c_str());
}

// Runs body(), turning a C++ exception into the Python error pybind11's
// dispatcher would raise for it; null then.
template <class Body>
PyObject* translated(Body body)
{
    try {
        return body();
    } catch (py::error_already_set& e) {
        e.restore();
#ifdef __GLIBCXX__
    } catch (abi::__forced_unwind&) {
        throw;
#endif
    } catch (...) {
        if (!pyd::apply_exception_translators(pyd::get_local_internals().registered_exception_translators)
            && !pyd::apply_exception_translators(pyd::get_internals().registered_exception_translators))
            PyErr_SetString(PyExc_SystemError, "Exception escaped from default exception translator!");
    }
    return nullptr;
}

// Raises what pybind11's dispatcher raises when an overload's result can't
// be cast; null.
inline PyObject* unconvertible(const char* signature)
{
    setTypeError(std::string("Unable to convert function return value to a Python type! The signature was\n\t")
                 + signature);
    return nullptr;
}

// A C++ result as a new Python object, cast as pybind11 casts a result
// returned by value; null if it can't be.
template <class R>
PyObject* castResult(R&& value)
{
    return pyd::make_caster<R>::cast(std::forward<R>(value), py::return_value_policy::move, py::handle()).ptr();
}

// --- pybind11: function objects -------------------------------------------------------

using Record = pyd::function_record;

// The record chain of a function object pybind11 made, or null.
inline Record* recordsOf(PyObject* function)
{
    if (function == nullptr || !PyCFunction_Check(function))
        return nullptr;
    PyObject* self = PyCFunction_GET_SELF(function);
    if (self == nullptr || !PyCapsule_CheckExact(self) || PyCapsule_GetName(self) != pyd::get_function_record_capsule_name())
        return nullptr;
    return static_cast<Record*>(PyCapsule_GetPointer(self, pyd::get_function_record_capsule_name()));
}

// A function object without the instancemethod around a class's method.
inline py::object unwrapped(py::handle function)
{
    return py::reinterpret_borrow<py::object>(PyInstanceMethod_Check(function.ptr())
                                                  ? PyInstanceMethod_GET_FUNCTION(function.ptr())
                                                  : function.ptr());
}

// The function object name on a module or class, or None. pybind11's
// classes answer a method with its instancemethod.
inline py::object functionNamed(py::handle target, const char* name)
{
    return unwrapped(py::getattr(target, name, py::none()));
}

// Makes pybind11's function object of f on a module or class, chained to
// sibling (pybind11's function object of that name, or None), as their own
// def makes it; the attribute is left to the caller.
template <class F, class... Extra>
py::cpp_function makeFunction(py::module_& m, const char* name, F&& f, py::handle sibling, const Extra&... extra)
{
    return py::cpp_function(std::forward<F>(f), py::name(name), py::scope(m), py::sibling(sibling), extra...);
}

template <class C, class F, class... Extra>
py::cpp_function makeFunction(py::class_<C>& cls, const char* name, F&& f, py::handle sibling, const Extra&... extra)
{
    return py::cpp_function(py::method_adaptor<C>(std::forward<F>(f)), py::name(name), py::is_method(cls),
                            py::sibling(sibling), extra...);
}

// Sets a function object as the attribute name of a module or class, as
// their own def does (add_class_method): on a class, in an instancemethod.
inline void setAttribute(py::module_& m, const char* name, py::handle function)
{
    m.add_object(name, function, true);
}

template <class C>
void setAttribute(py::class_<C>& cls, const char* name, py::handle function)
{
    cls.attr(name) = py::reinterpret_steal<py::object>(PyInstanceMethod_New(function.ptr()));
    if (std::strcmp(name, "__eq__") == 0 && !cls.attr("__dict__").contains("__hash__"))
        cls.attr("__hash__") = py::none();
}

// The name and docstring of a builtin function object.
inline const char* nameOf(PyObject* function)
{
    return reinterpret_cast<PyCFunctionObject*>(function)->m_ml->ml_name;
}

inline const char* docOf(PyObject* function)
{
    return reinterpret_cast<PyCFunctionObject*>(function)->m_ml->ml_doc;
}

// The signature pybind11 rendered for the overload last appended to made.
inline const char* newestSignature(PyObject* made)
{
    const Record* record = recordsOf(made);
    while (record->next != nullptr)
        record = record->next;
    return record->signature;
}

// pybind11's dispatcher of a function object it made, with the capsule it
// takes.
struct Dispatcher {
    PyCFunctionWithKeywords meth = nullptr;
    PyObject* self = nullptr;
};

inline Dispatcher dispatcherOf(PyObject* made)
{
    return {reinterpret_cast<PyCFunctionWithKeywords>(reinterpret_cast<void (*)()>(PyCFunction_GET_FUNCTION(made))),
            PyCFunction_GET_SELF(made)};
}

// The dispatcher, reached as CPython would reach it: with a tuple of the
// positional arguments and a dict of the keywords. Kept out of line, off
// the fast paths. The references are plain pointers, released only on
// return: a thread the interpreter ends at exit unwinds through here
// without the GIL, and must not touch them then.
[[gnu::noinline]] inline PyObject* callDispatcher(const Dispatcher& dispatcher, PyObject* const* args, Py_ssize_t nargs,
                                                  PyObject* kwnames)
{
    PyObject* positional = PyTuple_New(nargs);
    if (positional == nullptr)
        return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(positional, i, Py_NewRef(args[i]));
    PyObject* keywords = nullptr;
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        keywords = PyDict_New();
        for (Py_ssize_t i = 0; keywords != nullptr && i < PyTuple_GET_SIZE(kwnames); ++i)
            if (PyDict_SetItem(keywords, PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0)
                Py_CLEAR(keywords);
        if (keywords == nullptr) {
            Py_DECREF(positional);
            return nullptr;
        }
    }
    PyObject* result = nullptr;
    if (!Py_EnterRecursiveCall(" while calling a Python object")) {
        result = dispatcher.meth(dispatcher.self, positional, keywords);
        Py_LeaveRecursiveCall();
    }
    Py_DECREF(positional);
    Py_XDECREF(keywords);
    return result;
}

// --- pybind11: classes and instances ---------------------------------------------

// Whether the instances of type are in the simple layout (one C++ class,
// its holder inline) with pybind11's default holder.
inline bool simpleLayout(PyTypeObject* type)
{
    const pyd::type_info* info = pyd::get_type_info(type);
    return pyd::all_type_info(type).size() == 1 && info->holder_size_in_ptrs <= pyd::instance_simple_holder_in_ptrs()
           && info->default_holder;
}

// In the simple layout, the value pointer is followed by its holder, a
// std::unique_ptr by default.
static_assert(std::is_same_v<decltype(pyd::instance::simple_value_holder), void* [1 + pyd::instance_simple_holder_in_ptrs()]>);

template <class T>
using Holder = std::unique_ptr<T>;

template <class T>
constexpr bool holderFits = sizeof(Holder<T>) <= sizeof(void*) * pyd::instance_simple_holder_in_ptrs();

// Whether src, if it is an instance of type, holds a constructed native
// object. `cls.__new__(cls)` makes an instance with room for one but none
// in it, which pybind11 would hand over as raw memory.
inline bool constructed(PyObject* src, PyTypeObject* type)
{
    if (!PyObject_TypeCheck(src, type))
        return true;
    const auto holder = reinterpret_cast<pyd::instance*>(src)->get_value_and_holder(pyd::get_type_info(type), false);
    return holder.inst != nullptr && holder.holder_constructed();
}

// The native object of an instance in the simple layout, or null if it
// has none.
template <class T>
T* nativeOf(PyObject* self)
{
    const auto* instance = reinterpret_cast<pyd::instance*>(self);
    return instance->simple_holder_constructed ? static_cast<T*>(instance->simple_value_holder[0]) : nullptr;
}

// Makes self, fresh memory of its class's size, the owner of native in the
// simple layout, outside the registry.
template <class T>
void own(PyObject* self, T* native)
{
    static_assert(holderFits<T>);
    auto* instance = reinterpret_cast<pyd::instance*>(self);
    instance->weakrefs = nullptr;
    instance->simple_value_holder[0] = native;
    new (&instance->simple_value_holder[1]) Holder<T>(native);
    instance->owned = true;
    instance->simple_layout = true;
    instance->simple_holder_constructed = true;
    instance->simple_instance_registered = false;
    instance->has_patients = false;
}

// Whether self is an instance own() made, untouched by pybind11's registry.
inline bool owned(PyObject* self)
{
    const auto* instance = reinterpret_cast<pyd::instance*>(self);
    return instance->simple_layout && !instance->simple_instance_registered && !instance->has_patients;
}

// Of an instance own() made: clears its weak references and takes its
// native object out of the holder; null if it holds none.
template <class T>
T* disown(PyObject* self)
{
    auto* instance = reinterpret_cast<pyd::instance*>(self);
    if (instance->weakrefs != nullptr)
        PyObject_ClearWeakRefs(self);
    if (!instance->simple_holder_constructed)
        return nullptr;
    instance->simple_holder_constructed = false;
    return std::launder(reinterpret_cast<Holder<T>*>(&instance->simple_value_holder[1]))->release();
}

// The caster of the module's classes. It loads only constructed instances,
// and never None (which pybind11 would pass as a null `self` to methods
// bound as member functions), and it looks its class up once rather than at
// every call. Where results.h makes its results, a result becomes a new
// instance there.
template <class T>
class InstanceCaster : public pyd::type_caster_generic {
public:
    static constexpr auto name = pyd::const_name<T>();
    template <class U>
    using cast_op_type = pyd::cast_op_type<U>;

    InstanceCaster() : pyd::type_caster_generic(registered()) {}

    bool load(py::handle src, bool convert)
    {
        if (Py_TYPE(src.ptr()) == classRecord<T>().simpleType)
            return (value = nativeOf<T>(src.ptr())) != nullptr;
        return typeinfo != nullptr && !src.is_none() && constructed(src.ptr(), typeinfo->type)
               && pyd::type_caster_generic::load(src, convert);
    }

    operator T*() { return static_cast<T*>(value); }
    operator T&()
    {
        if (value == nullptr)
            throw py::reference_cast_error();
        return *static_cast<T*>(value);
    }

    static py::handle cast(const T& src, py::return_value_policy policy, py::handle parent)
    {
        return pyd::type_caster_base<T>::cast(src, policy, parent);
    }

    static py::handle cast(const T* src, py::return_value_policy policy, py::handle parent)
    {
        return pyd::type_caster_base<T>::cast(src, policy, parent);
    }

    static py::handle cast(T&& src, py::return_value_policy policy, py::handle parent)
    {
        if (classRecord<T>().registryFree)
            return makeResult(std::move(src));
        return pyd::type_caster_base<T>::cast(std::move(src), policy, parent);
    }

private:
    static const pyd::type_info* registered()
    {
        static const pyd::type_info* info = nullptr;
        if (info == nullptr)
            info = pyd::get_type_info(typeid(T));
        return info;
    }
};

// --- pybind11: the records of the bounded message --------------------------------------

// Each chain of overloads gets two last records of its own, which raise the
// TypeError of a call no overload takes, worded as pybind11's dispatcher
// words it but with each argument rendered by a function of the caller's.
// The first takes any positional call: it refuses in the pass without
// conversion and raises the error in the pass with it, once every overload
// has refused. The second raises it at once for a call with keywords, which
// no overload takes. A chain of one overload keeps pybind11's single try
// with conversion: its overload raises the error itself when it refuses, and
// the last records take only calls it never saw (a wrong count of
// arguments, keywords). Operators (whose refusal is NotImplemented), chains
// that take keywords and lone overloads with named, defaulted or variadic
// parameters keep pybind11's own message.

// An argument's rendering in the message.
using Render = std::string (*)(py::handle);

using Impl = py::handle (*)(pyd::function_call&);

// What the records appended to a chain keep: the chain's first record, the
// first appended one (where the chain's own overloads end), a lone
// overload's own impl, and the rendering.
struct Chain {
    const Record* head;
    const Record* end;
    Impl only;
    Render render;
};

inline const Chain& chainOf(const Record& record)
{
    return *static_cast<const Chain*>(record.data[0]);
}

// The default of the positional record's parameters: no argument there.
inline PyObject* unset()
{
    static PyObject* const object = PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    return object;
}

// The message for a call of the overloads from head up to end with these
// positional arguments (without a constructor's self) and keywords.
inline std::string noMatch(const Chain& chain, const std::vector<py::handle>& args, py::handle kwargs)
{
    const Record& head = *chain.head;
    std::string msg = std::string(head.name) + "(): incompatible "
                      + std::string(head.is_constructor ? "constructor" : "function")
                      + " arguments. The following argument types are supported:\n";
    int ctr = 0;
    for (const Record* it = &head; it != chain.end; it = it->next) {
        msg += "    " + std::to_string(++ctr) + ". ";
        bool wroteSig = false;
        if (head.is_constructor) {
            // `(self: Object, arg0, ...) -> NoneType` as `Object(arg0, ...)`
            const std::string sig = it->signature;
            const size_t start = sig.find('(') + 7;
            if (start < sig.size()) {
                size_t end = sig.find(", "), next = end + 2;
                const size_t ret = sig.rfind(" -> ");
                if (end >= sig.size())
                    next = end = sig.find(')');
                if (start < end && next < sig.size()) {
                    msg.append(sig, start, end - start);
                    msg += '(';
                    msg.append(sig, next, ret - next);
                    wroteSig = true;
                }
            }
        }
        if (!wroteSig)
            msg += it->signature;
        msg += '\n';
    }
    msg += "\nInvoked with: ";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0)
            msg += ", ";
        msg += chain.render(args[i]);
    }
    if (kwargs && PyDict_Size(kwargs.ptr()) > 0) {
        if (!args.empty())
            msg += "; ";
        msg += "kwargs: ";
        bool first = true;
        for (const auto kwarg : py::reinterpret_borrow<py::dict>(kwargs)) {
            if (!std::exchange(first, false))
                msg += ", ";
            msg += py::str("{}=").format(kwarg.first);
            msg += chain.render(kwarg.second);
        }
    }
    return msg;
}

// Raises the error for the arguments of a call, a constructor's self (or
// the place pybind11 gives its new instance) first among them.
[[noreturn]] inline void raiseNoMatch(const Chain& chain, std::vector<py::handle> args, py::handle kwargs)
{
    if (chain.head->is_constructor)
        args.erase(args.begin());
    setTypeError(noMatch(chain, args, kwargs));
    throw py::error_already_set();
}

// The positional record's impl: its parameters are as many positional ones
// as the chain's longest overload takes, unset where not given, then a tuple
// of any others, which the call owns. The record takes no keywords, so the
// call owns no dict. It keeps that tuple as a plain pointer while arguments
// are rendered: a daemon thread ended at exit unwinds through the rendering
// without the GIL, and must not free it then.
inline py::handle refusePositional(pyd::function_call& call)
{
    if (!call.args_convert[0])
        return PYBIND11_TRY_NEXT_OVERLOAD;
    PyObject* extra = call.args_ref.release().ptr();
    std::vector<py::handle> args;
    for (size_t i = 0; i < call.func.nargs_pos; ++i)
        if (call.args[i].ptr() != unset())
            args.push_back(call.args[i]);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(extra); ++i)
        args.push_back(PyTuple_GET_ITEM(extra, i));
    const Chain& chain = chainOf(call.func);
    if (chain.head->is_constructor)
        args.erase(args.begin());
    std::string message = noMatch(chain, args, {});
    Py_DECREF(extra);
    setTypeError(std::move(message));
    throw py::error_already_set();
}

// The keyword record's impl, tried in the first pass only: no overload of
// the chain takes keywords, so a call with some is refused at once. What
// the call holds are references to the caller's tuple and dict.
inline py::handle refuseKeywords(pyd::function_call& call)
{
    const py::handle kwargs = call.args[1];
    if (PyDict_GET_SIZE(kwargs.ptr()) == 0)
        return PYBIND11_TRY_NEXT_OVERLOAD;
    const auto positional = py::reinterpret_borrow<py::tuple>(call.args[0]);
    raiseNoMatch(chainOf(*static_cast<const Record*>(call.func.data[0])), {positional.begin(), positional.end()},
                 kwargs);
}

// The impl of an overload alone in its chain: loads with conversion, as
// pybind11 tries a single overload, and raises the error on refusal.
inline py::handle tryOnce(pyd::function_call& call)
{
    const Chain& chain = chainOf(*call.func.next);
    std::fill(call.args_convert.begin() + (call.func.is_new_style_constructor ? 1 : 0), call.args_convert.end(), true);
    py::handle result;
    try {
        result = chain.only(call);
    } catch (py::reference_cast_error&) {
        result = PYBIND11_TRY_NEXT_OVERLOAD;
    }
    if (result.ptr() != PYBIND11_TRY_NEXT_OVERLOAD)
        return result;
    raiseNoMatch(chain, {call.args.begin(), call.args.end()}, {});
}

// Takes the records above off the chain of made, pybind11's function
// object, before pybind11 appends an overload to it (its docstring walks
// the chain); the positional record, or null where there are none.
inline Record* detachMessage(PyObject* made)
{
    Record* record = recordsOf(made);
    while (record != nullptr && record->next != nullptr && record->next->impl != refusePositional)
        record = record->next;
    if (record == nullptr || record->next == nullptr)
        return nullptr;
    Record* positional = std::exchange(record->next, nullptr);
    auto& chain = *static_cast<Chain*>(positional->data[0]);
    if (chain.only != nullptr)
        const_cast<Record*>(chain.head)->impl = std::exchange(chain.only, nullptr);
    return positional;
}

// Frees the records above, once off their chain.
inline void freeMessage(Record* positional)
{
    while (positional != nullptr) {
        Record* next = positional->next;
        if (positional->free_data != nullptr)
            positional->free_data(positional);
        for (auto& arg : positional->args)
            arg.value.dec_ref();
        delete positional;
        positional = next;
    }
}

// Appends the records above to the chain of made, those detached from it
// before, or new ones; frees them where the chain keeps pybind11's message.
inline void attachMessage(PyObject* made, Record* positional, Render render)
{
    Record* head = recordsOf(made);
    Record* last = head;
    size_t count = 1;
    for (Record* record = head; record != nullptr; record = record->next) {
        if (record->is_operator || record->has_kwargs
            || std::any_of(record->args.begin(), record->args.end(), [](const auto& arg) { return arg.name != nullptr; }))
            return freeMessage(positional);
        count = std::max<size_t>(count, record->nargs_pos);
        last = record;
    }
    const bool alone = last == head;
    if (alone && (!head->args.empty() || head->has_args))
        return freeMessage(positional);
    if (positional == nullptr) {
        positional = new Record();
        positional->impl = refusePositional;
        positional->has_args = true;
        positional->data[0] = new Chain{};
        positional->free_data = [](Record* r) { delete static_cast<Chain*>(r->data[0]); };
        auto* keywords = new Record();
        keywords->impl = refuseKeywords;
        keywords->nargs = 2;
        keywords->has_args = keywords->has_kwargs = true;
        keywords->data[0] = positional;
        positional->next = keywords;
    }
    positional->nargs = static_cast<std::uint16_t>(count + 1);
    positional->nargs_pos = static_cast<std::uint16_t>(count);
    while (positional->args.size() < count)
        positional->args.emplace_back(nullptr, nullptr, py::handle(unset()).inc_ref(), true, true);
    auto& chain = *static_cast<Chain*>(positional->data[0]);
    chain = {head, positional, alone ? std::exchange(head->impl, tryOnce) : nullptr, render};
    last->next = positional;
}

} // namespace adapter

} // namespace Nubra::Python

// The caster scalars.h declares for the module's classes.
namespace pybind11::detail {
template <Nubra::Python::ModuleClass T>
struct type_caster<T> : Nubra::Python::adapter::InstanceCaster<T> {};
} // namespace pybind11::detail
