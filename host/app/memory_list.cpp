#include "app/memory_list.h"

#include <array>

#include "app/lenient_json.h"
#include "app/library_text.h"
#include "app/local_time.h"
#include "app/page_calls.h"
#include "tessaro.h"

namespace {
constexpr int kMemoryPositions = 4;
constexpr size_t kInfoBuffer = 1000;
} // namespace

std::string MemoryEntryText(const std::string& savedOn, const std::string& description) {
    JsonValue entry = JsonValue::object();
    entry["saved_on"] = savedOn;
    entry["description"] = description;
    return WriteJson(entry, JsonEscaping::Minimal);
}

std::vector<std::string> MemoryListCalls() {
    std::vector<std::string> calls;
    for (int position = 0; position < kMemoryPositions; ++position) {
        std::array<char, kInfoBuffer> name{};
        std::array<char, kInfoBuffer> date{};
        const int32_t result = TSR_MemoryGetInfo(position, name.data(), date.data());
        name.back() = '\0';
        date.back() = '\0';
        if (result == 0)
            calls.push_back(page_calls::LoadMemory(position, MemoryEntryText(FromLibraryText(date.data()), FromLibraryText(name.data()))));
        else
            calls.push_back(page_calls::EmptyMemory(position));
    }
    return calls;
}

std::string SaveDateText(std::time_t when) {
    const std::tm local = LocalTime(when);
    char text[32];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, n);
}
