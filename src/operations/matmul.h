#pragma once

#include "gemm.h"

namespace Nubra {

// Y <- A X + Y; pass a zero-filled Y for the plain product.
template <class T, class S, class R>
    requires SamplesOf<typename T::SampleType, T, S, R> && TwoDimensional<T> && TwoDimensional<S> && TwoDimensional<R>
R& matmul(const T& A, const S& X, R& Y)
{
    using E = typename T::SampleType;
    return gemm(E(1), E(1), A, X, Y);
}

} // namespace Nubra
