#pragma once
#include "tessaro.h"
#include <atomic>

namespace tsr {

// Delivers (unit, code, kind) to the host's callback on the calling thread.
// Events raised while no callback is set are dropped.
class EventSink {
public:
    void SetCallback(TSR_EventCallback callback) { callback_.store(callback); }
    void Emit(int unit, int code, int kind) const {
        if (TSR_EventCallback cb = callback_.load())
            cb(unit, code, kind);
    }

private:
    std::atomic<TSR_EventCallback> callback_{nullptr};
};

} // namespace tsr
