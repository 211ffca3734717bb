#pragma once
// The TypeError of a call that no overload takes, worded as pybind11's
// dispatcher words it, with each argument's rendering bounded: one of more
// than ten lines shows its first four, a line "...", and its last. The
// module's containers render just those lines, so a failed call costs
// little whatever their sizes.
//
// Each overload chain gets a last record of its own, which refuses in the
// pass without conversion and raises the error in the pass with it, once
// every overload has refused. A chain of one overload keeps pybind11's
// single try with conversion: its overload raises the error itself when it
// refuses, and the last record takes only calls it never saw (a wrong count
// of arguments, keywords).
//
// Built on pybind11 2.10.3's internals: function_record (impl, next, data,
// free_data, args, nargs, nargs_pos, has_args, has_kwargs, is_method,
// is_constructor, is_new_style_constructor, is_operator, name, signature),
// argument_record, function_call, PYBIND11_TRY_NEXT_OVERLOAD, raise_from,
// and cpp_function::dispatcher: its two passes, how it fills a record of
// one positional parameter with a default, *args and **kwargs, which
// records it tries again with conversion, and its message.

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <boost/hana.hpp>
#include <pybind11/pybind11.h>

#include "functions.h"
#include "instance.h"
#include "kinds.h"
#include "operations/show.h"
#include "scalars.h"

static_assert(PYBIND11_VERSION_HEX == 0x020A0300, "no_match.h follows the dispatcher of pybind11 2.10.3");

namespace Nubra::Python::noMatch {

constexpr size_t maxLines = 10, headLines = 4;

// text, if it has more than maxLines lines, cut to its first headLines
// lines, a line "...", and its last line.
inline std::string bounded(std::string text)
{
    const size_t lines = std::count(text.begin(), text.end(), '\n') + (!text.empty() && text.back() != '\n');
    if (lines <= maxLines)
        return text;
    size_t headEnd = 0;
    for (size_t i = 0; i < headLines; ++i)
        headEnd = text.find('\n', headEnd) + 1;
    return text.substr(0, headEnd) + "...\n" + text.substr(text.rfind('\n', text.size() - 2) + 1);
}

// The printed form of a container, bounded, built from the lines it shows.
template <class C>
std::string rendering(const C& x)
{
    std::stringstream out;
    const size_t lines = shownLines(x);
    for (size_t line = 0; line < lines; ++line) {
        if (lines > maxLines && line == headLines) {
            out << "...\n";
            line = lines - 1;
        }
        showLine(x, line, out);
    }
    return out.str();
}

// Renders arg into text if it is a constructed container of class C whose
// repr is C's own.
template <class C>
bool renderAs(py::handle arg, std::string& text)
{
    const pyd::type_info* info = pyd::get_type_info(typeid(C));
    if (info == nullptr || !PyObject_TypeCheck(arg.ptr(), info->type))
        return false;
    const py::handle cls(reinterpret_cast<PyObject*>(info->type));
    if (!py::getattr(py::type::handle_of(arg), "__repr__", py::none()).is(cls.attr("__repr__")))
        return false;
    // What pybind11 shows when repr raises: C's repr raises on an instance
    // never constructed (after recursing, through its own message, until
    // the interpreter's limit) and on a row it can't print.
    constexpr const char* raised = "<repr raised Error>";
    pyd::make_caster<C> caster;
    if (!caster.load(arg, false)) {
        text = raised;
        return true;
    }
    try {
        text = rendering(pyd::cast_op<const C&>(caster));
    } catch (const std::exception&) {
        text = raised;
    }
    return true;
}

// The repr of an argument as the message shows it.
inline std::string render(py::handle arg)
{
    std::string text;
    bool done = false;
    boost::hana::for_each(operationsSet, [&](auto scalar) {
        using T = typename decltype(scalar)::type;
        done = done || renderAs<Vector<T>>(arg, text) || renderAs<VectorView<T>>(arg, text)
               || renderAs<Matrix<T>>(arg, text);
    });
    if (done)
        return text;
    try {
        return bounded(py::repr(arg));
    } catch (const py::error_already_set&) {
        return "<repr raised Error>";
    }
}

// Raises the TypeError for a call of the overloads from head up to end
// with these positional arguments (without a constructor's self) and
// keywords.
[[noreturn]] inline void raise(const pyd::function_record& head, const pyd::function_record* end,
                               const std::vector<py::handle>& args, py::handle kwargs)
{
    std::string msg = std::string(head.name) + "(): incompatible "
                      + std::string(head.is_constructor ? "constructor" : "function")
                      + " arguments. The following argument types are supported:\n";
    int ctr = 0;
    for (const pyd::function_record* it = &head; it != end; it = it->next) {
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
        msg += render(args[i]);
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
            msg += render(kwarg.second);
        }
    }
    if (msg.find("std::") != std::string::npos)
        msg += "\n\n"
               "Did you forget to `#include <pybind11/stl.h>`? Or <pybind11/complex.h>,\n"
               "<pybind11/functional.h>, <pybind11/chrono.h>, etc. Some automatic\n"
               "conversions are optional and require extra headers to be included\n"
               "when compiling your pybind11 module.";
    if (PyErr_Occurred())
        py::raise_from(PyExc_TypeError, msg.c_str());
    else
        PyErr_SetString(PyExc_TypeError, msg.c_str());
    throw py::error_already_set();
}

