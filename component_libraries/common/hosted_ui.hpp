// What the sample UI libraries share: each started UI runs on a UI thread of its own, which shows
// the view, applies updates, raises the events and, when the UI stops, closes the view and
// releases the event and camera adapters that the host gave, exactly as a windowed UI would.
#pragma once

#include <locale.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "KivFldCommon/IKivCameraProvider.hpp"
#include "KivFldCommon/IKivManagedUI.hpp"
#include "KivFldCommon/IKivManagedUICallback.hpp"
#include "common/terminal.hpp"
#include "common/utf16.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace kivfld::components {

class UiContext;

/// What a UI shows. Every member runs on the UI's thread only, so a view needs no lock for its own
/// state; Show runs first, Close last.
class UiView {
public:
    virtual ~UiView() = default;
    virtual void Show(UiContext& context) = 0;
    virtual void Close(UiContext& context) = 0;
    /// How long after the last tick (or Show) Tick runs again; none for never. Asked after each task.
    virtual std::optional<std::chrono::milliseconds> TickInterval() const { return std::nullopt; }
    virtual void Tick(UiContext&) {}
};

/// Work for a UI thread.
using UiTask = std::function<void(UiView&, UiContext&)>;

/// The queue of a UI thread. Any thread may post; once closed, posts are refused and the UI thread
/// runs what was queued before it ends. Objects that outlive the UI (a frame receiver that the
/// host camera still holds) keep a share of it and post into the void after the end.
class UiMailbox {
public:
    /// Queues `task`; false when the mailbox is closed.
    bool Post(UiTask task) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_closed) return false;
            m_tasks.push_back(std::move(task));
        }
        m_changed.notify_one();
        return true;
    }
    /// Refuses later posts and lets the UI thread end once the queue is empty.
    void Close() {
        {
            const std::lock_guard lock(m_mutex);
            m_closed = true;
        }
        m_changed.notify_one();
    }

    /// For the UI thread: the next task; an empty task when `deadline` passes first; none when the
    /// mailbox is closed and empty.
    std::optional<UiTask> Wait(std::optional<std::chrono::steady_clock::time_point> deadline) {
        std::unique_lock lock(m_mutex);
        auto ready = [this] { return !m_tasks.empty() || m_closed; };
        if (deadline) {
            if (!m_changed.wait_until(lock, *deadline, ready)) return UiTask();
        } else {
            m_changed.wait(lock, ready);
        }
        if (m_tasks.empty()) return std::nullopt;
        UiTask task = std::move(m_tasks.front());
        m_tasks.pop_front();
        return task;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<UiTask> m_tasks;
    bool m_closed = false;
};

/// What a view may use on its UI thread: the host's event receiver and camera, terminal output,
/// and the mailbox for objects that hand work to the UI thread.
class UiContext {
public:
    UiContext(std::string prefix, TerminalStyle style, kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback> events,
              kiv::runtime::Ref<KivFldCommon::IKivCameraProvider> camera, std::shared_ptr<UiMailbox> mailbox)
        : m_prefix(std::move(prefix)),
          m_style(style),
          m_events(std::move(events)),
          m_camera(std::move(camera)),
          m_mailbox(std::move(mailbox)) {}

    /// Raises one event (UTF-8) to the host and waits until it is handled. What the delivery
    /// raises (a host exception, text the host's code page cannot hold) is reported on the terminal
    /// and goes no further: one failed event does not end the UI.
    void Raise(std::string_view event) {
        if (!m_events) return;
        try {
            m_events->HandleEvent(ToComponentString(event));
        } catch (const std::exception& error) {
            Print("event '" + Printable(event, m_style) + "' not delivered: " + Printable(error.what(), m_style));
        } catch (...) {
            Print("event '" + Printable(event, m_style) + "' not delivered");
        }
    }

    /// Prints lines, already printable, after the UI's prefix.
    void Print(const std::vector<std::string>& lines) const { WriteLines(m_prefix, lines); }
    void Print(const std::string& line) const { WriteLines(m_prefix, {line}); }

    TerminalStyle Style() const noexcept { return m_style; }
    /// The host's camera; empty when the host gave none.
    const kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>& Camera() const noexcept { return m_camera; }
    const std::shared_ptr<UiMailbox>& Mailbox() const noexcept { return m_mailbox; }

    /// Disposes of the event and camera adapters, in that order, and drops them: the host objects
    /// inside are deleted now, on this thread.
    void ReleaseAdapters() noexcept {
        Release(m_events);
        Release(m_camera);
    }

private:
    template <class T>
    static void Release(kiv::runtime::Ref<T>& adapter) noexcept {
        try {
            if (const auto disposable = adapter.template As<kiv::runtime::IDisposable>()) disposable->Dispose();
        } catch (...) {
            // Release reports nothing; the reference is dropped all the same.
        }
        adapter.Reset();
    }

