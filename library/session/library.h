#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "config/configuration.h"
#include "exchange/exchange_watcher.h"
#include "exchange/xml_defaults.h"
#include "log/activity_log.h"
#include "memory/job_memory.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "presslink/press_protocol.h"
#include "presslink/serial_channel.h"
#include "presslink/unit_control.h"
#include "presslink/unit_setting.h"
#include "session/event_sink.h"
#include "session/press_lock.h"
#include "session/unit_table.h"
#include "tessaro.h"

namespace tsr {

// The one library-wide owner of every object the exports work on. Created on
// first use (at the latest when the library's first export runs) and destroyed
// when the library is unloaded, which closes the log file.
class Library {
public:
    static Library& Instance();

    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    const Clock& Time() const { return clock_; }
    FileSystem& Files() { return *fs_; }
    Configuration& Config() { return config_; }
    ActivityLog& Log() { return log_; }
    UnitTable& Units() { return units_; }
    EventSink& Events() { return events_; }
    PressLock& Press() { return pressLock_; }

    SerialChannel& Serial() { return serial_; }
    PressProtocol& Protocol() { return protocol_; }
    UnitSetting& Setting() { return setting_; }
    UnitControl& Control() { return control_; }
    JobMemory& Memory() { return memory_; }
    XmlDefaults& Xml() { return xml_; }
    ExchangeWatcher& Watcher() { return watcher_; }

    // Session state kept by TSR_Init.
    std::string ConfigPath() const;
    std::int32_t HostWindow() const { return hostWindow_; }
    std::int32_t Reserved() const { return reserved_; }
    // Why the port did not open at the last TSR_Init ("/dev/ttyUSB0: permission
    // denied"); empty when it opened.
    std::string PortFailure() const;

    // TSR_Init and TSR_Destroy; the exports only shield them.
    std::int32_t Init(std::int32_t hostWindow, const std::string& configPath, TSR_EventCallback callback,
                      std::int32_t reserved);
    std::int32_t Destroy();

    // The return buffers of the text exports: one per export, valid until the
    // export runs again. Fills buffer with text cut to its size (less the zero).
    template <std::size_t N> const char* ReturnText(char (&buffer)[N], const std::string& text) {
        std::lock_guard lock(returnGuard_);
        const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
        text.copy(buffer, n);
        buffer[n] = '\0';
        return buffer;
    }
    struct ReturnBuffers {
        char pathPresetSND[256] = {};
        char pathPresetRCV[256] = {};
        char pathLoopKeysSND[256] = {};
        char pathLoopKeysRCV[256] = {};
        char pathLoopScanSND[256] = {};
        char pathLoopScanRCV[256] = {};
        char pathCommands[256] = {};
        char pathLogs[256] = {};
        char pathCurrentJob[256] = {};
        char language[256] = {};
        char portFailure[512] = {};
        char lastAnswer[32] = {};
        std::string presetDryRun; // a report of any length
    };
    const char* ReturnLongText(std::string& buffer, std::string text) {
        std::lock_guard lock(returnGuard_);
        buffer = std::move(text);
        return buffer.c_str();
    }
    ReturnBuffers& Buffers() { return buffers_; }

private:
    Library();
    ~Library();

    // Press link: closes the port if it is open; press lock held.
    void ClosePort();

    // Members are built in this order and torn down in reverse: everything
    // that writes to the log goes after it.
    SystemClock clock_;
    std::unique_ptr<FileSystem> fs_;
    Configuration config_;
    ActivityLog log_;
    UnitTable units_;
    EventSink events_;
    PressLock pressLock_;
    SerialChannel serial_;
    PressProtocol protocol_;
    UnitSetting setting_;
    UnitControl control_;
    JobMemory memory_;
    XmlDefaults xml_;
    ExchangeWatcher watcher_; // its thread uses all of the above; stopped first at unload

    mutable std::mutex sessionGuard_;
    std::string configPath_;
    std::string portFailure_;
    std::atomic<std::int32_t> hostWindow_{0};
    std::atomic<std::int32_t> reserved_{0};

    std::mutex returnGuard_;
    ReturnBuffers buffers_;
};

} // namespace tsr