using Impl = py::handle (*)(pyd::function_call&);

// What the last record of a chain keeps: the chain's first record and, for
// a chain of one overload, that overload's own impl.
struct Chain {
    const pyd::function_record* head;
    Impl only;
};

// The default of the last record's positional parameter: no argument there.
inline PyObject* unset()
{
    static PyObject* const object = PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    return object;
}

// The last record's impl; its arguments are the first positional one (or
// unset), a tuple of the others, and a dict of the keywords.
inline py::handle refuseAll(pyd::function_call& call)
{
    if (!call.args_convert[0])
        return PYBIND11_TRY_NEXT_OVERLOAD;
    const Chain& chain = *static_cast<const Chain*>(call.func.data[0]);
    std::vector<py::handle> args;
    if (call.args[0].ptr() != unset())
        args.push_back(call.args[0]);
    for (const py::handle arg : py::reinterpret_borrow<py::tuple>(call.args[1]))
        args.push_back(arg);
    if (chain.head->is_constructor)
        args.erase(args.begin());
    raise(*chain.head, &call.func, args, call.args[2]);
}

// The impl of an overload alone in its chain: loads with conversion, as
// pybind11 tries a single overload, and raises the error on refusal.
inline py::handle tryOnce(pyd::function_call& call)
{
    const pyd::function_record& last = *call.func.next;
    std::fill(call.args_convert.begin() + (call.func.is_new_style_constructor ? 1 : 0), call.args_convert.end(), true);
    py::handle result;
    try {
        result = static_cast<const Chain*>(last.data[0])->only(call);
    } catch (py::reference_cast_error&) {
        result = PYBIND11_TRY_NEXT_OVERLOAD;
    }
    if (result.ptr() != PYBIND11_TRY_NEXT_OVERLOAD)
        return result;
    raise(call.func, &last, {call.args.begin() + (call.func.is_constructor ? 1 : 0), call.args.end()}, {});
}

// Appends the last record to the chain from head. Operators (whose refusal
// is NotImplemented) and single overloads with named, defaulted or
// variadic parameters keep pybind11's own handling.
inline void append(pyd::function_record* head)
{
    if (head == nullptr || head->is_operator)
        return;
    pyd::function_record* last = head;
    while (last->next != nullptr)
        last = last->next;
    const bool alone = last == head;
    if (last->impl == refuseAll || (alone && (!head->args.empty() || head->has_args || head->has_kwargs)))
        return;
    auto* record = new pyd::function_record();
    record->impl = refuseAll;
    record->nargs = 3;
    record->nargs_pos = 1;
    record->has_args = record->has_kwargs = true;
    record->args.emplace_back(nullptr, nullptr, py::handle(unset()).inc_ref(), true, true);
    record->data[0] = new Chain{head, alone ? std::exchange(head->impl, tryOnce) : nullptr};
    record->free_data = [](pyd::function_record* r) { delete static_cast<Chain*>(r->data[0]); };
    last->next = record;
}

// Gives the module's functions, and its classes' methods and constructors,
// the bounded error.
inline void install(const py::module_& m)
{
    for (const auto item : m.attr("__dict__").cast<py::dict>()) {
        PyObject* value = item.second.ptr();
        if (!PyType_Check(value) || !pyd::get_type_info(reinterpret_cast<PyTypeObject*>(value))) {
            append(recordsOf(value));
            continue;
        }
        for (const auto member : py::reinterpret_borrow<py::dict>(reinterpret_cast<PyTypeObject*>(value)->tp_dict))
            if (PyInstanceMethod_Check(member.second.ptr()))
                append(recordsOf(PyInstanceMethod_GET_FUNCTION(member.second.ptr())));
    }
}

} // namespace Nubra::Python::noMatch
