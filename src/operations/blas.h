#pragma once
// What every operation needs before its one CBLAS or LAPACKE call: the
// interfaces themselves, the narrowing of sizes to their 32-bit integers and
// the coverage check of the level-1 operations.

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <climits>

#include "utils.h"

namespace Nubra {

// A count or dimension as the int of CBLAS and LAPACKE.
inline int blasInt(size_t n)
{
    if (n > INT_MAX)
        throw std::runtime_error(cat("size ", n, " exceeds the blas integer limit ", INT_MAX));
    return static_cast<int>(n);
}

// Leading dimension of a column-major matrix with this many rows.
inline int leadingDim(size_t rows)
{
    return blasInt(std::max<size_t>(1, rows));
}

// The element count of x, after making sure y covers at least as many.
template <class T, class S>
int coveredCount(const T& x, const S& y)
{
    if (y.numel() < x.numel())
        throw std::runtime_error(
            cat("operand y has ", y.numel(), " elements, fewer than the ", x.numel(), " of operand x"));
    return blasInt(x.numel());
}

} // namespace Nubra
