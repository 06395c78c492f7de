// The registry of component classes and activation by name.
#include "kiv/runtime/activation.hpp"

#include <mutex>
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

}  // namespace

ClassRegistration::ClassRegistration(std::string library, std::string fullClassName, ClassFactory factory)
    : m_id(ClassRegistry::Instance().Add(std::move(library), std::move(fullClassName), std::move(factory))) {}

ClassRegistration::~ClassRegistration() { ClassRegistry::Instance().Remove(m_id); }

Ref<Object> Activate(std::string_view library, std::string_view fullClassName) {
    ClassFactory factory = ClassRegistry::Instance().Find(library, fullClassName);
    if (!factory)
        throw TypeLoadError("Could not load type '" + std::string(fullClassName) + "' from component library '" +
                            std::string(library) + "'.");
    return factory();
}

}  // namespace kiv::runtime
