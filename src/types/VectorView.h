#pragma once

#include <utility>

#include "../utils.h"

namespace Nubra {

// A contiguous window onto a vector's shared storage. Offsets are absolute,
// so a view of a view refers to the storage directly.
template <class T>
class VectorView {
public:
    using SampleType = T;

    VectorView(const std::pair<size_t, size_t>& range, const std::shared_ptr<T[]>& data)
        : m_numel(range.second - range.first), m_offset(range.first), m_data(data)
    {
    }

    T* get() const { return m_data.get() + m_offset; }

    T& operator[](size_t idx) { return get()[checkedIndex(idx, m_numel)]; }
    T operator[](size_t idx) const { return get()[checkedIndex(idx, m_numel)]; }

    // Elements first up to, not including, last, counted within this view.
    VectorView operator[](const std::pair<size_t, size_t>& range) const
    {
        const auto [first, last] = range;
        if (last > m_numel)
            fail("index ", last, " exceeds max number of elements ", m_numel);
        if (first > last)
            fail("range start ", first, " exceeds range end ", last);
        return VectorView({first + m_offset, last + m_offset}, m_data);
    }

    size_t numel() const { return m_numel; }

    template <size_t idx>
    size_t dim() const
        requires(idx == 0)
    {
        return m_numel;
    }

private:
    const size_t m_numel;
    const size_t m_offset;
    std::shared_ptr<T[]> m_data;
};

} // namespace Nubra
