/* Tessaro library: the flat C interface of the ink-control console.
 *
 * Integers are signed 32-bit; texts are zero-terminated single-byte strings
 * (Windows-1252). Texts returned by the library live in a buffer owned by the
 * export that returned them and stay valid until that export is called again.
 * Arrays are owned by the caller. No export throws. */
#ifndef TESSARO_H
#define TESSARO_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TSR_CALL __stdcall
#else
#define TSR_CALL
#endif

#if defined(_WIN32)
#if defined(TSR_BUILDING_LIBRARY)
#define TSR_API __declspec(dllexport)
#else
#define TSR_API __declspec(dllimport)
#endif
#else
#define TSR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Event codes and kinds passed to the callback as (unit, code, kind). */
enum {
    TSR_EVENT_START = 0,
    TSR_EVENT_RETRY1 = 1,
    TSR_EVENT_RETRY2 = 2,
    TSR_EVENT_RETRY3 = 3,
    TSR_EVENT_DONE = 4,
    TSR_EVENT_READ = 5,
    TSR_EVENT_PORT_CLOSED = 10
};
enum { TSR_KIND_UNIT = 0, TSR_KIND_KEYS = 1, TSR_KIND_DUCTOR = 2, TSR_KIND_DUCTOR_CYCLE = 3 };

/* Ink keys per unit that the library reads, sends and stores at most; a
   configured "KeysNumber" above it counts as this many. */
enum { TSR_MAX_KEYS = 500 };

/* Transaction results of every press operation. */
enum { TSR_OK = 0, TSR_PORT_NOT_OPEN = 1, TSR_BAD_REPLY = 2, TSR_NO_REPLY = 3 };

typedef void(TSR_CALL *TSR_EventCallback)(int32_t unit, int32_t code, int32_t kind);

/* Session, unit table and log */
TSR_API int32_t TSR_CALL TSR_Init(int32_t hostWindow, const char *configPath, TSR_EventCallback callback,
                                  int32_t reserved);
TSR_API int32_t TSR_CALL TSR_Destroy(void);
TSR_API int32_t TSR_CALL TSR_GetUnitDetails(int32_t index, char *separation, int32_t *colour, uint8_t *present);
TSR_API void TSR_CALL TSR_WriteLogFile(const char *text);

/* Unit setting operations */
TSR_API int32_t TSR_CALL TSR_SetNewKey_Absolute(int32_t unit, const int32_t *values, int32_t count);
TSR_API int32_t TSR_CALL TSR_SetNewKey_Relative(int32_t unit, int32_t delta);
TSR_API int32_t TSR_CALL TSR_SetNewKey_Percentage(int32_t unit, const float *percentages, int32_t reserved);
TSR_API int32_t TSR_CALL TSR_SetNewDuctor_Absolute(int32_t unit, int32_t percent);
TSR_API int32_t TSR_CALL TSR_SetNewDuctor_Relative(int32_t unit, int32_t delta);
TSR_API int32_t TSR_CALL TSR_SetNewDuctorCycle_Absolute(int32_t unit, int32_t cycle);
TSR_API int32_t TSR_CALL TSR_SetNewDuctorCycle_Relative(int32_t unit, int32_t delta);
TSR_API int32_t TSR_CALL TSR_GetKeys(int32_t unit, int32_t *values, int32_t count);
TSR_API int32_t TSR_CALL TSR_GetDuctor(int32_t unit, int32_t *percent);
TSR_API int32_t TSR_CALL TSR_GetDuctorCycle(int32_t unit, int32_t *cycle);
TSR_API int32_t TSR_CALL TSR_CopyUnit(int32_t destination, int32_t source);
TSR_API int32_t TSR_CALL TSR_SwapUnits(int32_t unitA, int32_t unitB);
TSR_API uint8_t TSR_CALL TSR_ReadBack(void);

