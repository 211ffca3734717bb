#pragma once
// Whether the fast paths are built in, and whether they are on.
//
// They lean on CPython's internals (adapter.h lists them), which differ
// between versions: they are built in for the CPython versions that
// pyproject.toml lists, and compiled out for any other, where the module
// runs on pybind11's own paths. Everything else of the call layer (the
// guards, the bounded message, the caster of the module's classes) is in
// every build. The versions reach the compiler from pyproject.toml through
// CMake (the target nubra_binding).
//
// NUBRACORE_FAST_PATHS in the environment at import: 0, false, no or off
// (any case) turns them off; report keeps them on and tells on stderr which
// functions and methods got one.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include <pybind11/pybind11.h>

#if !defined(NUBRA_PYBIND11_VERSION) || !defined(NUBRA_FIRST_PYTHON) || !defined(NUBRA_LAST_PYTHON)
#error "the versions are pyproject.toml's, given by CMake to the targets that link nubra_binding"
#endif

#if (PY_VERSION_HEX >> 16) >= NUBRA_FIRST_PYTHON && (PY_VERSION_HEX >> 16) <= NUBRA_LAST_PYTHON
#define NUBRA_FAST_PATHS 1
#else
#define NUBRA_FAST_PATHS 0
#endif

namespace Nubra::Python {

// The setting, lower-cased.
inline const std::string fastPathSetting = [] {
    const char* setting = std::getenv("NUBRACORE_FAST_PATHS");
    std::string value = setting ? setting : "";
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
    return value;
}();

inline const bool fastPaths = NUBRA_FAST_PATHS && fastPathSetting != "0" && fastPathSetting != "false"
                              && fastPathSetting != "no" && fastPathSetting != "off";

} // namespace Nubra::Python
