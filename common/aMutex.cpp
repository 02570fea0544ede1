#include "aMutex.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

struct aMutex {
    std::recursive_mutex lock;
    // Who owns the lock and how often, so that destroy can refuse while another thread holds it.
    std::atomic<std::thread::id> owner{};
    unsigned depth = 0;
    char name[256] = {};
};

namespace {

constexpr size_t kMaxNameLength = 255;

void noteAcquired(aMutex* m) {
    m->owner.store(std::this_thread::get_id());
    ++m->depth;
}

}  // namespace

extern "C" {

aMutex* aMutex_Create(const char* name) {
    size_t length = name ? strlen(name) : 0;
    if (length > kMaxNameLength) return nullptr;
    auto* m = new (std::nothrow) aMutex;
    if (!m) return nullptr;
    if (name) memcpy(m->name, name, length + 1);
    return m;
}

aErr aMutex_Lock(aMutex* m) {
    if (!m) return aErrParam;
    m->lock.lock();
    noteAcquired(m);
    return aErrNone;
}

aErr aMutex_TryLock(aMutex* m) {
    if (!m) return aErrParam;
    if (!m->lock.try_lock()) return aErrBusy;
    noteAcquired(m);
    return aErrNone;
}

aErr aMutex_Unlock(aMutex* m) {
    if (!m) return aErrParam;
    // Releasing a lock the caller does not hold would corrupt it.
    if (m->owner.load() != std::this_thread::get_id()) return aErrPermission;
    if (--m->depth == 0) m->owner.store(std::thread::id{});
    m->lock.unlock();
    return aErrNone;
}

aErr aMutex_Destroy(aMutex** handle) {
    if (!handle || !*handle) return aErrParam;
    aMutex* m = *handle;
    if (!m->lock.try_lock()) return aErrBusy;
    // The caller may still hold it itself: release every level before freeing.
    m->lock.unlock();
    while (m->depth > 0 && m->owner.load() == std::this_thread::get_id()) aMutex_Unlock(m);
    delete m;
    *handle = nullptr;
    return aErrNone;
}

const char* aMutex_Identifier(aMutex* m) { return m ? m->name : nullptr; }

}  // extern "C"
