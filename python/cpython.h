#pragma once
// What differs between the CPython versions the fast paths are written for
// (switch.h), in one block: reading a small int, and the type flags under
// which CPython lays out an instance's dict and weak references itself.

#include "switch.h"

#if NUBRA_FAST_PATHS

namespace Nubra::Python {

#if PY_VERSION_HEX >= 0x030C0000
inline constexpr unsigned long managedLayout = Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT | Py_TPFLAGS_MANAGED_WEAKREF;

// The value of an exact int of one digit at most, which indices and
// coordinates are in practice; false for any other object.
inline bool smallInt(PyObject* object, long& value)
{
    if (!PyLong_CheckExact(object) || !PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(object)))
        return false;
    value = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(object));
    return true;
}
#else
inline constexpr unsigned long managedLayout = Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT;

inline bool smallInt(PyObject* object, long& value)
{
    if (!PyLong_CheckExact(object) || Py_SIZE(object) < -1 || Py_SIZE(object) > 1)
        return false;
    value = Py_SIZE(object) * static_cast<long>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
    return true;
}
#endif

} // namespace Nubra::Python

#endif
