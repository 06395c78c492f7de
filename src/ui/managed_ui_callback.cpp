// KivManagedUiCallback: one conversion and one host call per event, with the adapter kept alive and
// the host callback in use until the host has returned.
#include "ui/managed_ui_callback.hpp"

#include <optional>
#include <string>
#include <utility>

#include "foundation/marshal.hpp"

namespace kiv::fld {

KivManagedUiCallback::KivManagedUiCallback(std::unique_ptr<kiv::fld::IKivManagedUiCallback> callback) noexcept
    : m_callback(std::move(callback)) {
    RegisterForFinalize();
}

void KivManagedUiCallback::HandleEvent(const kiv::runtime::String& data) {
    // The hosted UI may drop its last reference while the host handles the event.
    const kiv::runtime::KeepAlive keepAlive(*this);
    m_callback.Invoke([&](kiv::fld::IKivManagedUiCallback& callback) {
        auto text = zul::marshal::marshal_as<std::optional<std::string>>(data);
        if (!text) text.emplace();
        callback.HandleEvent(*text);
    });
}

void KivManagedUiCallback::Dispose() {
    m_callback.Release();
    SuppressFinalize();
}

void KivManagedUiCallback::Finalize() noexcept { m_callback.Release(); }

}  // namespace kiv::fld
