#pragma once
// Whether the fast paths are built in, and whether they are on.
//
// They lean on the internals of pybind11 2.10.3 and of CPython 3.11 to 3.15
// (each header that does names what it uses); with any other version they
// are compiled out and the module runs on pybind11's own paths.
// NUBRACORE_FAST_PATHS in the environment at import: 0, false, no or off
// (any case) turns them off; report keeps them on and tells on stderr which
// functions and methods got one.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include <pybind11/pybind11.h>

#if PYBIND11_VERSION_HEX == 0x020A0300 && PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x03100000
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
