// Storage of component strings: one block with a shared count, the length and the units.
#include "kiv/runtime/string.hpp"

#include <atomic>
#include <cstring>
#include <new>

#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/memory.hpp"

namespace kiv::runtime {

struct String::Block {
    std::atomic<std::uint32_t> references;
    std::int32_t length;
    bool immortal;
    char16_t units[1];  // length units and a terminating zero unit follow

    static std::size_t SizeFor(std::int32_t length) {
        return offsetof(Block, units) + (static_cast<std::size_t>(length) + 1) * sizeof(char16_t);
    }
};

char16_t* String::AllocateUninitialized(std::int32_t length) {
    if (length < 0) throw ArgumentOutOfRangeError("Length cannot be less than zero.");
    if (length == 0) {
        m_block = EmptyBlock();
        return m_block->units;
    }
    void* memory = Allocate(Block::SizeFor(length));
    Block* block = static_cast<Block*>(memory);
    new (&block->references) std::atomic<std::uint32_t>(1);
    block->length = length;
    block->immortal = false;
    block->units[length] = u'\0';
    m_block = block;
    return block->units;
}

String::String(std::u16string_view units) {
    if (units.size() > static_cast<std::size_t>(MaxLength))
        throw ArgumentOutOfRangeError("Size of string exceeds INT_MAX.");
    char16_t* storage = AllocateUninitialized(static_cast<std::int32_t>(units.size()));
    if (!units.empty()) std::memcpy(storage, units.data(), units.size() * sizeof(char16_t));
}

String String::Empty() noexcept {
    String result;
    result.m_block = EmptyBlock();
    return result;
}

String::String(const String& other) noexcept : m_block(other.m_block) {
    if (m_block && !m_block->immortal) m_block->references.fetch_add(1, std::memory_order_relaxed);
}

String::~String() {
    if (!m_block || m_block->immortal) return;
    // A sole owner needs no atomic read-modify-write: nobody else can take a share meanwhile.
    if (m_block->references.load(std::memory_order_acquire) == 1 ||
        m_block->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_block->references.~atomic();
        Free(m_block);
    }
}

std::int32_t String::Length() const noexcept { return m_block ? m_block->length : 0; }
const char16_t* String::Data() const noexcept { return m_block ? m_block->units : nullptr; }

bool operator==(const String& a, const String& b) noexcept {
    if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull();
    return a.View() == b.View();
}

String::Block* String::EmptyBlock() noexcept {
    static Block block{{1}, 0, true, {u'\0'}};
    return &block;
}

}  // namespace kiv::runtime
