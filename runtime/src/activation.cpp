// The registry of component classes and activation by name.
#include "kiv/runtime/activation.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace kiv::runtime {
namespace {

struct RegisteredClass {
    std::uint64_t id;
    std::string library;
    std::string fullClassName;
    ClassFactory factory;
};

class ClassRegistry {
public:
    static ClassRegistry& Instance() {
        static ClassRegistry* instance = new ClassRegistry;
        return *instance;
    }

    std::uint64_t Add(std::string library, std::string fullClassName, ClassFactory factory) {
        std::lock_guard lock(m_mutex);
        const std::uint64_t id = ++m_lastId;
        m_classes.push_back({id, std::move(library), std::move(fullClassName), std::move(factory)});
        return id;
    }

    void Remove(std::uint64_t id) {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_classes, [id](const RegisteredClass& c) { return c.id == id; });
    }

    // The factory is copied out so that the constructor runs without the registry locked.
    ClassFactory Find(std::string_view library, std::string_view fullClassName) {
        std::lock_guard lock(m_mutex);
        for (auto it = m_classes.rbegin(); it != m_classes.rend(); ++it)
            if (it->library == library && it->fullClassName == fullClassName) return it->factory;
        return nullptr;
    }

private:
    std::mutex m_mutex;
    std::vector<RegisteredClass> m_classes;
    std::uint64_t m_lastId = 0;
};

std::mutex g_probingOverrideMutex;
std::optional<std::vector<std::filesystem::path>> g_probingOverride;

// Folders searched for lib<Name>.so, in order: beside the executable (the application base),
// beside the runtime library (installed beside the bridge), then KIVFLD_COMPONENT_PATH.
std::vector<std::filesystem::path> ProbingFolders() {
    {
        std::lock_guard lock(g_probingOverrideMutex);
        if (g_probingOverride) return *g_probingOverride;
    }
    std::vector<std::filesystem::path> folders;
    auto addFolder = [&folders](std::filesystem::path folder) {
        if (folder.empty()) return;
        for (const auto& known : folders)
            if (known == folder) return;
        folders.push_back(std::move(folder));
    };
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) addFolder(executable.lexically_normal().parent_path());
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ProbingFolders), &info) && info.dli_fname)
        addFolder(std::filesystem::absolute(info.dli_fname, error).lexically_normal().parent_path());
    if (const char* extra = std::getenv("KIVFLD_COMPONENT_PATH")) {
        std::string_view rest(extra);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            addFolder(std::filesystem::path(rest.substr(0, colon)));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    return folders;
}

// Loads lib<library>.so from the probing folders; its static registrations add its classes.
// Loaded libraries stay loaded for the life of the process.
void LoadComponentLibrary(std::string_view library) {
    static std::mutex loaderMutex;
    static std::set<std::string, std::less<>> loaded;
    std::lock_guard lock(loaderMutex);
    if (loaded.contains(library)) return;
    const std::string fileName = "lib" + std::string(library) + ".so";
    std::string tried;
    for (const auto& folder : ProbingFolders()) {
        const auto candidate = folder / fileName;
        if (!tried.empty()) tried += ", ";
        tried += candidate.string();
        std::error_code error;
        if (!std::filesystem::exists(candidate, error)) continue;
        if (!dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            const char* reason = dlerror();
            throw TypeLoadError("Could not load component library '" + std::string(library) + "' from " +
                                candidate.string() + ": " + (reason ? reason : "unknown error") + ".");
        }
        loaded.emplace(library);
        return;
    }
    throw TypeLoadError("Could not load component library '" + std::string(library) + "': " + fileName +
                        " was not found (tried " + tried + ").");
}

}  // namespace

namespace testing {

ScopedProbingFolders::ScopedProbingFolders(std::vector<std::filesystem::path> folders) {
    std::lock_guard lock(g_probingOverrideMutex);
    g_probingOverride = std::move(folders);
}

ScopedProbingFolders::~ScopedProbingFolders() {
    std::lock_guard lock(g_probingOverrideMutex);
    g_probingOverride.reset();
}

}  // namespace testing

ClassRegistration::ClassRegistration(std::string library, std::string fullClassName, ClassFactory factory)
    : m_id(ClassRegistry::Instance().Add(std::move(library), std::move(fullClassName), std::move(factory))) {}

ClassRegistration::~ClassRegistration() { ClassRegistry::Instance().Remove(m_id); }

Ref<Object> Activate(std::string_view library, std::string_view fullClassName) {
    ClassFactory factory = ClassRegistry::Instance().Find(library, fullClassName);
    if (!factory) {
        LoadComponentLibrary(library);
        factory = ClassRegistry::Instance().Find(library, fullClassName);
    }
    if (!factory)
        throw TypeLoadError("Could not load type '" + std::string(fullClassName) + "' from component library '" +
                            std::string(library) + "'.");
    return factory();
}

}  // namespace kiv::runtime
