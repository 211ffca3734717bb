#pragma once

#include "gemv.h"

namespace Nubra {

// y <- A x + y; pass a zero-filled y for the plain product.
template <class T, class S, class R>
    requires SamplesOf<typename T::SampleType, T, S, R> && TwoDimensional<T>
R& matvec(const T& A, const S& x, R& y)
{
    using E = typename T::SampleType;
    return gemv(E(1), E(1), A, x, y);
}

} // namespace Nubra
