// KivManagedUi and its four kinds: validity test, the adapters for the host's objects, one call on
// the hosted UI, and every failure turned into false or an empty handle.
#include "kiv/fld/managed_ui.hpp"

#include "KivFldCommon/ManagedUIClasses.hpp"
#include "KivFldRegisterBoxManagedUI/KivFldRegisterBoxManagedUI.hpp"
#include "KivFldSettingsManagedUI/KivFldSettingsManagedUI.hpp"
#include "camera/camera_provider.hpp"
#include "foundation/component_call.hpp"
#include "foundation/marshal.hpp"
#include "ui/managed_ui_callback.hpp"
#include "ui/managed_ui_wrapper.hpp"

namespace kiv::fld {
namespace {

// The UI policy of a factory: whatever fails, the caller gets an empty handle of the kind.
template <class Kind>
Kind CreateManagedUi(const KivFldCommon::ManagedUIClassName& uiClass) {
    Kind ui;
    static_cast<KivManagedUi&>(ui) = ResultOrOnFailure(KivManagedUi(), [&] {
        return CreateHandle<KivManagedUi, KivManagedUiWrapper>(uiClass.library, uiClass.fullClassName);
    });
    return ui;
}

}  // namespace

template class BasicHandle<KivManagedUiWrapper>;

// The order of the steps decides who deletes which host object when a step fails: the camera goes
// into its adapter first, the callback last, right before the hosted UI is called.
bool KivManagedUi::StartUI(std::unique_ptr<IKivManagedUiCallback> callbackHandler, const std::string& data,
                           HINSTANCE resources, std::unique_ptr<IKivCameraProvider> cameraProvider) {
    using kiv::runtime::Ref;
    bool result = false;
    if (*this) {
        result = ResultOrOnFailure(false, [&] {
            Ref<KivFldCommon::IKivCameraProvider> camera;
            if (cameraProvider) camera = kiv::runtime::New<KivCameraProvider>(std::move(cameraProvider));
            const Ref<KivFldCommon::IKivManagedUI>& ui = m_wrapper->root;
            const auto resourcesValue = reinterpret_cast<kiv::runtime::PointerValue>(resources);
            const auto componentData = zul::marshal::marshal_as<zul::marshal::ComponentString>(data);
            const Ref<KivFldCommon::IKivManagedUICallback> events =
                kiv::runtime::New<KivManagedUiCallback>(std::move(callbackHandler));
            ui->StartUI(events, componentData, resourcesValue, camera);
            return true;
        });
    }
    // Whatever did not reach an adapter is deleted now: the callback first, then the camera.
    callbackHandler.reset();
    cameraProvider.reset();
    return result;
}

bool KivManagedUi::StopUI() {
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        m_wrapper->root->StopUI();
        return true;
    });
}

bool KivManagedUi::UpdateUI(const std::string& data) {
    if (!*this) return false;
    return ResultOrOnFailure(false, [&] {
        const auto& ui = m_wrapper->root;
        const auto componentData = zul::marshal::marshal_as<zul::marshal::ComponentString>(data);
        ui->UpdateUI(componentData);
        return true;
    });
}

InfoBoxManagedUi InfoBoxManagedUi::CreateInstance() {
    return CreateManagedUi<InfoBoxManagedUi>(KivFldCommon::KivFldInfoBoxManagedUIClass);
}

RegisterBoxManagedUi RegisterBoxManagedUi::CreateInstance() {
    return CreateManagedUi<RegisterBoxManagedUi>(KivFldRegisterBoxManagedUI::KivFldRegisterBoxManagedUIClass);
}

SettingsManagedUi SettingsManagedUi::CreateInstance() {
    return CreateManagedUi<SettingsManagedUi>(KivFldSettingsManagedUI::KivFldSettingsManagedUIClass);
}

MapAreasManagedUi MapAreasManagedUi::CreateInstance() {
    return CreateManagedUi<MapAreasManagedUi>(KivFldCommon::KivFldMapAreasManagedUIClass);
}

}  // namespace kiv::fld
