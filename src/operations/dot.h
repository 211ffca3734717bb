#pragma once

#include "blas.h"

namespace Nubra {

// The complex result cblas_?dot?_sub wrote to parts. The routines store the
// real and imaginary parts one at a time, so they are read one at a time: a
// load of both at once can't take its value from the two stores and waits
// for them to reach the cache (some 2 ns a call).
template <class T>
std::complex<T> fromParts(const T (&parts)[2])
{
    const volatile T* part = parts;
    return {part[0], part[1]};
}

// Sum of x[i] y[i] over the elements of x, without conjugation; y must
// cover at least as many.
template <class T, class S>
    requires SamplesOf<float, T, S>
float dot(const T& x, S& y)
{
    return cblas_sdot(coveredCount(x, y), x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<double, T, S>
double dot(const T& x, S& y)
{
    return cblas_ddot(coveredCount(x, y), x.get(), 1, y.get(), 1);
}

template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
std::complex<float> dot(const T& x, S& y)
{
    float result[2];
    cblas_cdotu_sub(coveredCount(x, y), x.get(), 1, y.get(), 1, result);
    return fromParts(result);
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
std::complex<double> dot(const T& x, S& y)
{
    double result[2];
    cblas_zdotu_sub(coveredCount(x, y), x.get(), 1, y.get(), 1, result);
    return fromParts(result);
}

// Sum of conj(x[i]) y[i]; complex types only.
template <class T, class S>
    requires SamplesOf<std::complex<float>, T, S>
std::complex<float> hdot(const T& x, S& y)
{
    float result[2];
    cblas_cdotc_sub(coveredCount(x, y), x.get(), 1, y.get(), 1, result);
    return fromParts(result);
}

template <class T, class S>
    requires SamplesOf<std::complex<double>, T, S>
std::complex<double> hdot(const T& x, S& y)
{
    double result[2];
    cblas_zdotc_sub(coveredCount(x, y), x.get(), 1, y.get(), 1, result);
    return fromParts(result);
}

} // namespace Nubra
