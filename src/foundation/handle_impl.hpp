// Definitions of the handle members; each handle family instantiates them once, in its source,
// where its wrapper is complete.
#pragma once

#include <memory>
#include <string_view>
#include <utility>

#include "kiv/fld/handle.hpp"
#include "kiv/runtime/activation.hpp"

namespace kiv::fld {

template <class Wrapper>
BasicHandle<Wrapper>::BasicHandle() noexcept = default;
template <class Wrapper>
BasicHandle<Wrapper>::BasicHandle(std::shared_ptr<Wrapper> wrapper) noexcept : m_wrapper(std::move(wrapper)) {}
template <class Wrapper>
BasicHandle<Wrapper>::BasicHandle(const BasicHandle& other) noexcept = default;
template <class Wrapper>
BasicHandle<Wrapper>::BasicHandle(BasicHandle&& other) noexcept = default;
template <class Wrapper>
BasicHandle<Wrapper>::~BasicHandle() = default;
template <class Wrapper>
BasicHandle<Wrapper>& BasicHandle<Wrapper>::operator=(const BasicHandle& other) noexcept = default;
template <class Wrapper>
BasicHandle<Wrapper>& BasicHandle<Wrapper>::operator=(BasicHandle&& other) noexcept = default;

template <class Wrapper>
BasicHandle<Wrapper>::operator bool() const noexcept {
    return m_wrapper && m_wrapper->root;
}

/// A wrapper: one strong reference, created with its count block in one allocation, never copied.
template <class Component>
struct ComponentRoot {
    explicit ComponentRoot(kiv::runtime::Ref<Component> object) noexcept : root(std::move(object)) {}
    ComponentRoot(const ComponentRoot&) = delete;
    ComponentRoot& operator=(const ComponentRoot&) = delete;

    kiv::runtime::Ref<Component> root;
};

/// The common steps of a factory: create the component class `fullClassName` of `library`, which
/// must implement the wrapper's contract, and root it in a new wrapper. Whatever fails is raised;
/// the caller decides whether it escapes.
template <class Handle, class Wrapper>
Handle CreateHandle(std::string_view library, std::string_view fullClassName) {
    using Contract = typename decltype(Wrapper::root)::element_type;
    auto object = kiv::runtime::ActivateAs<Contract>(library, fullClassName);
    return Handle(std::make_shared<Wrapper>(std::move(object)));
}

/// The same for a wrapper whose contract is itself the component class.
template <class Handle, class Wrapper>
Handle CreateHandle() {
    using Component = typename decltype(Wrapper::root)::element_type;
    return CreateHandle<Handle, Wrapper>(Component::kLibrary, Component::kClassName);
}

}  // namespace kiv::fld
