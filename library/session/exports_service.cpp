#include <algorithm>
#include <ctime>

#include "exchange/preset_dry_run.h"
#include "memory/job_memory.h"
#include "presslink/line_counters.h"
#include "session/library.h"
#include "session/shield.h"
#include "tessarox.h"

using tsr::Library;
using tsr::LineCounters;
using tsr::Shield;

namespace {

void CopyCounts(const LineCounters::Counts& counts, int32_t* out) {
    if (!out)
        return;
    for (int i = 0; i < TSRX_COUNTERS; ++i)
        out[i] = static_cast<int32_t>(std::min<std::int64_t>(counts[static_cast<std::size_t>(i)], INT32_MAX));
}

} // namespace

extern "C" {

TSR_API int32_t TSR_CALL TSRX_GetLineCounters(int32_t unit, int32_t* sinceLoad, int32_t* lastMinute) {
    return Shield<int32_t>(-1, [&]() -> int32_t {
        if (unit < 0 || unit >= LineCounters::kUnits)
            return -1;
        LineCounters::Counts total, minute;
        const LineCounters::State state = Library::Instance().Protocol().Line().Read(unit, total, minute);
        CopyCounts(total, sinceLoad);
        CopyCounts(minute, lastMinute);
        switch (state) {
        case LineCounters::State::Answering:
            return TSRX_UNIT_ANSWERING;
        case LineCounters::State::NotAnswering:
            return TSRX_UNIT_NOT_ANSWERING;
        default:
            return TSRX_UNIT_UNKNOWN;
        }
    });
}

TSR_API int32_t TSR_CALL TSRX_IsPortOpen(void) {
    return Shield<int32_t>(0, [] { return Library::Instance().Serial().WasOpen() ? 1 : 0; });
}

TSR_API const char* TSR_CALL TSRX_GetPortFailure(void) {
    return Shield<const char*>("", [] {
        Library& lib = Library::Instance();
        return lib.ReturnText(lib.Buffers().portFailure, lib.PortFailure());
    });
}

TSR_API const char* TSR_CALL TSRX_GetLastAnswerTime(void) {
    return Shield<const char*>("", [] {
        Library& lib = Library::Instance();
        const std::time_t at = lib.Protocol().Line().LastAnswer();
        std::string text;
        if (at != 0) {
            const std::tm local = lib.Time().LocalTime(at);
            char buffer[32];
            text.assign(buffer, std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local));
        }
        return lib.ReturnText(lib.Buffers().lastAnswer, text);
    });
}

TSR_API int32_t TSR_CALL TSRX_GetSecondsSinceAnswer(void) {
    return Shield<int32_t>(-1, [] {
        Library& lib = Library::Instance();
        const std::time_t at = lib.Protocol().Line().LastAnswer();
        if (at == 0)
            return -1;
        const std::time_t now = lib.Time().Now();
        return static_cast<int32_t>(std::clamp<std::time_t>(now - at, 0, INT32_MAX));
    });
}

TSR_API int32_t TSR_CALL TSRX_MemorySaveJob(int32_t job, int32_t* notSaved, int32_t capacity,
                                            int32_t* notSavedCount) {
    if (notSavedCount)
        *notSavedCount = 0;
    return Shield<int32_t>(TSRX_SAVED_NOTHING, [&] {
        const tsr::JobMemory::SaveOutcome outcome = Library::Instance().Memory().Save(job);
        const int32_t n = static_cast<int32_t>(outcome.notSaved.size());
        if (notSavedCount)
            *notSavedCount = n;
        for (int32_t i = 0; notSaved && i < n && i < capacity; ++i)
            notSaved[i] = outcome.notSaved[static_cast<std::size_t>(i)];
        return static_cast<int32_t>(outcome.result);
    });
}

TSR_API const char* TSR_CALL TSRX_PresetDryRun(const char* path, int32_t* result) {
    if (result)
        *result = tsr::PresetDryRun::NotReadable;
    return Shield<const char*>("", [&] {
        Library& lib = Library::Instance();
        tsr::PresetDryRun run(lib.Config(), lib.Files(), lib.Time(), lib.Xml());
        std::string report;
        const tsr::PresetDryRun::Result r = run.Run(path ? path : "", report);
        if (result)
            *result = r;
        return lib.ReturnLongText(lib.Buffers().presetDryRun, std::move(report));
    });
}

} // extern "C"
