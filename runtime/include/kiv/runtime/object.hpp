// Component objects and the strong references that keep them alive.
//
// Every component object derives (virtually, so that a class may implement several contracts)
// from Object. A Ref is a strong reference: while one exists the object lives. When the last Ref
// goes, the object is reclaimed: deleted at once, or, if it asked for finalization, handed to the
// runtime's finalizer thread, which runs Finalize() and then deletes it (see collector.hpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/export.hpp"

namespace kiv::runtime {

template <class T>
class Ref;

/// A native address or module handle carried unchanged across the boundary.
using PointerValue = std::intptr_t;

class KIV_RUNTIME_API Object {
public:
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    /// Storage comes from the runtime allocator, so exhaustion raises OutOfMemoryError.
    static void* operator new(std::size_t size);
    static void operator delete(void* memory) noexcept;

    /// Number of component objects alive in the process (created and not yet deleted).
    static std::int64_t LiveCount() noexcept;

protected:
    Object() noexcept;
    virtual ~Object();

    /// Asks the runtime to run Finalize() when it reclaims this object.
    void RegisterForFinalize() noexcept;
    /// Tells the runtime that this object needs no finalization any more.
    void SuppressFinalize() noexcept;
    /// Runs on the runtime's finalizer thread before a registered object is deleted.
    /// WARNING: must not store `this` anywhere: the object is deleted right after.
    virtual void Finalize() noexcept {}

private:
    template <class T>
    friend class Ref;
    friend class Collector;

    void AddStrongReference() const noexcept;
    void ReleaseStrongReference() const noexcept;
    void Reclaim() noexcept;

    // Starts at one: the reference that New hands out, so a constructor may safely share `this`.
    mutable std::atomic<std::uint32_t> m_strongReferences{1};
    std::atomic<bool> m_finalizerRegistered{false};
};

/// A strong reference: one pointer, keeps its object alive while it exists; may be released on
/// any thread. An empty Ref refers to nothing (a null object reference).
template <class T>
class Ref {
public:
    using element_type = T;

    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}

    /// Takes a new strong reference to an object the caller already keeps alive.
    static Ref To(T* object) noexcept { return Ref(object); }

    Ref(const Ref& other) noexcept : Ref(other.m_object) {}
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& other) noexcept : Ref(static_cast<T*>(other.Get())) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(Ref<U>&& other) noexcept : m_object(static_cast<T*>(other.Detach())) {}

    Ref& operator=(Ref other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~Ref() { Reset(); }

    void Reset() noexcept {
        if (T* object = std::exchange(m_object, nullptr)) AsObject(object)->ReleaseStrongReference();
    }

    T* Get() const noexcept { return m_object; }
    T* operator->() const noexcept { return m_object; }
    T& operator*() const noexcept { return *m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }

    /// The same object through another contract, or an empty Ref if it does not implement it.
    template <class U>
    Ref<U> As() const noexcept {
        return Ref<U>::To(dynamic_cast<U*>(m_object));
    }
    /// The same object through another contract; raises InvalidCastError if it does not
    /// implement it. An empty Ref stays empty.
    template <class U>
    Ref<U> Cast() const {
        if (!m_object) return {};
        Ref<U> result = As<U>();
        if (!result) throw InvalidCastError("The component object does not implement the requested contract.");
        return result;
    }

    /// Gives up ownership without releasing.
    T* Detach() noexcept { return std::exchange(m_object, nullptr); }

    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.m_object == b.m_object; }
    friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.m_object == nullptr; }

private:
    template <class U>
    friend class Ref;
    template <class U, class... Args>
    friend Ref<U> New(Args&&... args);

    static const Object* AsObject(const T* object) noexcept { return object; }

    explicit Ref(T* object) noexcept : m_object(object) {
        if (m_object) AsObject(m_object)->AddStrongReference();
    }
    struct Adopt {};
    Ref(T* object, Adopt) noexcept : m_object(object) {}

    T* m_object = nullptr;
};

static_assert(sizeof(Ref<Object>) == sizeof(void*), "a strong reference is pointer-sized");

/// Creates a component object; raises OutOfMemoryError when the runtime cannot allocate it and
/// passes on whatever its constructor raises.
template <class T, class... Args>
Ref<T> New(Args&&... args) {
    // The object is born holding one reference, which the new Ref adopts.
    return Ref<T>(new T(std::forward<Args>(args)...), typename Ref<T>::Adopt{});
}

/// Keeps an object from being reclaimed until the end of the enclosing scope, even if every
/// other reference goes away meanwhile (for a call that must outlive its caller's reference).
class KeepAlive {
public:
    explicit KeepAlive(Object& object) noexcept : m_reference(Ref<Object>::To(&object)) {}
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;

private:
    Ref<Object> m_reference;
};

/// Explicit release of what an object owns, before or instead of its finalization.
class KIV_RUNTIME_API IDisposable : public virtual Object {
public:
    virtual void Dispose() = 0;

protected:
    ~IDisposable() override;
};

}  // namespace kiv::runtime
