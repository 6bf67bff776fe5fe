#include <cstring>

#include "session/library.h"
#include "session/shield.h"
#include "tessaro.h"

using tsr::Library;
using tsr::Shield;

extern "C" {

TSR_API int32_t TSR_CALL TSR_Init(int32_t hostWindow, const char* configPath, TSR_EventCallback callback,
                                  int32_t reserved) {
    return Shield<int32_t>(0, [&] {
        return Library::Instance().Init(hostWindow, configPath ? configPath : "", callback, reserved);
    });
}

TSR_API int32_t TSR_CALL TSR_Destroy(void) {
    return Shield<int32_t>(0, [] { return Library::Instance().Destroy(); });
}

TSR_API int32_t TSR_CALL TSR_GetUnitDetails(int32_t index, char* separation, int32_t* colour,
                                            uint8_t* present) {
    return Shield<int32_t>(1, [&]() -> int32_t {
        Library& lib = Library::Instance();
        // rows past the table's 12 do not exist, whatever "UnitNumber" says
        if (index < 0 || index >= lib.Config().UnitsInTable())
            return 1;
        const tsr::UnitRecord row = lib.Units().Get(index);
        if (separation) {
            const std::size_t n = row.separation.size() < 255 ? row.separation.size() : 255;
            std::memcpy(separation, row.separation.data(), n);
            separation[n] = '\0';
        }
        if (colour)
            *colour = row.colour;
        if (present)
            *present = row.present ? 1 : 0;
        return 0;
    });
}

TSR_API void TSR_CALL TSR_WriteLogFile(const char* text) {
    tsr::ShieldVoid([&] {
        if (text)
            Library::Instance().Log().WriteText(text, 3);
    });
}

} // extern "C"
