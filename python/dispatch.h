#pragma once
// How calls reach the native objects of the module's classes:
//   - argument loading that refuses instances with no native object;
//   - result instances made without pybind11's instance registry;
//   - fast paths that take the common calls straight to the overload
//     pybind11 would choose, and element access straight to the element.
// The fast paths decide only what argument types alone decide; everything
// else goes to pybind11's own dispatcher, so results, errors and messages
// stay the same. NUBRACORE_FAST_PATHS=0 in the environment at import turns
// them and the registry-free results off.
//
// Built on pybind11 2.10.3's internals (pinned by the static_assert below):
//   - detail::type_caster_base: its `typeinfo` member and cast overloads;
//   - detail::instance: simple_layout, simple_value_holder (value pointer,
//     then the holder), simple_holder_constructed, owned; its
//     get_value_and_holder and value_and_holder's inst and
//     holder_constructed(); detail::get_type_info and type_info::type;
//   - the function objects pybind11 makes: builtin functions with
//     METH_VARARGS | METH_KEYWORDS whose m_self is the capsule (named by
//     get_function_record_capsule_name) of the detail::function_record
//     chain, wrapped in instancemethod objects when they are methods;
//   - function_record: impl, next, nargs, args, is_method, is_constructor,
//     is_operator, has_args, has_kwargs, and signature, the rendered text
//     read for the parameter types "float", "complex", "int", "slice" and
//     "<module>.<class>";
//   - detail::function_call, loader_life_support, reference_cast_error,
//     PYBIND11_TRY_NEXT_OVERLOAD, apply_exception_translators with the
//     local and global translator lists, raise_from;
//   - CPython 3.11's int layout: ob_size and ob_digit of PyLongObject;
//   - the dispatcher's rules: a single overload is tried once with
//     conversion; several are tried in order without conversion, then in
//     order with conversion where they have an argument besides self; every
//     argument of an overload is loaded before it is refused; a null result
//     is reported as "Unable to convert function return value ...".

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <boost/hana.hpp>
#include <pybind11/pybind11.h>

#include "types/Matrix.h"
#include "types/Model.h"
#include "types/Vector.h"

static_assert(PYBIND11_VERSION_HEX == 0x020A0300, "python/dispatch.h is written against pybind11 2.10.3");
static_assert(PY_VERSION_HEX >> 16 == 0x030B, "python/dispatch.h reads ints as CPython 3.11 lays them out");

namespace Nubra::Python {

namespace py = pybind11;
namespace pyd = pybind11::detail;

inline const bool fastPaths = [] {
    const char* setting = std::getenv("NUBRACORE_FAST_PATHS");
    return setting == nullptr || std::string_view(setting) != "0";
}();

// Whether src, if it is an instance of type, holds a constructed native
// object. `cls.__new__(cls)` makes an instance with room for one but none
// in it, which pybind11 2.10 would hand over as raw memory.
inline bool constructed(py::handle src, const pyd::type_info* type)
{
    if (!PyObject_TypeCheck(src.ptr(), type->type))
        return true;
    const auto holder = reinterpret_cast<pyd::instance*>(src.ptr())->get_value_and_holder(type, false);
    return holder.inst != nullptr && holder.holder_constructed();
}

// The native object of an instance of T's exact class, or null if it has none.
template <class T>
T* nativeOf(PyObject* self)
{
    const auto* instance = reinterpret_cast<pyd::instance*>(self);
    return instance->simple_holder_constructed ? static_cast<T*>(instance->simple_value_holder[0]) : nullptr;
}

// The caster of the module's classes. It loads only constructed instances,
// and never None (which pybind11 would pass as a null `self` to methods
// bound as member functions), and it looks its class up once rather than
// at every call. A result becomes a new instance that owns it, made without
// the registry lookup and entry: results are new objects, never looked up
// by address.
template <class T>
class InstanceCaster : public pyd::type_caster_generic {
public:
    static constexpr auto name = pyd::const_name<T>();
    template <class U>
    using cast_op_type = pyd::cast_op_type<U>;

    InstanceCaster() : pyd::type_caster_generic(registered()) {}

