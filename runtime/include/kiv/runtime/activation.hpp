// Activation: creating a component class by name, from the component library that provides it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "kiv/runtime/export.hpp"
#include "kiv/runtime/object.hpp"

namespace kiv::runtime {

/// Creates one object with the class's parameterless constructor.
using ClassFactory = std::function<Ref<Object>()>;

/// Registers a component class in-process for as long as the registration lives (tests, and
/// component libraries registering their classes when they are loaded). A later registration of
/// the same class hides an earlier one until it ends.
class KIV_RUNTIME_API ClassRegistration {
public:
    ClassRegistration(std::string library, std::string fullClassName, ClassFactory factory);
    ~ClassRegistration();
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;

    /// Convenience for a class constructible without arguments.
    template <class T>
    static ClassFactory FactoryOf() {
        return [] { return Ref<Object>(New<T>()); };
    }

private:
    std::uint64_t m_id;
};

/// Creates an object of `fullClassName` (e.g. "KivFldEmail.EmailClient") from the component
/// library `library` (e.g. "KivFldEmail"). A class registered in-process wins; otherwise
/// lib<library>.so is loaded on first use from beside the executable, beside this runtime
/// library, or from the folders of KIVFLD_COMPONENT_PATH (colon-separated), and registers its
/// classes as it loads. Raises TypeLoadError naming the library and the paths tried when it
/// cannot be found or loaded, or when it lacks the class; passes on what the constructor raises.
KIV_RUNTIME_API Ref<Object> Activate(std::string_view library, std::string_view fullClassName);

/// Activate, then the cast to the contract `T`; raises InvalidCastError if the class does not
/// implement it.
template <class T>
Ref<T> ActivateAs(std::string_view library, std::string_view fullClassName) {
    return Activate(library, fullClassName).template Cast<T>();
}

namespace testing {

/// Replaces the folders searched for component libraries while it lives, so that a test can show
/// what happens when a library is missing even though the real one is built beside the runtime.
/// Libraries already loaded stay loaded.
class KIV_RUNTIME_API ScopedProbingFolders {
public:
    explicit ScopedProbingFolders(std::vector<std::filesystem::path> folders);
    ~ScopedProbingFolders();
    ScopedProbingFolders(const ScopedProbingFolders&) = delete;
    ScopedProbingFolders& operator=(const ScopedProbingFolders&) = delete;
};

}  // namespace testing

}  // namespace kiv::runtime