    std::string m_prefix;
    TerminalStyle m_style;
    kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback> m_events;
    kiv::runtime::Ref<KivFldCommon::IKivCameraProvider> m_camera;
    std::shared_ptr<UiMailbox> m_mailbox;
};

/// A copy of the calling thread's own locale (one set with uselocale), so that the UI thread
/// converts event texts in the code page of the thread that started the UI. Empty when that thread
/// uses the global locale, which the UI thread then uses too.
class InheritedLocale {
public:
    static InheritedLocale OfCallingThread() noexcept {
        InheritedLocale inherited;
        const locale_t current = uselocale(static_cast<locale_t>(0));
        if (current != LC_GLOBAL_LOCALE) inherited.m_locale = duplocale(current);
        return inherited;
    }
    InheritedLocale() noexcept = default;
    InheritedLocale(InheritedLocale&& other) noexcept : m_locale(std::exchange(other.m_locale, locale_t())) {}
    InheritedLocale& operator=(InheritedLocale&&) = delete;
    ~InheritedLocale() {
        if (m_locale) freelocale(m_locale);
    }

    /// WARNING: the thread must Leave before this object ends.
    void Enter() const noexcept {
        if (m_locale) uselocale(m_locale);
    }
    void Leave() const noexcept {
        if (m_locale) uselocale(LC_GLOBAL_LOCALE);
    }

private:
    locale_t m_locale = locale_t();
};

/// One run of a UI, from StartUI to the end of its UI thread.
/// WARNING: the UI thread holds a share of its session until its last step, so the session may
/// end on that thread; it then detaches the thread, which does nothing more afterwards.
class UiSession : public std::enable_shared_from_this<UiSession> {
public:
    /// Starts the UI thread, which shows `view` first. Raises InvalidOperationError when no thread
    /// can be started, after releasing the adapters.
    static std::shared_ptr<UiSession> Start(std::unique_ptr<UiView> view, UiContext context, InheritedLocale locale) {
        auto session =
            std::shared_ptr<UiSession>(new UiSession(std::move(view), std::move(context), std::move(locale)));
        try {
            session->m_thread = std::thread([self = session]() mutable {
                self->Run();
                // The last use of the session on this thread: it may end here.
                self.reset();
            });
        } catch (const std::system_error& error) {
            session->m_context.ReleaseAdapters();
            throw kiv::runtime::InvalidOperationError(std::string("Could not start the UI thread: ") + error.what());
        }
        return session;
    }

    ~UiSession() {
        if (!m_thread.joinable()) return;
        if (std::this_thread::get_id() == m_thread.get_id()) {
            m_thread.detach();
        } else {
            m_thread.join();
        }
    }
    UiSession(const UiSession&) = delete;
    UiSession& operator=(const UiSession&) = delete;

    /// Runs `task` on the UI thread after what is queued; from any other thread waits until it has
    /// run. False when the UI is closing.
    bool Invoke(UiTask task) {
        if (OnUiThread()) return m_context.Mailbox()->Post(std::move(task));
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        const bool posted = m_context.Mailbox()->Post([task = std::move(task), done](UiView& view, UiContext& context) {
            struct Signal {
                std::promise<void>& promise;
                ~Signal() { promise.set_value(); }
            } signal{*done};
            task(view, context);
        });
        if (!posted) return false;
        finished.wait();
        return true;
    }

    /// Asks the UI to close: what is queued runs, then the view closes and the adapters are released.
    void Close() { m_context.Mailbox()->Close(); }

    /// Waits for the UI thread to end; several threads may wait. Returns at once on the UI thread.
    void Join() {
        if (OnUiThread()) return;
        const std::lock_guard lock(m_joinMutex);
        if (m_thread.joinable()) m_thread.join();
    }

    bool OnUiThread() const noexcept { return std::this_thread::get_id() == m_uiThreadId.load(); }

private:
    UiSession(std::unique_ptr<UiView> view, UiContext context, InheritedLocale locale)
        : m_view(std::move(view)), m_context(std::move(context)), m_locale(std::move(locale)) {}

