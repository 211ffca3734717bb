#pragma once
// What every operation needs before its one CBLAS or LAPACKE call: the
// interfaces themselves, the narrowing of sizes to their 32-bit integers, and
// the coverage and shared-storage checks of the operands. The operations
// take complex scalars by reference: CBLAS reads them through a pointer, and
// a copy on the way costs a call a store and a load of each.

#include <cblas.h>
#include <lapacke.h>

#include <algorithm>
#include <climits>
#include <functional>

#include "../utils.h"

namespace Nubra {

// A count or dimension as the int of CBLAS and LAPACKE.
inline int blasInt(size_t n)
{
    if (n > INT_MAX)
        fail("size ", n, " exceeds the blas integer limit ", INT_MAX);
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
        fail("operand y has ", y.numel(), " elements, fewer than the ", x.numel(), " of operand x");
    return blasInt(x.numel());
}

// Whether the n elements from p and the m elements from q share any element.
// CBLAS and LAPACKE forbid an output that shares elements with another operand.
template <class E>
bool overlaps(const E* p, size_t n, const E* q, size_t m)
{
    const std::less<const E*> before;
    return n > 0 && m > 0 && before(p, q + m) && before(q, p + n);
}

// For level-1 operations that write y: whether y's first x.numel() elements
// are x's own, which the caller computes as an operation on y alone. Any
// other sharing between the two is refused.
template <class T, class S>
bool sameStretch(const T& x, const S& y)
{
    if (x.numel() > 0 && x.get() == y.get())
        return true;
    if (overlaps(x.get(), x.numel(), y.get(), x.numel()))
        fail("operand y overlaps operand x");
    return false;
}

} // namespace Nubra
