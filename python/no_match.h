#pragma once
// The TypeError of a call that no overload takes, worded as pybind11's
// dispatcher words it, with each argument's rendering bounded: one of more
// than ten lines shows its first four, a line "...", and its last. The
// module's containers render just those lines, so a failed call costs
// little whatever their sizes.
//
// Each overload chain gets two last records of its own. The first takes
// any positional call: it refuses in the pass without conversion and raises
// the error in the pass with it, once every overload has refused. The
// second raises it at once for a call with keywords, which no overload
// takes. A chain of one overload keeps pybind11's single try with
// conversion: its overload raises the error itself when it refuses, and the
// last records take only calls it never saw (a wrong count of arguments,
// keywords).
//
// Built on pybind11 2.10.3's internals: function_record (impl, next, data,
// free_data, args, nargs, nargs_pos, has_args, has_kwargs, is_method,
// is_constructor, is_new_style_constructor, is_operator, name, signature),
// argument_record, function_call, PYBIND11_TRY_NEXT_OVERLOAD, raise_from,
// and cpp_function::dispatcher: its two passes, how it fills a record of
// one positional parameter with a default, *args and **kwargs, which
// records it tries again with conversion, and its message.

#include <algorithm>
#include <cstdint>
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
        boost::hana::for_each(containerSet<typename decltype(scalar)::type>, [&](auto container) {
            done = done || renderAs<typename decltype(container)::type>(arg, text);
        });
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
    setTypeError(std::move(msg));
    throw py::error_already_set();
}

using Impl = py::handle (*)(pyd::function_call&);

// What the records appended to a chain keep: the chain's first record, the
// first appended one (where the chain's own overloads end) and, for a chain
// of one overload, that overload's own impl.
struct Chain {
    const pyd::function_record* head;
    const pyd::function_record* end;
    Impl only;
};

inline const Chain& chainOf(const pyd::function_record& record)
{
    return *static_cast<const Chain*>(record.data[0]);
}

// The default of the positional record's parameters: no argument there.
inline PyObject* unset()
{
    static PyObject* const object = PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
    return object;
}

// Raises the error for the arguments of a call, without a constructor's self.
[[noreturn]] inline void raiseFor(const Chain& chain, std::vector<py::handle> args, py::handle kwargs)
{
    if (chain.head->is_constructor)
        args.erase(args.begin());
    raise(*chain.head, chain.end, args, kwargs);
}

// The positional record's impl: its parameters are as many positional ones
// as the chain's longest overload takes, unset where not given, then a tuple
// of any others. It takes no keywords, so pybind11 makes it no dict: nothing
// it holds is owned by the call, which outlives the conversions of the second
// pass (a daemon thread ended at exit unwinds through it without the GIL).
inline py::handle refusePositional(pyd::function_call& call)
{
    if (!call.args_convert[0])
        return PYBIND11_TRY_NEXT_OVERLOAD;
    std::vector<py::handle> args;
    for (size_t i = 0; i < call.func.nargs_pos; ++i)
        if (call.args[i].ptr() != unset())
            args.push_back(call.args[i]);
    for (const py::handle arg : py::reinterpret_borrow<py::tuple>(call.args[call.func.nargs_pos]))
        args.push_back(arg);
    raiseFor(chainOf(call.func), std::move(args), {});
}

// The keyword record's impl, tried in the first pass only: no overload of
// the chain takes keywords, so a call with some is refused at once.
inline py::handle refuseKeywords(pyd::function_call& call)
{
    const py::handle kwargs = call.args[1];
    if (PyDict_GET_SIZE(kwargs.ptr()) == 0)
        return PYBIND11_TRY_NEXT_OVERLOAD;
    const auto positional = py::reinterpret_borrow<py::tuple>(call.args[0]);
    raiseFor(chainOf(*static_cast<const pyd::function_record*>(call.func.data[0])),
             {positional.begin(), positional.end()}, kwargs);
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
    raise(call.func, chain.end, {call.args.begin() + (call.func.is_constructor ? 1 : 0), call.args.end()}, {});
}

// Appends the records that raise the error to the chain from head: one for
// positional calls, tried in the pass with conversion, and one for calls
// with keywords. Operators (whose refusal is NotImplemented), chains that
// take keywords and single overloads with named, defaulted or variadic
// parameters keep pybind11's own handling.
inline void append(pyd::function_record* head)
{
    if (head == nullptr || head->is_operator)
        return;
    pyd::function_record* last = head;
    size_t positional = 1;
    for (pyd::function_record* record = head;; record = record->next) {
        if (record->impl == refuseKeywords || record->has_kwargs
            || std::any_of(record->args.begin(), record->args.end(), [](const auto& arg) { return arg.name != nullptr; }))
            return;
        positional = std::max<size_t>(positional, record->nargs_pos);
        if (record->next == nullptr) {
            last = record;
            break;
        }
    }
    const bool alone = last == head;
    if (alone && (!head->args.empty() || head->has_args))
        return;
    auto* positionalRecord = new pyd::function_record();
    positionalRecord->impl = refusePositional;
    positionalRecord->nargs = static_cast<std::uint16_t>(positional + 1);
    positionalRecord->nargs_pos = static_cast<std::uint16_t>(positional);
    positionalRecord->has_args = true;
    for (size_t i = 0; i < positional; ++i)
        positionalRecord->args.emplace_back(nullptr, nullptr, py::handle(unset()).inc_ref(), true, true);
    positionalRecord->data[0] = new Chain{head, positionalRecord, alone ? std::exchange(head->impl, tryOnce) : nullptr};
    positionalRecord->free_data = [](pyd::function_record* r) { delete static_cast<Chain*>(r->data[0]); };
    auto* keywordRecord = new pyd::function_record();
    keywordRecord->impl = refuseKeywords;
    keywordRecord->nargs = 2;
    keywordRecord->has_args = keywordRecord->has_kwargs = true;
    keywordRecord->data[0] = positionalRecord;
    positionalRecord->next = keywordRecord;
    last->next = positionalRecord;
}

// Gives the module's functions, and its classes' methods and constructors,
// the bounded error.
inline void appendRecords(const py::module_& m)
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
