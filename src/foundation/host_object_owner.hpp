// Sole ownership of a host object by an adapter that the component side may release at any time,
// also while another of its threads is still calling into the host object.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

namespace kiv::fld {

/// Owns one host object alone and deletes it exactly once, after Release and after every call made
/// through Invoke/InvokeOr has returned, on the thread that finishes last. Takes no lock: one
/// atomic word holds a released flag and the number of calls in progress.
/// WARNING: the owner itself must outlive every call; adapters keep their object alive for the
/// duration of each call (KeepAlive), so that only the host object's end needs this guard.
template <class Host>
class HostObjectOwner {
public:
    /// Owns nothing; every call does nothing.
    HostObjectOwner() noexcept = default;
    /// Takes `host` over; an empty pointer gives an owner of nothing.
    explicit HostObjectOwner(std::unique_ptr<Host> host) noexcept : m_host(host.release()) {}
    HostObjectOwner(const HostObjectOwner&) = delete;
    HostObjectOwner& operator=(const HostObjectOwner&) = delete;
    /// Releases, in case no release came (nothing can be in use once the owner goes).
    ~HostObjectOwner() { Release(); }

    /// Returns `call(host)` with the host object in use, so that a concurrent Release cannot delete
    /// it before `call` returns or raises. Without a host object (never held, or released) returns
    /// `absent` and calls nothing. What `call` raises passes through.
    template <class Result, class Call>
    Result InvokeOr(Result absent, Call&& call) {
        const InUse inUse(*this);
        Host* host = inUse.Get();
        if (!host) return absent;
        return std::forward<Call>(call)(*host);
    }

    /// The same for calls that return nothing.
    template <class Call>
    void Invoke(Call&& call) {
        const InUse inUse(*this);
        if (Host* host = inUse.Get()) std::forward<Call>(call)(*host);
    }

    /// Gives the host object up: deleted now if no call is in progress, else by the last call to
    /// return. Later calls find no host object. Any number of releases delete it once.
    void Release() noexcept {
        // Only a first release with no call in progress deletes here; otherwise the last call does.
        if (m_state.fetch_or(kReleased, std::memory_order_acq_rel) == 0) DeleteHost();
    }

private:
    static constexpr std::uint32_t kReleased = std::uint32_t{1} << 31;

    // One call in progress. A call that enters after the release backs out at once; leaving is
    // the same for both, so whoever takes the count to zero after the release deletes.
    class InUse {
    public:
        explicit InUse(HostObjectOwner& owner) noexcept : m_owner(owner) {
            const std::uint32_t before = m_owner.m_state.fetch_add(1, std::memory_order_acq_rel);
            if ((before & kReleased) == 0) m_host = m_owner.m_host.load(std::memory_order_acquire);
        }
        ~InUse() {
            const std::uint32_t before = m_owner.m_state.fetch_sub(1, std::memory_order_acq_rel);
            if (before == (kReleased | 1)) m_owner.DeleteHost();
        }
        InUse(const InUse&) = delete;
        InUse& operator=(const InUse&) = delete;

        /// The host object, or null when there is none to call.
        Host* Get() const noexcept { return m_host; }

    private:
        HostObjectOwner& m_owner;
        Host* m_host = nullptr;
    };

    // Both Release and the last call out may get here; the exchange lets only the first delete.
    void DeleteHost() noexcept { delete m_host.exchange(nullptr, std::memory_order_acq_rel); }

    std::atomic<Host*> m_host{nullptr};
    std::atomic<std::uint32_t> m_state{0};
};

}  // namespace kiv::fld
