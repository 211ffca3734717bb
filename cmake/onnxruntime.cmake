# Finds ONNX Runtime >= 1.17 and provides the imported target `onnxruntime`.
# Looked for in order: ONNXRUNTIME_ROOT, an installed CMake package,
# pkg-config, then the copy in NUBRA_BUNDLED_ORT (include/ and lib/): the
# one scripts/bootstrap puts into .deps, or the one an install of nubra
# ships. NUBRA_ORT_BUNDLED tells whether that copy is the one found.

set(ONNXRUNTIME_ROOT "$ENV{ONNXRUNTIME_ROOT}" CACHE PATH "ONNX Runtime install prefix")
set(NUBRA_ORT_BUNDLED FALSE)

function(_ort_from_folder include_dir lib_dir)
  find_library(_ort_lib onnxruntime PATHS ${lib_dir} NO_DEFAULT_PATH REQUIRED)
  add_library(onnxruntime SHARED IMPORTED GLOBAL)
  set_target_properties(onnxruntime PROPERTIES
    IMPORTED_LOCATION ${_ort_lib}
    INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
  message(STATUS "ONNX Runtime: ${_ort_lib}")
endfunction()

if(ONNXRUNTIME_ROOT)
  find_path(_ort_include onnxruntime_cxx_api.h
    PATHS ${ONNXRUNTIME_ROOT}/include ${ONNXRUNTIME_ROOT}/include/onnxruntime NO_DEFAULT_PATH REQUIRED)
  _ort_from_folder(${_ort_include} ${ONNXRUNTIME_ROOT}/lib)
  return()
endif()

find_package(onnxruntime 1.17 CONFIG QUIET)
if(onnxruntime_FOUND)
  add_library(onnxruntime INTERFACE IMPORTED GLOBAL)
  target_link_libraries(onnxruntime INTERFACE onnxruntime::onnxruntime)
  message(STATUS "ONNX Runtime: CMake package ${onnxruntime_VERSION}")
  return()
endif()

pkg_check_modules(ORT QUIET IMPORTED_TARGET GLOBAL libonnxruntime>=1.17)
if(ORT_FOUND)
  add_library(onnxruntime INTERFACE IMPORTED GLOBAL)
  target_link_libraries(onnxruntime INTERFACE PkgConfig::ORT)
  message(STATUS "ONNX Runtime: pkg-config ${ORT_VERSION}")
  return()
endif()

if(NOT EXISTS ${NUBRA_BUNDLED_ORT}/include/onnxruntime_cxx_api.h)
  message(FATAL_ERROR "ONNX Runtime not found: run scripts/bootstrap or set ONNXRUNTIME_ROOT")
endif()
_ort_from_folder(${NUBRA_BUNDLED_ORT}/include ${NUBRA_BUNDLED_ORT}/lib)
set(NUBRA_ORT_BUNDLED TRUE)
