#pragma once
// Opens namespace Nubra: the scalar-type constraint, message building and
// element storage shared by the containers and the operations.

#include <complex>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

namespace Nubra {

// "This overload is for scalar type E": every container argument holds E.
template <class E, class... Containers>
concept SamplesOf = (std::same_as<typename Containers::SampleType, E> && ...);

// Matrices answer dim<1>(); vectors and views refuse it at compile time.
template <class T>
concept TwoDimensional = requires(const T& x) { x.template dim<1>(); };

// Concatenates message pieces; numbers print in plain decimal.
template <class... Pieces>
std::string cat(const Pieces&... pieces)
{
    std::ostringstream text;
    (text << ... << pieces);
    return text.str();
}

// Bounds test of element access on vectors and views.
inline size_t checkedIndex(size_t idx, size_t numel)
{
    if (idx >= numel)
        throw std::runtime_error(cat("index ", idx, " exceeds max number of elements ", numel));
    return idx;
}

// A zero-filled shared array of count elements. A count whose byte size
// can't exist is refused before the shared-array factory sees it.
template <class T>
std::shared_ptr<T[]> makeStorage(size_t count)
{
    if (count > PTRDIFF_MAX / sizeof(T))
        throw std::bad_array_new_length();
    return std::make_shared<T[]>(count);
}

} // namespace Nubra
