// The runtime's growable, ordered list (a component object, passed by reference).
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/memory.hpp"
#include "kiv/runtime/object.hpp"

namespace kiv::runtime {

template <class T>
class List final : public Object {
public:
    /// An empty list that holds `capacity` elements before it has to grow.
    /// Raises ArgumentOutOfRangeError for a negative capacity.
    explicit List(std::int32_t capacity = 0) {
        if (capacity < 0) throw ArgumentOutOfRangeError("Non-negative number required.");
        Reserve(capacity);
    }
    ~List() override {
        for (std::int32_t i = 0; i < m_count; ++i) m_items[i].~T();
        Free(m_items);
    }

    std::int32_t Count() const noexcept { return m_count; }
    std::int32_t Capacity() const noexcept { return m_capacity; }
    /// Raises ArgumentOutOfRangeError outside 0 .. Count()-1.
    const T& operator[](std::int32_t index) const {
        if (index < 0 || index >= m_count) throw ArgumentOutOfRangeError("Index was out of range.");
        return m_items[index];
    }
    const T* begin() const noexcept { return m_items; }
    const T* end() const noexcept { return m_items + m_count; }

    /// Appends at the end, growing the storage only when it is full.
    void Add(T item) {
        if (m_count == m_capacity) Reserve(m_capacity == 0 ? 4 : GrownCapacity());
        new (m_items + m_count) T(std::move(item));
        ++m_count;
    }

private:
    std::int32_t GrownCapacity() const {
        if (m_capacity >= INT32_MAX / 2) {
            if (m_capacity == INT32_MAX) throw OutOfMemoryError("The list cannot grow any further.");
            return INT32_MAX;
        }
        return m_capacity * 2;
    }
    void Reserve(std::int32_t capacity) {
        if (capacity <= m_capacity) return;
        T* items = static_cast<T*>(Allocate(sizeof(T) * static_cast<std::size_t>(capacity)));
        for (std::int32_t i = 0; i < m_count; ++i) {
            new (items + i) T(std::move(m_items[i]));
            m_items[i].~T();
        }
        Free(m_items);
        m_items = items;
        m_capacity = capacity;
    }

    T* m_items = nullptr;
    std::int32_t m_count = 0;
    std::int32_t m_capacity = 0;
};

}  // namespace kiv::runtime
