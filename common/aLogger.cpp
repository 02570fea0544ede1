#include "aLogger.h"

#include <atomic>
#include <new>
#include <system_error>
#include <thread>

struct aLogger {
    uint32_t userValue;
    aLoggerPumpProc pump;
    aFile* file;
    std::thread worker;
    std::atomic<bool> enabled{false};
    uint16_t tag;
};

namespace {

constexpr uint16_t kLoggerTag = 0xDEED;

bool valid(const aLogger* logger) { return logger && logger->tag == kLoggerTag; }

void sRunPump(aLogger* logger) {
    while (logger->enabled.load(std::memory_order_acquire)) logger->pump(logger->file, logger->userValue);
}

}  // namespace

extern "C" {

aLogger* aLogger_Create(uint32_t userValue, aLoggerPumpProc pump, const char* path) {
    if (!pump) return nullptr;
    aFile* file = aFile_Open(path, aFileModeAppend);
    if (!file) return nullptr;
    auto* logger = new (std::nothrow) aLogger;
    if (!logger) {
        aFile_Close(&file);
        return nullptr;
    }
    logger->userValue = userValue;
    logger->pump = pump;
    logger->file = file;
    logger->tag = kLoggerTag;
    return logger;
}

aErr aLogger_Enable(aLogger* logger) {
    if (!valid(logger)) return aErrParam;
    if (logger->worker.joinable()) return aErrNone;
    logger->enabled.store(true, std::memory_order_release);
    try {
        logger->worker = std::thread(sRunPump, logger);
    } catch (const std::system_error&) {
        logger->enabled.store(false);
        return aErrResource;
    }
    return aErrNone;
}

aErr aLogger_Disable(aLogger* logger) {
    if (!valid(logger)) return aErrParam;
    if (!logger->worker.joinable()) return aErrNone;
    // The pump cannot wait for its own thread to end.
    if (logger->worker.get_id() == std::this_thread::get_id()) return aErrBusy;
    logger->enabled.store(false, std::memory_order_release);
    logger->worker.join();
    return aErrNone;
}

aErr aLogger_Destroy(aLogger** handle) {
    if (!handle || !valid(*handle)) return aErrNone;
    aLogger* logger = *handle;
    aErr result = aLogger_Disable(logger);
    if (result != aErrNone) return result;
    aFile_Close(&logger->file);
    logger->tag = 0;
    delete logger;
    *handle = nullptr;
    return aErrNone;
}

}  // extern "C"
