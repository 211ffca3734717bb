#pragma once

#include <algorithm>
#include <iomanip>
#include <ostream>

#include "../utils.h"

namespace Nubra {

namespace detail {
constexpr int width = 14;

// Every element in scientific notation with 14 digits, in a field of 14.
template <class StreamType, class E>
void writeElement(StreamType& stream, const E& value)
{
    stream << std::setw(width) << std::setprecision(width) << std::scientific << value;
}
} // namespace detail

// The printed form of x has a header line, then one line per element of a
// vector or view, or per row of a matrix.
template <class T>
size_t shownLines(const T& x)
{
    if constexpr (TwoDimensional<T>)
        return 1 + x.template dim<0>();
    else
        return 1 + x.numel();
}

// Line `line` of the printed form of a vector or view: the header, or one
// bracketed element.
template <class T, class StreamType>
    requires(!TwoDimensional<T>)
void showLine(const T& x, size_t line, StreamType& stream)
{
    if (line == 0) {
        stream << "Column vector of size: " << x.numel() << std::endl;
        return;
    }
    stream << "[";
    detail::writeElement(stream, x[line - 1]);
    stream << "]" << std::endl;
}

// Line `line` of the printed form of a matrix: the header, or a row; past
// four columns a row shows columns 0 to 2, "...", and the last column.
template <class T, class StreamType>
    requires TwoDimensional<T>
void showLine(const T& x, size_t line, StreamType& stream)
{
    constexpr size_t numColumns = 3;
    const size_t rows = x.template dim<0>();
    const size_t cols = x.template dim<1>();
    if (line == 0) {
        stream << "Matrix of size: (" << rows << ", " << cols << ")" << std::endl;
        return;
    }
    const size_t i = line - 1;
    stream << "[";
    for (size_t j = 0; j < std::min(cols - 1, numColumns); ++j) {
        detail::writeElement(stream, x[{i, j}]);
        stream << ", ";
    }
    if (cols > numColumns + 1)
        stream << "..., ";
    detail::writeElement(stream, x[{i, cols - 1}]);
    stream << "]" << std::endl;
}

template <class T, class StreamType>
void show(const T& x, StreamType& stream)
{
    for (size_t line = 0; line < shownLines(x); ++line)
        showLine(x, line, stream);
}

} // namespace Nubra
