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

// Vectors and views: a header line, then one bracketed element per line.
template <class T, class StreamType>
    requires(!TwoDimensional<T>)
void show(const T& x, StreamType& stream)
{
    stream << "Column vector of size: " << x.numel() << std::endl;
    for (size_t i = 0; i < x.numel(); ++i) {
        stream << "[";
        detail::writeElement(stream, x[i]);
        stream << "]" << std::endl;
    }
}

// Matrices: a header line, then one line per row; past four columns a row
// shows columns 0 to 2, "...", and the last column.
template <class T, class StreamType>
    requires TwoDimensional<T>
void show(const T& x, StreamType& stream)
{
    constexpr size_t numColumns = 3;
    const size_t rows = x.template dim<0>();
    const size_t cols = x.template dim<1>();
    stream << "Matrix of size: (" << rows << ", " << cols << ")" << std::endl;
    for (size_t i = 0; i < rows; ++i) {
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
}

} // namespace Nubra
