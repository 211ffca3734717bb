#pragma once

#include <array>
#include <utility>

#include "../utils.h"

namespace Nubra {

// Owning dense matrix in column-major order: element (i, j) is storage
// element i + j * rows. Copies share the zero-initialised storage.
template <class T>
class Matrix {
public:
    using SampleType = T;

    Matrix(size_t numRows, size_t numCols)
        : m_dim{numRows, numCols}, m_numel(elementCount(numRows, numCols)), m_data(makeStorage<T>(m_numel))
    {
    }

    T* get() const { return m_data.get(); }

    T& operator[](std::pair<size_t, size_t> idx) { return m_data[location(idx)]; }
    T operator[](std::pair<size_t, size_t> idx) const { return m_data[location(idx)]; }

    size_t numel() const { return m_numel; }

    template <size_t idx>
    size_t dim() const
        requires(idx < 2)
    {
        return m_dim[idx];
    }

private:
    static size_t elementCount(size_t numRows, size_t numCols)
    {
        if (numCols != 0 && numRows > SIZE_MAX / numCols)
            throw std::bad_array_new_length();
        return numRows * numCols;
    }

    size_t location(std::pair<size_t, size_t> idx) const
    {
        const auto [i, j] = idx;
        const size_t loc = i + j * m_dim[0];
        if (loc >= m_numel)
            fail("requested array index ", loc, " exceeds max number of elements ", m_numel);
        if (i >= m_dim[0])
            fail("index for dimension 0 ", i, " exceeds max number of elements for that dimension ", m_dim[0]);
        if (j >= m_dim[1])
            fail("index for dimension 1 ", j, " exceeds max number of elements for that dimension ", m_dim[1]);
        return loc;
    }

    const std::array<size_t, 2> m_dim;
    const size_t m_numel;
    std::shared_ptr<T[]> m_data;
};

} // namespace Nubra
