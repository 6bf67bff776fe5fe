#include <string>

#include "session/library.h"
#include "session/shield.h"
#include "tessaro.h"

using tsr::Configuration;
using tsr::Library;

namespace {

int32_t GetInt(int (Configuration::*get)() const) {
    return tsr::Shield<int32_t>(0, [&] { return (Library::Instance().Config().*get)(); });
}

int32_t SetInt(void (Configuration::*set)(int), int32_t value) {
    tsr::ShieldVoid([&] { (Library::Instance().Config().*set)(value); });
    return 0;
}

// Copies the text into the export's own 256-byte buffer, cut to 255 bytes.
const char* GetText(std::string (Configuration::*get)() const, char (Library::ReturnBuffers::*buffer)[256]) {
    return tsr::Shield<const char*>("", [&] {
        Library& lib = Library::Instance();
        return lib.ReturnText(lib.Buffers().*buffer, (lib.Config().*get)());
    });
}

void SetText(void (Configuration::*set)(const std::string&), const char* text) {
    tsr::ShieldVoid([&] {
        if (text)
            (Library::Instance().Config().*set)(text);
    });
}

} // namespace

extern "C" {

TSR_API int32_t TSR_CALL TSR_INI_GetCOM1(void) {
    return GetInt(&Configuration::Com1);
}
TSR_API int32_t TSR_CALL TSR_INI_SetCOM1(int32_t value) {
    return SetInt(&Configuration::SetCom1, value);
}
TSR_API int32_t TSR_CALL TSR_INI_GetUnitsNumber(void) {
    return GetInt(&Configuration::UnitNumber);
}
TSR_API int32_t TSR_CALL TSR_INI_SetUnitsNumber(int32_t value) {
    return SetInt(&Configuration::SetUnitNumber, value);
}
TSR_API int32_t TSR_CALL TSR_INI_GetKeysNumber(void) {
    return GetInt(&Configuration::KeysNumber);
}
TSR_API int32_t TSR_CALL TSR_INI_SetKeysNumber(int32_t value) {
    return SetInt(&Configuration::SetKeysNumber, value);
}
TSR_API int32_t TSR_CALL TSR_INI_GetPerfector(void) {
    return GetInt(&Configuration::Perfector);
}
TSR_API int32_t TSR_CALL TSR_INI_SetPerfector(int32_t value) {
    return SetInt(&Configuration::SetPerfector, value);
}
TSR_API int32_t TSR_CALL TSR_INI_GetDuctorCycle(void) {
    return GetInt(&Configuration::DuctorCycle);
}
TSR_API int32_t TSR_CALL TSR_INI_SetDuctorCycle(int32_t value) {
    return SetInt(&Configuration::SetDuctorCycle, value);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetKeys(void) {
    return GetInt(&Configuration::InkingUpKeys);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetKeys(int32_t value) {
    return SetInt(&Configuration::SetInkingUpKeys, value);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetDuctor(void) {
    return GetInt(&Configuration::InkingUpDuctor);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetDuctor(int32_t value) {
    return SetInt(&Configuration::SetInkingUpDuctor, value);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetDuctorCycle(void) {
    return GetInt(&Configuration::InkingUpDuctorCycle);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetDuctorCycle(int32_t value) {
    return SetInt(&Configuration::SetInkingUpDuctorCycle, value);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetTimmer(void) {
    return GetInt(&Configuration::InkingUpTimer);
}
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetTimmer(int32_t value) {
    return SetInt(&Configuration::SetInkingUpTimer, value);
}

TSR_API int32_t TSR_CALL TSR_INI_IsConnectPSX(void) {
    return tsr::Shield<int32_t>(0, [] { return Library::Instance().Config().ConnectPSX() ? 1 : 0; });
}

TSR_API void TSR_CALL TSR_INI_SetConnectPSX(int32_t on) {
    tsr::ShieldVoid([&] {
        Library& library = Library::Instance();
        library.Config().SetConnectPSX(on == 1);
        library.Watcher().SetPresetPolling(library.Config().ConnectPSX());
    });
}

TSR_API int32_t TSR_CALL TSR_INI_IsConnectLPX(void) {
    return tsr::Shield<int32_t>(0, [] { return Library::Instance().Config().ConnectLPX() ? 1 : 0; });
}

TSR_API void TSR_CALL TSR_INI_SetConnectLPX(int32_t on) {
    tsr::ShieldVoid([&] {
        Library& library = Library::Instance();
        library.Config().SetConnectLPX(on == 1);
        library.Watcher().SetLoopPolling(library.Config().ConnectLPX());
    });
}

TSR_API const char* TSR_CALL TSR_INI_GetPathPresetSND(void) {
    return GetText(&Configuration::PathPresetSND, &Library::ReturnBuffers::pathPresetSND);
}
TSR_API void TSR_CALL TSR_INI_SetPathPresetSND(const char* text) {
    SetText(&Configuration::SetPathPresetSND, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathPresetRCV(void) {
    return GetText(&Configuration::PathPresetRCV, &Library::ReturnBuffers::pathPresetRCV);
}
TSR_API void TSR_CALL TSR_INI_SetPathPresetRCV(const char* text) {
    SetText(&Configuration::SetPathPresetRCV, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathLoopKeysSND(void) {
    return GetText(&Configuration::PathLoopKeysSND, &Library::ReturnBuffers::pathLoopKeysSND);
}
TSR_API void TSR_CALL TSR_INI_SetPathLoopKeysSND(const char* text) {
    SetText(&Configuration::SetPathLoopKeysSND, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathLoopKeysRCV(void) {
    return GetText(&Configuration::PathLoopKeysRCV, &Library::ReturnBuffers::pathLoopKeysRCV);
}
TSR_API void TSR_CALL TSR_INI_SetPathLoopKeysRCV(const char* text) {
    SetText(&Configuration::SetPathLoopKeysRCV, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathLoopScanSND(void) {
    return GetText(&Configuration::PathLoopScanSND, &Library::ReturnBuffers::pathLoopScanSND);
}
TSR_API void TSR_CALL TSR_INI_SetPathLoopScanSND(const char* text) {
    SetText(&Configuration::SetPathLoopScanSND, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathLoopScanRCV(void) {
    return GetText(&Configuration::PathLoopScanRCV, &Library::ReturnBuffers::pathLoopScanRCV);
}
TSR_API void TSR_CALL TSR_INI_SetPathLoopScanRCV(const char* text) {
    SetText(&Configuration::SetPathLoopScanRCV, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathCommands(void) {
    return GetText(&Configuration::PathCommands, &Library::ReturnBuffers::pathCommands);
}
TSR_API void TSR_CALL TSR_INI_SetPathCommands(const char* text) {
    SetText(&Configuration::SetPathCommands, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathLogs(void) {
    return GetText(&Configuration::PathLogs, &Library::ReturnBuffers::pathLogs);
}
TSR_API void TSR_CALL TSR_INI_SetPathLogs(const char* text) {
    SetText(&Configuration::SetPathLogs, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetPathCurrentJob(void) {
    return GetText(&Configuration::PathCurrentJob, &Library::ReturnBuffers::pathCurrentJob);
}
TSR_API void TSR_CALL TSR_INI_SetPathCurrentJob(const char* text) {
    SetText(&Configuration::SetPathCurrentJob, text);
}
TSR_API const char* TSR_CALL TSR_INI_GetLanguage(void) {
    return GetText(&Configuration::Language, &Library::ReturnBuffers::language);
}
TSR_API void TSR_CALL TSR_INI_SetLanguage(const char* text) {
    SetText(&Configuration::SetLanguage, text);
}

} // extern "C"
