# Cross-building for aarch64 with Debian's cross compiler, against the arm64
# tree of scripts/sysroot (NUBRA_SYSROOT): its OpenBLAS, LAPACKE, Boost and
# pybind11; the cross compiler's own glibc and libstdc++. Packages and
# pkg-config files are taken from that tree alone, so that no header of the
# host is included.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NUBRA_SYSROOT)

set(CMAKE_FIND_ROOT_PATH ${NUBRA_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} ${NUBRA_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${NUBRA_SYSROOT})

# What the linked libraries need in turn (LAPACKE: BLAS, LAPACK) is found in the tree.
set(_libs ${NUBRA_SYSROOT}/usr/lib/aarch64-linux-gnu)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_libs}:${_libs}/openblas-pthread")
endforeach()
