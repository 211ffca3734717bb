// A standard library whose make_shared lacks arrays, as its own headers
// would say it (GCC 10's and 11's).
#include <memory>
#include <version>
#undef __cpp_lib_shared_ptr_arrays
#define __cpp_lib_shared_ptr_arrays 201611L

#include "types/Vector.h"
