#include "app/line_status.h"

#include <algorithm>
#include <cctype>

#include "app/library_text.h"
#include "tessarox.h"

namespace {

bool Holds(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

nlohmann::json CounterObject(const int32_t (&counts)[TSRX_COUNTERS]) {
    return {{"answered", counts[TSRX_ANSWERED]},
            {"late", counts[TSRX_LATE]},
            {"silent", counts[TSRX_SILENT]},
            {"malformed", counts[TSRX_MALFORMED]},
            {"retries", counts[TSRX_RETRIES]}};
}

const char* StateName(int32_t state) {
    switch (state) {
    case TSRX_UNIT_ANSWERING:
        return "answering";
    case TSRX_UNIT_NOT_ANSWERING:
        return "notAnswering";
    default:
        return "unknown";
    }
}

} // namespace

std::string PortAdvice(const std::string& failure) {
    std::string text = failure;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // POSIX says "permission denied"; Windows says "access is denied" for a
    // COM port that another program has open.
    if (Holds(text, "permission denied"))
        return "dialout";
    if (Holds(text, "busy") || Holds(text, "access is denied") || Holds(text, "being used by another"))
        return "busy";
    if (Holds(text, "no such") || Holds(text, "cannot find") || Holds(text, "not found"))
        return "missing";
    if (Holds(text, "not a serial device") || Holds(text, "line settings"))
        return "notSerial";
    return std::string();
}

nlohmann::json ReadLineStatus(int32_t units) {
    nlohmann::json status;
    const bool open = TSRX_IsPortOpen() == 1;
    const std::string failure = open ? std::string() : FromLibraryText(TSRX_GetPortFailure());
    status["portOpen"] = open;
    status["portFailure"] = failure;
    status["portAdvice"] = PortAdvice(failure);
    status["lastAnswer"] = FromLibraryText(TSRX_GetLastAnswerTime());
    status["secondsSinceAnswer"] = TSRX_GetSecondsSinceAnswer();
    nlohmann::json list = nlohmann::json::array();
    nlohmann::json notAnswering = nlohmann::json::array();
    bool anyAnswering = false;
    for (int32_t unit = 1; unit <= std::min<int32_t>(units, 255); ++unit) {
        int32_t sinceStart[TSRX_COUNTERS] = {};
        int32_t lastMinute[TSRX_COUNTERS] = {};
        const int32_t state = TSRX_GetLineCounters(unit, sinceStart, lastMinute);
        if (state == TSRX_UNIT_ANSWERING)
            anyAnswering = true;
        if (state == TSRX_UNIT_NOT_ANSWERING)
            notAnswering.push_back(unit);
        list.push_back({{"unit", unit},
                        {"state", StateName(state)},
                        {"sinceStart", CounterObject(sinceStart)},
                        {"lastMinute", CounterObject(lastMinute)}});
    }
    status["units"] = std::move(list);
    // With the port closed nothing can be said of the console itself.
    const bool silent = open && !anyAnswering && !notAnswering.empty();
    status["console"] = !open ? "unknown" : silent ? "silent" : anyAnswering ? "answering" : "unknown";
    status["notAnswering"] = std::move(notAnswering);
    return status;
}
