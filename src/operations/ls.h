#pragma once

#include "blas.h"

namespace Nubra {

namespace detail {

// Checks b before gels (its length, then that it shares no element with A,
// since gels writes both) and the status after; the arguments of one call.
struct LsCall {
    template <class T, class S>
    LsCall(const T& A, const S& b)
        : m(blasInt(A.template dim<0>())), n(blasInt(A.template dim<1>())), lda(leadingDim(A.template dim<0>()))
    {
        const size_t need = std::max<size_t>({1, A.template dim<0>(), A.template dim<1>()});
        if (b.numel() < need)
            fail("In ls, vector b has ", b.numel(), " elements, fewer than max(1, m, n) = ", need);
        if (overlaps(b.get(), need, A.get(), A.numel()))
            fail("In ls, vector b overlaps matrix A");
        ldb = blasInt(need);
    }

    static void check(lapack_int info)
    {
        if (info == LAPACK_WORK_MEMORY_ERROR || info == LAPACK_TRANSPOSE_MEMORY_ERROR)
            throw std::bad_alloc();
        if (info > 0)
            fail("In ls, matrix A is rank deficient: diagonal element ", info, " of its triangular factor is zero");
        if (info < 0)
            fail("In ls, argument ", -info, " rejected by gels");
    }

    int m, n, lda, ldb;
};

} // namespace detail

// Least-squares (m >= n) or minimum-norm (m < n) solution of A x = b: b holds
// the right-hand side in its first m elements and receives x in its first n.
// A's elements are overwritten by its factorisation.
template <class T, class S>
    requires SamplesOf<float, T, S> && TwoDimensional<T>
void ls(const T& A, S& b)
{
    const detail::LsCall c(A, b);
    c.check(LAPACKE_sgels(LAPACK_COL_MAJOR, 'N', c.m, c.n, 1, A.get(), c.lda, b.get(), c.ldb));
}

template <class T, class S>
    requires SamplesOf<double, T, S> && TwoDimensional<T>
void ls(const T& A, S& b)
{
    const detail::LsCall c(A, b);
    c.check(LAPACKE_dgels(LAPACK_COL_MAJOR, 'N', c.m, c.n, 1, A.get(), c.lda, b.get(), c.ldb));
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S> && TwoDimensional<T>
void ls(const T& A, S& b)
{
    const detail::LsCall c(A, b);
    c.check(LAPACKE_cgels(LAPACK_COL_MAJOR, 'N', c.m, c.n, 1, reinterpret_cast<lapack_complex_float*>(A.get()),
                          c.lda, reinterpret_cast<lapack_complex_float*>(b.get()), c.ldb));
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S> && TwoDimensional<T>
void ls(const T& A, S& b)
{
    const detail::LsCall c(A, b);
    c.check(LAPACKE_zgels(LAPACK_COL_MAJOR, 'N', c.m, c.n, 1, reinterpret_cast<lapack_complex_double*>(A.get()),
                          c.lda, reinterpret_cast<lapack_complex_double*>(b.get()), c.ldb));
}

} // namespace Nubra
