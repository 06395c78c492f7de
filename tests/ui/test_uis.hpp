// Scripted hosted UIs for tests: one that records its calls and keeps the adapters it is given, one
// that raises from every operation, one that raises events from inside its operations, one whose
// constructor raises, and a class that is no UI at all.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "KivFldCommon/IKivManagedUI.hpp"
#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace kiv::fld::testing {

/// The texts the test UIs raise with.
inline constexpr const char* kUiRefused = "the UI refused the call";
inline constexpr const char* kNoDisplay = "no display available";

/// One call a test UI received.
struct UiCall {
    std::string operation;
    /// Which UI object received it, and under which class name it was registered.
    const void* ui = nullptr;
    std::string uiClass;
    kiv::runtime::String data;
    kiv::runtime::PointerValue resources = 0;
    bool eventsGiven = false;
    bool cameraGiven = false;
};

/// What the test UIs received and hold, and how the test wants them to behave.
/// WARNING: one log at a time (UiLog::current); tests of one program run one after another.
struct UiLog {
    static inline UiLog* current = nullptr;

    std::vector<UiCall> calls;
    int constructed = 0;
    /// The adapters the keeping UIs hold on to, as a hosted UI would.
    std::vector<kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback>> events;
    std::vector<kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>> cameras;
    /// RecordingUi raises InvalidOperationError after recording (and keeping) while this is set.
    bool raise = false;
    /// The events EventRaisingUi raises from inside each of its operations.
    std::vector<kiv::runtime::String> eventsToRaise;
    /// Whether EventRaisingUi catches what an event raises (recording its text) or lets it travel on.
    bool catchEventErrors = false;
    std::vector<std::string> caughtEventErrors;
};

/// Records each call and keeps the adapters it is given.
class RecordingUi final : public KivFldCommon::IKivManagedUI {
public:
    explicit RecordingUi(std::string uiClass = "RecordingUi") : m_class(std::move(uiClass)) {
        ++UiLog::current->constructed;
    }

    void StartUI(const kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback>& callbackHandler,
                 const kiv::runtime::String& data, kiv::runtime::PointerValue resources,
                 const kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>& cameraProvider) override {
        UiLog& log = *UiLog::current;
        log.calls.push_back({"StartUI", this, m_class, data, resources, bool(callbackHandler), bool(cameraProvider)});
        log.events.push_back(callbackHandler);
        log.cameras.push_back(cameraProvider);
        if (log.raise) throw kiv::runtime::InvalidOperationError(kUiRefused);
    }
    void StopUI() override {
        UiLog::current->calls.push_back({"StopUI", this, m_class, {}, 0, false, false});
        if (UiLog::current->raise) throw kiv::runtime::InvalidOperationError(kUiRefused);
    }
    void UpdateUI(const kiv::runtime::String& data) override {
        UiLog::current->calls.push_back({"UpdateUI", this, m_class, data, 0, false, false});
        if (UiLog::current->raise) throw kiv::runtime::InvalidOperationError(kUiRefused);
    }

    /// A factory that creates RecordingUi objects registered as `uiClass`.
    static kiv::runtime::ClassFactory Named(std::string uiClass) {
        return [uiClass] { return kiv::runtime::Ref<kiv::runtime::Object>(kiv::runtime::New<RecordingUi>(uiClass)); };
    }

private:
    std::string m_class;
};

/// Raises from every operation after recording it, without keeping the adapters it was given.
class RaisingUi final : public KivFldCommon::IKivManagedUI {
public:
    void StartUI(const kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback>& callbackHandler,
                 const kiv::runtime::String& data, kiv::runtime::PointerValue resources,
                 const kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>& cameraProvider) override {
        UiLog::current->calls.push_back(
            {"StartUI", this, "RaisingUi", data, resources, bool(callbackHandler), bool(cameraProvider)});
        throw kiv::runtime::InvalidOperationError(kUiRefused);
    }
    void StopUI() override {
        UiLog::current->calls.push_back({"StopUI", this, "RaisingUi", {}, 0, false, false});
        throw kiv::runtime::InvalidOperationError(kUiRefused);
    }
    void UpdateUI(const kiv::runtime::String& data) override {
        UiLog::current->calls.push_back({"UpdateUI", this, "RaisingUi", data, 0, false, false});
        throw kiv::runtime::InvalidOperationError(kUiRefused);
    }
};

/// Raises UiLog::eventsToRaise synchronously from inside each operation, through the event
/// adapter it was given at the start, which it keeps.
class EventRaisingUi final : public KivFldCommon::IKivManagedUI {
public:
    void StartUI(const kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback>& callbackHandler,
                 const kiv::runtime::String& data, kiv::runtime::PointerValue resources,
                 const kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>& cameraProvider) override {
        UiLog::current->calls.push_back(
            {"StartUI", this, "EventRaisingUi", data, resources, bool(callbackHandler), bool(cameraProvider)});
        UiLog::current->events.push_back(callbackHandler);
        m_events = callbackHandler;
        RaiseEvents();
    }
    void StopUI() override {
        UiLog::current->calls.push_back({"StopUI", this, "EventRaisingUi", {}, 0, false, false});
        RaiseEvents();
    }
    void UpdateUI(const kiv::runtime::String& data) override {
        UiLog::current->calls.push_back({"UpdateUI", this, "EventRaisingUi", data, 0, false, false});
        RaiseEvents();
    }

private:
    void RaiseEvents() {
        if (!m_events) return;
        for (const kiv::runtime::String& event : UiLog::current->eventsToRaise) {
            if (!UiLog::current->catchEventErrors) {
                m_events->HandleEvent(event);
                continue;
            }
            try {
                m_events->HandleEvent(event);
            } catch (const std::exception& error) {
                UiLog::current->caughtEventErrors.emplace_back(error.what());
            }
        }
    }

    kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback> m_events;
};

/// Cannot be created.
class NoDisplayUi final : public KivFldCommon::IKivManagedUI {
public:
    NoDisplayUi() { throw kiv::runtime::InvalidOperationError(kNoDisplay); }
    void StartUI(const kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback>&, const kiv::runtime::String&,
                 kiv::runtime::PointerValue, const kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>&) override {}
    void StopUI() override {}
    void UpdateUI(const kiv::runtime::String&) override {}
};

/// A component class that does not implement IKivManagedUI.
class NotAUi final : public kiv::runtime::Object {};

/// Makes `T` the UI class `uiClass` while the registration lives.
template <class T>
std::unique_ptr<kiv::runtime::ClassRegistration> RegisterUi(const KivFldCommon::ManagedUIClassName& uiClass) {
    return std::make_unique<kiv::runtime::ClassRegistration>(std::string(uiClass.library),
                                                             std::string(uiClass.fullClassName),
                                                             kiv::runtime::ClassRegistration::FactoryOf<T>());
}

}  // namespace kiv::fld::testing