    bool load(py::handle src, bool convert)
    {
        if (Py_TYPE(src.ptr()) == typeinfo->type)
            return (value = nativeOf<T>(src.ptr())) != nullptr;
        return !src.is_none() && constructed(src, typeinfo) && pyd::type_caster_generic::load(src, convert);
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
        static_assert(sizeof(std::unique_ptr<T>) <= sizeof(void*) * pyd::instance_simple_holder_in_ptrs());
        if (!fastPaths)
            return pyd::type_caster_base<T>::cast(std::move(src), policy, parent);
        PyTypeObject* type = registered()->type;
        auto self = py::reinterpret_steal<py::object>(type->tp_alloc(type, 0));
        if (!self)
            return nullptr;
        auto* instance = reinterpret_cast<pyd::instance*>(self.ptr());
        instance->simple_layout = true;
        instance->owned = true;
        auto value = std::make_unique<T>(std::move(src));
        instance->simple_value_holder[0] = value.get();
        new (&instance->simple_value_holder[1]) std::unique_ptr<T>(std::move(value));
        instance->simple_holder_constructed = true;
        return self.release();
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

namespace fast {

constexpr Py_ssize_t maxArgs = 5;
inline PyObject* const tryNext = PYBIND11_TRY_NEXT_OVERLOAD;

// Types whose loading into each kind of parameter is decided by the type
// alone, without running code of the object's own: the builtins below and
// the module's classes.
inline std::vector<PyTypeObject*> knownTypes = {&PyLong_Type,  &PyBool_Type,  &PyFloat_Type, &PyComplex_Type,
                                                Py_TYPE(Py_None), &PyUnicode_Type, &PyBytes_Type, &PySlice_Type,
                                                &PyTuple_Type, &PyList_Type};

enum class Kind : uint8_t { real, complex, index, slice, instance, other };
enum class Outcome : uint8_t { accept, refuse, depends };

struct Parameter {
    Kind kind;
    PyTypeObject* type; // of an instance parameter
};

// What a parameter of pybind11 2.10's casters does with an argument of
// exact type t: accept means it loads unless the value decides otherwise
// (an int too large, an instance never constructed), and then the call
// goes to the dispatcher after all.
inline Outcome outcome(const Parameter& parameter, PyTypeObject* t, bool convert)
{
    if (std::find(knownTypes.begin(), knownTypes.end(), t) == knownTypes.end())
        return Outcome::depends;
    const bool integer = t == &PyLong_Type || t == &PyBool_Type;
    bool loads = false;
    switch (parameter.kind) {
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
        loads = t == parameter.type;
        break;
    case Kind::other:
        return Outcome::depends;
    }
    return loads ? Outcome::accept : Outcome::refuse;
}

// The parameters of a rendered signature "(self: m.vecs, arg0: int) -> float".
inline std::vector<Parameter> parameters(const py::module_& m, std::string_view signature)
{
    const std::string_view list = signature.substr(1, signature.rfind(") -> ") - 1);
    std::vector<std::string_view> types;
    int depth = 0;
    for (size_t begin = 0, i = 0; i <= list.size(); ++i) {
        if (i == list.size() || (list[i] == ',' && depth == 0)) {
            const std::string_view piece = list.substr(begin, i - begin);
            if (!piece.empty())
                types.push_back(piece.substr(piece.find(": ") + 2));
            begin = i + 2;
        } else if (list[i] == '[' || list[i] == '<')
            ++depth;
        else if (list[i] == ']' || list[i] == '>')
            --depth;
    }

    const std::string prefix = m.attr("__name__").cast<std::string>() + ".";
    std::vector<Parameter> result;
    for (const std::string_view type : types) {
        const std::string name(type.substr(std::min(prefix.size(), type.size())));
        if (type == "float")
            result.push_back({Kind::real, nullptr});
        else if (type == "complex")
            result.push_back({Kind::complex, nullptr});
        else if (type == "int")
            result.push_back({Kind::index, nullptr});
        else if (type == "slice")
            result.push_back({Kind::slice, nullptr});
        else if (type.starts_with(prefix) && py::hasattr(m, name.c_str()))
            result.push_back({Kind::instance, reinterpret_cast<PyTypeObject*>(m.attr(name.c_str()).ptr())});
        else
            result.push_back({Kind::other, nullptr});
    }
    return result;
}

// Runs call(), turning a C++ exception into the Python error pybind11's
// dispatcher would raise for it; null then.
template <class Call>
PyObject* translated(Call call)
{
    try {
        return call();
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

// Calls impl as pybind11's dispatcher does; tryNext when the overload
// refuses the arguments. Arguments of the known types load without
// temporaries, so no loader_life_support frame is needed.
inline PyObject* invoke(pyd::function_call& call)
{
    return translated([&]() -> PyObject* {
        py::handle result;
        try {
            result = call.func.impl(call);
        } catch (py::reference_cast_error&) {
            return tryNext;
        }
        if (result)
            return result.ptr();
        std::string message = "Unable to convert function return value to a Python type! The signature was\n\t";
        message += call.func.signature;
        if (message.find("std::") != std::string::npos)
            message += "\n\nDid you forget to `#include <pybind11/stl.h>`? Or <pybind11/complex.h>,\n"
                       "<pybind11/functional.h>, <pybind11/chrono.h>, etc. Some automatic\n"
                       "conversions are optional and require extra headers to be included\n"
                       "when compiling your pybind11 module.";
        if (PyErr_Occurred())
            py::raise_from(PyExc_TypeError, message.c_str());
        else
            PyErr_SetString(PyExc_TypeError, message.c_str());
        return nullptr;
    });
}

// pybind11's dispatcher, reached as it is without a vectorcall: with a tuple
// of the positional arguments and a dict of the keywords.
inline PyObject* dispatch(PyObject* callable, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames)
{
    auto positional = py::reinterpret_steal<py::object>(PyTuple_New(nargs));
    if (!positional)
        return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(positional.ptr(), i, Py_NewRef(args[i]));
    py::object keywords;
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        keywords = py::reinterpret_steal<py::object>(PyDict_New());
        if (!keywords)
            return nullptr;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i)
            if (PyDict_SetItem(keywords.ptr(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0)
                return nullptr;
    }
    if (Py_EnterRecursiveCall(" while calling a Python object"))
        return nullptr;
    PyObject* result = PyCFunction_Type.tp_call(callable, positional.ptr(), keywords.ptr());
    Py_LeaveRecursiveCall();
    return result;
}

struct Overload {
    Overload(const pyd::function_record& record, std::vector<Parameter> parameters)
        : parameters(std::move(parameters)), call(record, py::handle())
    {
        convertible = this->parameters.size() > (record.is_method ? 1u : 0u);
    }

    // Calls the overload, or tryNext when it refuses the arguments or is
    // already running further up the stack (its call record is in use).
    PyObject* operator()(PyObject* const* args, Py_ssize_t nargs, bool convert)
    {
        if (busy)
            return tryNext;
        busy = true;
        call.args.assign(args, args + nargs);
        call.args_convert.assign(nargs, convert);
        call.parent = nargs > 0 ? args[0] : nullptr;
        PyObject* result = invoke(call);
        busy = false;
        return result;
    }

    std::vector<Parameter> parameters;
    bool convertible; // tried in the conversion pass
    pyd::function_call call;
    bool busy = false;
};

struct Resolution {
    bool found = false; // otherwise the dispatcher decides
    uint16_t overload = 0;
    bool convert = false;
};

struct Key {
    std::array<PyTypeObject*, maxArgs> types{};
    Py_ssize_t count = -1;

    bool operator==(const Key&) const = default;
};

// The overload chain of one function with what its argument types decided.
struct Function {
    Resolution resolve(const Key& key)
    {
        size_t hash = key.count;
        for (Py_ssize_t i = 0; i < key.count; ++i)
            hash = (hash ^ (reinterpret_cast<uintptr_t>(key.types[i]) >> 4)) * 0x9E3779B97F4A7C15u;
        for (size_t probe = 0; probe < cache.size(); ++probe) {
            auto& [known, resolution] = cache[((hash >> 32) + probe) % cache.size()];
            if (known == key)
                return resolution;
            if (known.count < 0) {
                known = key;
                return resolution = decide(key);
            }
        }
        return decide(key);
    }

    // The overload and pass in which pybind11 would load arguments of these
    // types, when the types alone decide it.
    Resolution decide(const Key& key) const
    {
        const bool overloaded = overloads.size() > 1;
        for (const bool convert : {false, true}) {
            if (!overloaded && !convert)
                continue; // a single overload is tried once, with conversion
            for (size_t k = 0; k < overloads.size(); ++k) {
                const Overload& overload = overloads[k];
                if (static_cast<Py_ssize_t>(overload.parameters.size()) != key.count
                    || (overloaded && convert && !overload.convertible))
                    continue;
                Outcome all = Outcome::accept;
                for (Py_ssize_t i = 0; i < key.count; ++i) {
                    const Outcome one = outcome(overload.parameters[i], key.types[i], convert);
                    if (one == Outcome::depends)
                        return {};
                    if (one == Outcome::refuse)
                        all = Outcome::refuse;
                }
                if (all == Outcome::accept)
                    return {true, static_cast<uint16_t>(k), convert};
            }
        }
        return {};
    }

    std::vector<Overload> overloads;
    std::array<std::pair<Key, Resolution>, 64> cache{};
};

// A copy of the function object's method definition that also leads to its
// Function; the object's m_ml points to it.
struct MethodDef {
    PyMethodDef def;
    Function* function;
};

inline PyObject* call(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    Function& function = *reinterpret_cast<MethodDef*>(reinterpret_cast<PyCFunctionObject*>(callable)->m_ml)->function;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if ((kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) && nargs <= maxArgs) {
        Key key;
        key.count = nargs;
        for (Py_ssize_t i = 0; i < nargs; ++i)
            key.types[i] = Py_TYPE(args[i]);
        if (const Resolution resolution = function.resolve(key); resolution.found) {
            if (Py_EnterRecursiveCall(" while calling a Python object"))
                return nullptr;
            PyObject* result = function.overloads[resolution.overload](args, nargs, resolution.convert);
            Py_LeaveRecursiveCall();
            if (result != tryNext)
                return result;
        }
    }
    return dispatch(callable, args, nargs, kwnames);
}

// The function record chain of a pybind11 function object, or null.
inline const pyd::function_record* recordsOf(PyObject* function)
{
    if (!PyCFunction_Check(function))
        return nullptr;
    PyObject* self = PyCFunction_GET_SELF(function);
    if (self == nullptr || !PyCapsule_CheckExact(self) || PyCapsule_GetName(self) != pyd::get_function_record_capsule_name())
        return nullptr;
    return static_cast<const pyd::function_record*>(PyCapsule_GetPointer(self, pyd::get_function_record_capsule_name()));
}

// Gives a function object of plain positional overloads the fast call.
inline void install(const py::module_& m, PyObject* object)
{
    const pyd::function_record* records = recordsOf(object);
    if (records == nullptr)
        return;
    auto* function = new Function;
    for (const pyd::function_record* record = records; record != nullptr; record = record->next) {
        if (!record->args.empty() || record->has_args || record->has_kwargs || record->is_constructor
            || record->is_operator || record->nargs > maxArgs) {
            delete function;
            return;
        }
        function->overloads.emplace_back(*record, parameters(m, record->signature));
    }
    auto* cfunction = reinterpret_cast<PyCFunctionObject*>(object);
    cfunction->m_ml = &(new MethodDef{*cfunction->m_ml, function})->def;
    cfunction->vectorcall = call;
}

// --- element access ------------------------------------------------------------

// The value of an exact int of one digit at most, which indices and
// coordinates are in practice; false for any other object.
inline bool smallInt(PyObject* object, long& value)
{
    if (!PyLong_CheckExact(object) || Py_SIZE(object) < -1 || Py_SIZE(object) > 1)
        return false;
    value = Py_SIZE(object) * static_cast<long>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
    return true;
}

template <class C>
inline PyTypeObject* classOf = nullptr;
template <class C>
inline binaryfunc oldGetItem = nullptr;
template <class C>
inline objobjargproc oldSetItem = nullptr;

// The storage position of the element key names in c, if key is an exact
// int (a vector or view) or an exact pair of them (a matrix) inside it.
template <class C>
bool position(const C& c, PyObject* key, size_t& at)
{
    const auto index = [](PyObject* i, size_t& value) {
        long small;
        if (!smallInt(i, small) || small < 0)
            return false;
        value = small;
        return true;
    };
    if constexpr (TwoDimensional<C>) {
        size_t i, j;
        if (!PyTuple_CheckExact(key) || PyTuple_GET_SIZE(key) != 2 || !index(PyTuple_GET_ITEM(key, 0), i)
            || !index(PyTuple_GET_ITEM(key, 1), j) || i >= c.template dim<0>() || j >= c.template dim<1>())
            return false;
        at = i + j * c.template dim<0>();
        return true;
    } else {
        return index(key, at) && at < c.numel();
    }
}

template <class T>
PyObject* toPython(T value)
{
    if constexpr (std::is_floating_point_v<T>)
        return PyFloat_FromDouble(value);
    else
        return PyComplex_FromDoubles(value.real(), value.imag());
}

// An exact float or int (or complex, for a complex element) as pybind11's
// casters would take it with conversion.
template <class T>
bool fromPython(PyObject* value, T& out)
{
    Py_complex z{0, 0};
    if (PyFloat_CheckExact(value))
        z.real = PyFloat_AS_DOUBLE(value);
    else if (PyLong_CheckExact(value)) {
        z.real = PyLong_AsDouble(value);
        if (z.real == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
    } else if (!std::is_floating_point_v<T> && PyComplex_CheckExact(value))
        z = PyComplex_AsCComplex(value);
    else
        return false;
    if constexpr (std::is_floating_point_v<T>)
        out = static_cast<T>(z.real);
    else
        out = T(static_cast<typename T::value_type>(z.real), static_cast<typename T::value_type>(z.imag));
    return true;
}

template <class C>
PyObject* getItem(PyObject* self, PyObject* key)
{
    size_t at;
    if (Py_TYPE(self) == classOf<C>)
        if (const C* c = nativeOf<C>(self); c && position(*c, key, at))
            return toPython(c->get()[at]);
    return oldGetItem<C>(self, key);
}

template <class C>
int setItem(PyObject* self, PyObject* key, PyObject* value)
{
    size_t at;
    typename C::SampleType element;
    if (value != nullptr && Py_TYPE(self) == classOf<C>)
        if (C* c = nativeOf<C>(self); c && position(*c, key, at) && fromPython(value, element)) {
            c->get()[at] = element;
            return 0;
        }
    return oldSetItem<C>(self, key, value);
}

template <class C>
void installElementAccess()
{
    PyTypeObject* type = pyd::get_type_info(typeid(C))->type;
    classOf<C> = type;
    oldGetItem<C> = std::exchange(type->tp_as_mapping->mp_subscript, getItem<C>);
    oldSetItem<C> = std::exchange(type->tp_as_mapping->mp_ass_subscript, setItem<C>);
}

// --- model ---------------------------------------------------------------------

inline PyTypeObject* modelClass = nullptr;

inline Onnx::Model* modelOf(PyObject* self)
{
    return Py_TYPE(self) == modelClass ? nativeOf<Onnx::Model>(self) : nullptr;
}

// The float element that an exact int tensor index and a list or tuple of
// exact int coordinates name, or null.
template <class Find>
float* element(PyObject* tensorIdx, PyObject* coordinates, Find find)
{
    long idx;
    if (!smallInt(tensorIdx, idx) || idx < 0 || !(PyList_CheckExact(coordinates) || PyTuple_CheckExact(coordinates)))
        return nullptr;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(coordinates);
    std::array<int64_t, 8> at;
    if (count > static_cast<Py_ssize_t>(at.size()))
        return nullptr;
    PyObject** items = PySequence_Fast_ITEMS(coordinates);
    for (Py_ssize_t d = 0; d < count; ++d) {
        long coordinate;
        if (!smallInt(items[d], coordinate))
            return nullptr;
        at[d] = coordinate;
    }
    const auto* view = find(idx);
    return view ? view->find(at.data(), count) : nullptr;
}

inline PyObject* modelRun(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    Onnx::Model* model;
    if (kwnames == nullptr && PyVectorcall_NARGS(nargsf) == 1 && (model = modelOf(args[0])))
        return translated([&] {
            model->run();
            return Py_NewRef(Py_None);
        });
    return dispatch(callable, args, PyVectorcall_NARGS(nargsf), kwnames);
}

inline PyObject* modelSet(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    float value;
    if (kwnames == nullptr && nargs == 4 && fromPython(args[3], value))
        if (Onnx::Model* model = modelOf(args[0]))
            if (float* at = element(args[1], args[2], [&](size_t i) { return model->findInput<float>(i); })) {
                *at = value;
                return Py_NewRef(Py_None);
            }
    return dispatch(callable, args, nargs, kwnames);
}

inline PyObject* modelGet(PyObject* callable, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs == 3)
        if (Onnx::Model* model = modelOf(args[0]))
            if (const float* at = element(args[1], args[2], [&](size_t i) { return model->findOutput<float>(i); }))
                return PyFloat_FromDouble(*at);
    return dispatch(callable, args, nargs, kwnames);
}

inline PyObject* method(PyTypeObject* type, const char* name)
{
    return PyInstanceMethod_GET_FUNCTION(PyDict_GetItemString(type->tp_dict, name));
}

inline void installModel()
{
    modelClass = pyd::get_type_info(typeid(Onnx::Model))->type;
    reinterpret_cast<PyCFunctionObject*>(method(modelClass, "run"))->vectorcall = modelRun;
    reinterpret_cast<PyCFunctionObject*>(method(modelClass, "set"))->vectorcall = modelSet;
    reinterpret_cast<PyCFunctionObject*>(method(modelClass, "get"))->vectorcall = modelGet;
}

} // namespace fast

// Installs the fast paths on the finished module: every function and
// method, element access of the containers of each scalar type, and the
// model's methods.
template <class Scalars>
void installFastPaths(py::module_& m, Scalars scalars)
{
    if (!fastPaths)
        return;
    std::vector<PyTypeObject*> classes;
    for (const auto item : m.attr("__dict__").cast<py::dict>())
        if (PyType_Check(item.second.ptr()) && pyd::get_type_info(reinterpret_cast<PyTypeObject*>(item.second.ptr())))
            classes.push_back(reinterpret_cast<PyTypeObject*>(item.second.ptr()));
    fast::knownTypes.insert(fast::knownTypes.end(), classes.begin(), classes.end());

    for (const auto item : m.attr("__dict__").cast<py::dict>())
        fast::install(m, item.second.ptr());
    for (PyTypeObject* type : classes)
        for (const auto item : py::reinterpret_borrow<py::dict>(type->tp_dict))
            if (PyInstanceMethod_Check(item.second.ptr()) && item.first.cast<std::string>() != "__init__")
                fast::install(m, PyInstanceMethod_GET_FUNCTION(item.second.ptr()));

    boost::hana::for_each(scalars, [](auto scalar) {
        using T = typename decltype(scalar)::type;
        fast::installElementAccess<Vector<T>>();
        fast::installElementAccess<VectorView<T>>();
        fast::installElementAccess<Matrix<T>>();
    });
    fast::installModel();
}

} // namespace Nubra::Python

namespace pybind11::detail {
template <class T>
struct type_caster<Nubra::Vector<T>> : Nubra::Python::InstanceCaster<Nubra::Vector<T>> {};
template <class T>
struct type_caster<Nubra::VectorView<T>> : Nubra::Python::InstanceCaster<Nubra::VectorView<T>> {};
template <class T>
struct type_caster<Nubra::Matrix<T>> : Nubra::Python::InstanceCaster<Nubra::Matrix<T>> {};
template <>
struct type_caster<Nubra::Onnx::Model> : Nubra::Python::InstanceCaster<Nubra::Onnx::Model> {};
} // namespace pybind11::detail