    void Run() {
        m_uiThreadId = std::this_thread::get_id();
        m_locale.Enter();
        Guarded("showing", [&] { m_view->Show(m_context); });
        auto nextTick = NextTick();
        while (std::optional<UiTask> task = m_context.Mailbox()->Wait(nextTick)) {
            if (*task) {
                Guarded("updating", [&] { (*task)(*m_view, m_context); });
                // The interval may have changed; a tick that is due stays due.
                if (const auto next = NextTick(); !nextTick || !next || *next < *nextTick) nextTick = next;
            } else {
                Guarded("ticking", [&] { m_view->Tick(m_context); });
                nextTick = NextTick();
            }
        }
        Guarded("closing", [&] { m_view->Close(m_context); });
        m_view.reset();
        m_context.ReleaseAdapters();
        m_locale.Leave();
    }

    std::optional<std::chrono::steady_clock::time_point> NextTick() const {
        const auto interval = m_view->TickInterval();
        if (!interval) return std::nullopt;
        return std::chrono::steady_clock::now() + *interval;
    }

    // Nothing may leave the UI thread: what a view lets escape is reported and the UI goes on.
    template <class Step>
    void Guarded(const char* doing, Step&& step) {
        try {
            step();
        } catch (const std::exception& error) {
            m_context.Print(std::string("error while ") + doing + ": " + Printable(error.what(), m_context.Style()));
        } catch (...) {
            m_context.Print(std::string("error while ") + doing);
        }
    }

    std::unique_ptr<UiView> m_view;
    UiContext m_context;
    InheritedLocale m_locale;
    std::atomic<std::thread::id> m_uiThreadId{};
    std::mutex m_joinMutex;
    std::thread m_thread;
};

/// A hosted UI class over a view type. `View` provides:
/// - `static constexpr std::string_view kPrefix`, the prefix of its terminal output;
/// - `using StartData`, `static StartData ParseStart(std::string_view utf8)`, a constructor from
///   StartData; `using UpdateData`, `static UpdateData ParseUpdate(std::string_view utf8)`, and
///   `void Update(const UpdateData&, UiContext&)`. The parsers run on the caller's thread and raise
///   ArgumentError for data they refuse, so that the caller learns of it.
///
/// StartUI starts the UI thread, in the locale of the calling thread, and returns; a second
/// StartUI while the UI runs is refused.
/// UpdateUI returns once the update is shown and its events are raised; StopUI once the UI thread
/// has closed the view, raised its last events, released the adapters and ended. Called from the
/// UI's own thread (inside an event), UpdateUI and StopUI only queue their work.
/// WARNING: a UI dropped while running stops as StopUI would; dropped on its own UI thread, it
/// finishes closing after the event that dropped it.
template <class View>
class TerminalManagedUI : public KivFldCommon::IKivManagedUI {
public:
    TerminalManagedUI() = default;
    ~TerminalManagedUI() override {
        if (m_session) {
            m_session->Close();
            m_session->Join();
        }
    }

    /// Refused data and a refused start release both adapters before raising, so the host objects
    /// inside are deleted before the host's StartUI returns.
    void StartUI(const kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback>& callbackHandler,
                 const kiv::runtime::String& data, kiv::runtime::PointerValue /*resources*/,
                 const kiv::runtime::Ref<KivFldCommon::IKivCameraProvider>& cameraProvider) override {
        UiContext context(std::string(View::kPrefix), CurrentTerminalStyle(), callbackHandler, cameraProvider,
                          std::make_shared<UiMailbox>());
        try {
            auto view = std::make_unique<View>(View::ParseStart(ToUtf8(data)));
            const std::lock_guard lock(m_mutex);
            if (m_session) throw kiv::runtime::InvalidOperationError("The UI is already running; call StopUI first.");
            m_session = UiSession::Start(std::move(view), std::move(context), InheritedLocale::OfCallingThread());
        } catch (...) {
            context.ReleaseAdapters();
            throw;
        }
    }

    void StopUI() override {
        std::shared_ptr<UiSession> session;
        {
            const std::lock_guard lock(m_mutex);
            session = m_session;
        }
        if (!session) return;
        session->Close();
        session->Join();
        const std::lock_guard lock(m_mutex);
        if (m_session == session) m_session.reset();
    }

    void UpdateUI(const kiv::runtime::String& data) override {
        auto update = View::ParseUpdate(ToUtf8(data));
        std::shared_ptr<UiSession> session;
        {
            const std::lock_guard lock(m_mutex);
            session = m_session;
        }
        const bool accepted =
            session && session->Invoke([update = std::move(update)](UiView& view, UiContext& context) {
                static_cast<View&>(view).Update(update, context);
            });
        if (!accepted) throw kiv::runtime::InvalidOperationError("The UI is not running; call StartUI first.");
    }

private:
    std::mutex m_mutex;
    std::shared_ptr<UiSession> m_session;
};

}  // namespace kivfld::components
