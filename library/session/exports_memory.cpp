#include <cstring>
#include <string>

#include "memory/job_memory.h"
#include "session/library.h"
#include "session/shield.h"
#include "tessaro.h"

using tsr::Library;
using tsr::Shield;

namespace {

// The host's buffers hold 1000 bytes: at most 999 characters and the zero.
void CopyOut(char* buffer, const std::string& text) {
    if (!buffer)
        return;
    const std::size_t n = text.size() < 999 ? text.size() : 999;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

extern "C" {

TSR_API int32_t TSR_CALL TSR_MemorySaveJob(int32_t job) {
    return Shield<int32_t>(0, [&] { return Library::Instance().Memory().SaveJob(job); });
}

TSR_API int32_t TSR_CALL TSR_MemoryLoadJob(int32_t job) {
    return Shield<int32_t>(1, [&] { return Library::Instance().Memory().LoadJob(job); });
}

TSR_API int32_t TSR_CALL TSR_MemoryGetInfo(int32_t job, char* name, char* date) {
    return Shield<int32_t>(1, [&]() -> int32_t {
        std::string n, d;
        if (Library::Instance().Memory().GetInfo(job, n, d) != 0)
            return 1;
        CopyOut(name, n);
        CopyOut(date, d);
        return 0;
    });
}

TSR_API int32_t TSR_CALL TSR_MemorySetInfo(int32_t job, const char* name, const char* date) {
    return Shield<int32_t>(
        1, [&] { return Library::Instance().Memory().SetInfo(job, name ? name : "", date ? date : ""); });
}

TSR_API int32_t TSR_CALL TSR_MemoryDeleteJob(int32_t job) {
    return Shield<int32_t>(0, [&] { return Library::Instance().Memory().DeleteJob(job); });
}

} // extern "C"
