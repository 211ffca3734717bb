#pragma once

#include "VectorView.h"

namespace Nubra {

// Owning dense vector; copies share the zero-initialised storage.
template <class T>
class Vector {
public:
    using SampleType = T;

    explicit Vector(size_t size) : m_numel(size), m_data(makeStorage<T>(size)) {}

    T* get() const { return m_data.get(); }

    T& operator[](size_t idx) { return m_data[checkedIndex(idx, m_numel)]; }
    T operator[](size_t idx) const { return m_data[checkedIndex(idx, m_numel)]; }

    // Elements first up to, not including, last, sharing this storage.
    VectorView<T> operator[](const std::pair<size_t, size_t>& range) const
    {
        return VectorView<T>({0, m_numel}, m_data)[range];
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
    std::shared_ptr<T[]> m_data;
};

} // namespace Nubra
