// Component strings: immutable UTF-16 text that may be null.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>

#include "kiv/runtime/export.hpp"

namespace kiv::runtime {

/// Immutable UTF-16 code units, at most MaxLength of them, zero units allowed inside, or null.
/// Null and empty are different values. Copies share the storage (atomic count), so a String
/// may be copied and destroyed on any thread.
class KIV_RUNTIME_API String {
public:
    static constexpr std::int32_t MaxLength = 2147483647;

    /// The null string.
    String() noexcept = default;
    String(std::nullptr_t) noexcept {}
    /// A copy of `units`; raises ArgumentOutOfRangeError beyond MaxLength units and
    /// OutOfMemoryError when the runtime cannot allocate.
    explicit String(std::u16string_view units);
    /// The empty (not null) string; never allocates.
    static String Empty() noexcept;

    /// Creates a string of exactly `length` units whose storage `fill(char16_t*)` writes in
    /// place; no zero-filling happens first. `fill` must write every unit. Raises as the
    /// constructor does; what `fill` raises passes through and nothing is kept.
    template <class Fill>
    static String Create(std::int32_t length, Fill&& fill) {
        String result;
        char16_t* storage = result.AllocateUninitialized(length);
        std::forward<Fill>(fill)(storage);
        return result;
    }

    String(const String& other) noexcept;
    String(String&& other) noexcept : m_block(std::exchange(other.m_block, nullptr)) {}
    String& operator=(String other) noexcept {
        std::swap(m_block, other.m_block);
        return *this;
    }
    ~String();

    bool IsNull() const noexcept { return m_block == nullptr; }
    /// Number of units; 0 for the null string.
    std::int32_t Length() const noexcept;
    /// The units, followed by a zero unit that is not part of the text; null for the null string.
    /// WARNING: valid only while this String (or a copy sharing its storage) exists.
    const char16_t* Data() const noexcept;
    std::u16string_view View() const noexcept { return {Data(), static_cast<std::size_t>(Length())}; }

    /// Equal when both are null, or both are non-null with the same units.
    friend KIV_RUNTIME_API bool operator==(const String& a, const String& b) noexcept;

private:
    struct Block;
    static Block* EmptyBlock() noexcept;
    char16_t* AllocateUninitialized(std::int32_t length);

    Block* m_block = nullptr;
};

static_assert(sizeof(String) == sizeof(void*));

}  // namespace kiv::runtime
