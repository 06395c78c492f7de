// What every exported class shares: a value handle whose one member shares a wrapper that keeps
// one component object alive.
#pragma once

#include <memory>

#include "kiv/fld/export.hpp"

namespace kiv::fld {

/// A handle: one std::shared_ptr to a wrapper, defined only inside the library. Copies share the
/// wrapper; the last copy to go releases the component object, on whichever thread that is.
/// Copying, moving and assigning behave exactly as the std::shared_ptr does and cannot fail.
/// WARNING: one handle object is not safe for concurrent assignment; distinct copies are.
template <class Wrapper>
class KIV_FLD_API BasicHandle {
public:
    /// An empty handle, which converts to false.
    BasicHandle() noexcept;
    /// Takes `wrapper` over.
    explicit BasicHandle(std::shared_ptr<Wrapper> wrapper) noexcept;
    BasicHandle(const BasicHandle& other) noexcept;
    /// Leaves `other` empty.
    BasicHandle(BasicHandle&& other) noexcept;
    ~BasicHandle();
    BasicHandle& operator=(const BasicHandle& other) noexcept;
    /// Leaves `other` empty.
    BasicHandle& operator=(BasicHandle&& other) noexcept;

    /// True when the handle shares a wrapper that refers to a component object.
    explicit operator bool() const noexcept;

protected:
    std::shared_ptr<Wrapper> m_wrapper;
};

}  // namespace kiv::fld
