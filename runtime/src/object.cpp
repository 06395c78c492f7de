// Reference counting, reclamation and the finalizer thread.
#include "kiv/runtime/object.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "kiv/runtime/collector.hpp"
#include "kiv/runtime/memory.hpp"

namespace kiv::runtime {
namespace {

std::atomic<std::int64_t> g_liveObjects{0};
thread_local bool t_isFinalizerThread = false;

// Enough unreferenced finalizable objects to make a collection worth it without being asked.
constexpr std::size_t kAutomaticCollectionThreshold = 256;

}  // namespace

class Collector {
public:
    static Collector& Instance() {
        // Important: never destroyed, so releases during static destruction stay safe.
        static Collector* instance = new Collector;
        return *instance;
    }

    void AddPending(Object* object) {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(object);
        if (m_pending.size() >= kAutomaticCollectionThreshold) HandPendingToFinalizerLocked();
    }

    void Collect() {
        std::lock_guard lock(m_mutex);
        HandPendingToFinalizerLocked();
    }

    void WaitForPendingFinalizers() {
        if (t_isFinalizerThread) return;
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_finalizing; });
    }

    std::size_t PendingCount() {
        std::lock_guard lock(m_mutex);
        return m_pending.size();
    }

private:
    void HandPendingToFinalizerLocked() {
        if (m_pending.empty()) return;
        m_queue.insert(m_queue.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
        if (!m_threadStarted) {
            std::thread(&Collector::FinalizerLoop, this).detach();
            m_threadStarted = true;
        }
        m_work.notify_one();
    }

    void FinalizerLoop() {
        t_isFinalizerThread = true;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_work.wait(lock, [this] { return !m_queue.empty(); });
            Object* object = m_queue.front();
            m_queue.pop_front();
            m_finalizing = true;
            lock.unlock();
            object->Finalize();
            delete object;
            lock.lock();
            m_finalizing = false;
            if (m_queue.empty()) m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_idle;
    std::vector<Object*> m_pending;
    std::deque<Object*> m_queue;
    bool m_finalizing = false;
    bool m_threadStarted = false;
};

Object::Object() noexcept { g_liveObjects.fetch_add(1, std::memory_order_relaxed); }
Object::~Object() { g_liveObjects.fetch_sub(1, std::memory_order_relaxed); }

void* Object::operator new(std::size_t size) { return Allocate(size); }
void Object::operator delete(void* memory) noexcept { Free(memory); }

std::int64_t Object::LiveCount() noexcept { return g_liveObjects.load(std::memory_order_relaxed); }

void Object::RegisterForFinalize() noexcept { m_finalizerRegistered.store(true, std::memory_order_release); }
void Object::SuppressFinalize() noexcept { m_finalizerRegistered.store(false, std::memory_order_release); }

void Object::AddStrongReference() const noexcept { m_strongReferences.fetch_add(1, std::memory_order_relaxed); }

void Object::ReleaseStrongReference() const noexcept {
    if (m_strongReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) const_cast<Object*>(this)->Reclaim();
}

void Object::Reclaim() noexcept {
    if (m_finalizerRegistered.load(std::memory_order_acquire))
        Collector::Instance().AddPending(this);
    else
        delete this;
}

IDisposable::~IDisposable() = default;

void Collect() { Collector::Instance().Collect(); }
void WaitForPendingFinalizers() { Collector::Instance().WaitForPendingFinalizers(); }
void CollectAndWaitForPendingFinalizers() {
    Collect();
    WaitForPendingFinalizers();
}
std::size_t PendingFinalizationCount() noexcept { return Collector::Instance().PendingCount(); }
bool IsFinalizerThread() noexcept { return t_isFinalizerThread; }

}  // namespace kiv::runtime
