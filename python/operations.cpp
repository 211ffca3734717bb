// The operations of every scalar type, compiled apart from the module entry
// and the classes so that the two build side by side.
#include "operations.h"

void Nubra::Python::registerOperations(pybind11::module_& m)
{
    hana::for_each(operationsSet, [&](auto scalar) { registerOperationsOf<typename decltype(scalar)::type>(m); });
}
