#pragma once
// Whether the fast paths are built in, and whether they are on.
//
// They lean on the internals of one pybind11 release and of a range of
// CPython versions, given here once (each header that leans on them names
// what it uses); with any other version they are compiled out and the
// module runs on pybind11's own paths.
// NUBRACORE_FAST_PATHS in the environment at import: 0, false, no or off
// (any case) turns them off; report keeps them on and tells on stderr which
// functions and methods got one.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include <pybind11/pybind11.h>

// pybind11's version as PYBIND11_VERSION_HEX; the first and the last CPython
// as major and minor (0x030B is 3.11).
#define NUBRA_PYBIND11_VERSION 0x020A0300
#define NUBRA_FIRST_PYTHON 0x030B
#define NUBRA_LAST_PYTHON 0x030F

#if PYBIND11_VERSION_HEX == NUBRA_PYBIND11_VERSION && (PY_VERSION_HEX >> 16) >= NUBRA_FIRST_PYTHON \
    && (PY_VERSION_HEX >> 16) <= NUBRA_LAST_PYTHON
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
