#pragma once
// How each argument shows in the TypeError of a call that no overload takes
// (adapter.h words the message as pybind11 does): as its repr, cut to its
// first four lines, a line "...", and its last when it has more than ten.
// A container of the module, alone or anywhere inside tuples, lists and
// dicts, shows those lines of its printed form, made from just those lines,
// so a failed call costs little whatever the sizes. Lines are counted by
// "\n", as they print. It touches a class's repr slot through the adapter's
// interface (adapter.h) only, and objects through the C API.

#include <algorithm>
#include <sstream>
#include <string>

#include <boost/hana.hpp>
#include <pybind11/pybind11.h>

#include "adapter.h"
#include "operations/show.h"
#include "scalars.h"
#include "state.h"

namespace Nubra::Python::message {

namespace py = pybind11;

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

// Thrown where repr would raise.
struct Raised {};

std::string shown(PyObject* object);

// Renders object into text if it is a container of class C whose class
// keeps the __repr__ it was registered with. C's repr raises on an instance
// never constructed and on a row it can't print.
template <class C>
bool renderAs(PyObject* object, std::string& text)
{
    const ClassRecord<C>& record = classRecord<C>();
    if (record.repr == nullptr || !PyObject_TypeCheck(object, record.type))
        return false;
    PyObject* repr = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__repr__");
    if (repr == nullptr)
        throw Raised{};
    Py_DECREF(repr);
    if (repr != record.repr)
        return false;
    try {
        text = rendering(*py::cast<const C*>(py::handle(object)));
    } catch (const std::exception&) {
        throw Raised{};
    }
    return true;
}

// Shows an item the caller holds a reference to, and releases it.
inline std::string shownItem(PyObject* item)
{
    std::string text;
    try {
        text = shown(item);
    } catch (const Raised&) {
        Py_DECREF(item);
        throw;
    }
    Py_DECREF(item);
    return text;
}

// The items of a tuple, list or dict, each shown by each(i), false after
// the last, between their brackets as their repr puts them; a container
// met again inside itself shows as its repr shows it.
template <class Each>
std::string items(PyObject* object, const char* open, const char* close, Each each)
{
    const int entered = Py_ReprEnter(object);
    if (entered < 0)
        throw Raised{};
    if (entered > 0)
        return std::string(open) + "..." + close;
    std::string text = open, item;
    try {
        for (Py_ssize_t i = 0; each(i, item); ++i)
            text += (i > 0 ? ", " : "") + item;
    } catch (const Raised&) {
        Py_ReprLeave(object);
        throw;
    }
    Py_ReprLeave(object);
    return text + close;
}

// What the repr of a tuple, list or dict shows.
inline std::string shownItems(PyObject* object, adapter::Repr repr)
{
    if (repr == adapter::Repr::tuple)
        return items(object, "(", PyTuple_GET_SIZE(object) == 1 ? ",)" : ")", [&](Py_ssize_t i, std::string& item) {
            return i < PyTuple_GET_SIZE(object) && (item = shownItem(Py_NewRef(PyTuple_GET_ITEM(object, i))), true);
        });
    if (repr == adapter::Repr::list)
        return items(object, "[", "]", [&](Py_ssize_t i, std::string& item) {
            return i < PyList_GET_SIZE(object) && (item = shownItem(Py_NewRef(PyList_GET_ITEM(object, i))), true);
        });
    Py_ssize_t position = 0;
    return items(object, "{", "}", [&](Py_ssize_t, std::string& item) {
        PyObject *key, *value;
        if (!PyDict_Next(object, &position, &key, &value))
            return false;
        Py_INCREF(key);
        Py_INCREF(value);
        try {
            item = shown(key);
        } catch (const Raised&) {
            Py_DECREF(key);
            Py_DECREF(value);
            throw;
        }
        Py_DECREF(key);
        item += ": " + shownItem(value);
        return true;
    });
}

// An object as its repr shows it, with the module's containers bounded.
// References are plain: a daemon thread ended at exit unwinds through here,
// from a repr of Python code, without the GIL, and must not touch them then.
inline std::string shown(PyObject* object)
{
    std::string text;
    bool done = false;
    boost::hana::for_each(operationsSet, [&](auto scalar) {
        boost::hana::for_each(containerSet<typename decltype(scalar)::type>, [&](auto container) {
            done = done || renderAs<typename decltype(container)::type>(object, text);
        });
    });
    if (done)
        return text;
    const adapter::Repr repr = adapter::reprOf(object);
    if (repr == adapter::Repr::other) {
        PyObject* rendered = PyObject_Repr(object);
        Py_ssize_t size;
        const char* utf8 = rendered ? PyUnicode_AsUTF8AndSize(rendered, &size) : nullptr;
        if (utf8 != nullptr)
            text.assign(utf8, size);
        Py_XDECREF(rendered);
        if (utf8 == nullptr)
            throw Raised{};
        return text;
    }
    if (Py_EnterRecursiveCall(" while getting the repr of an object"))
        throw Raised{};
    try {
        text = shownItems(object, repr);
    } catch (const Raised&) {
        Py_LeaveRecursiveCall();
        throw;
    }
    Py_LeaveRecursiveCall();
    return text;
}

// An argument as the message shows it.
inline std::string render(py::handle argument)
{
    try {
        return bounded(shown(argument.ptr()));
    } catch (const Raised&) {
        PyErr_Clear();
        return "<repr raised Error>";
    }
}

} // namespace Nubra::Python::message