/* Unit control operations */
TSR_API int32_t TSR_CALL TSR_WorkingPosition(int32_t unit);
TSR_API int32_t TSR_CALL TSR_ZeroPosition(int32_t unit);
TSR_API int32_t TSR_CALL TSR_InkingUP(int32_t unit);
TSR_API int32_t TSR_CALL TSR_Reset(int32_t unit);
TSR_API int32_t TSR_CALL TSR_GetInfo(int32_t unit, int32_t *first, int32_t *second, int32_t *third, uint8_t *flags56);
TSR_API int32_t TSR_CALL TSR_SetModeCalibration(int32_t unit);
TSR_API int32_t TSR_CALL TSR_SetModeNormal(int32_t unit);
TSR_API int32_t TSR_CALL TSR_SetModeRemote(int32_t unit, int32_t on);
TSR_API int32_t TSR_CALL TSR_GetMachineType(int32_t unit, int32_t *type);
TSR_API int32_t TSR_CALL TSR_GetMachineSpeed(int32_t unit, int32_t *speed);
TSR_API int32_t TSR_CALL TSR_ResetCassette(int32_t unit);
TSR_API int32_t TSR_CALL TSR_SetDuctorCalibration(int32_t unit, int32_t on);
TSR_API const char *TSR_CALL TSR_GetDuctorCycleList(int32_t reserved);

/* Job memory; name and date buffers of TSR_MemoryGetInfo hold at least 1000 bytes */
TSR_API int32_t TSR_CALL TSR_MemorySaveJob(int32_t job);
TSR_API int32_t TSR_CALL TSR_MemoryLoadJob(int32_t job);
TSR_API int32_t TSR_CALL TSR_MemoryGetInfo(int32_t job, char *name, char *date);
TSR_API int32_t TSR_CALL TSR_MemorySetInfo(int32_t job, const char *name, const char *date);
TSR_API int32_t TSR_CALL TSR_MemoryDeleteJob(int32_t job);

/* Configuration: integers */
TSR_API int32_t TSR_CALL TSR_INI_GetCOM1(void);
TSR_API int32_t TSR_CALL TSR_INI_SetCOM1(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_GetUnitsNumber(void);
TSR_API int32_t TSR_CALL TSR_INI_SetUnitsNumber(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_GetKeysNumber(void);
TSR_API int32_t TSR_CALL TSR_INI_SetKeysNumber(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_GetPerfector(void);
TSR_API int32_t TSR_CALL TSR_INI_SetPerfector(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_GetDuctorCycle(void);
TSR_API int32_t TSR_CALL TSR_INI_SetDuctorCycle(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetKeys(void);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetKeys(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetDuctor(void);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetDuctor(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetDuctorCycle(void);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetDuctorCycle(int32_t value);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_GetTimmer(void);
TSR_API int32_t TSR_CALL TSR_INI_Inkingup_SetTimmer(int32_t value);

/* Configuration: flags */
TSR_API int32_t TSR_CALL TSR_INI_IsConnectPSX(void);
TSR_API void TSR_CALL TSR_INI_SetConnectPSX(int32_t on);
TSR_API int32_t TSR_CALL TSR_INI_IsConnectLPX(void);
TSR_API void TSR_CALL TSR_INI_SetConnectLPX(int32_t on);

/* Configuration: texts (returned texts are cut to 255 bytes) */
TSR_API const char *TSR_CALL TSR_INI_GetPathPresetSND(void);
TSR_API void TSR_CALL TSR_INI_SetPathPresetSND(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathPresetRCV(void);
TSR_API void TSR_CALL TSR_INI_SetPathPresetRCV(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathLoopKeysSND(void);
TSR_API void TSR_CALL TSR_INI_SetPathLoopKeysSND(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathLoopKeysRCV(void);
TSR_API void TSR_CALL TSR_INI_SetPathLoopKeysRCV(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathLoopScanSND(void);
TSR_API void TSR_CALL TSR_INI_SetPathLoopScanSND(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathLoopScanRCV(void);
TSR_API void TSR_CALL TSR_INI_SetPathLoopScanRCV(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathCommands(void);
TSR_API void TSR_CALL TSR_INI_SetPathCommands(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathLogs(void);
TSR_API void TSR_CALL TSR_INI_SetPathLogs(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetPathCurrentJob(void);
TSR_API void TSR_CALL TSR_INI_SetPathCurrentJob(const char *text);
TSR_API const char *TSR_CALL TSR_INI_GetLanguage(void);
TSR_API void TSR_CALL TSR_INI_SetLanguage(const char *text);

#ifdef __cplusplus
}
#endif

#endif /* TESSARO_H */
