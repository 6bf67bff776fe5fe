/* Tessaro library: service additions to the C interface (TSRX_ exports).
 *
 * What the serial line did for each unit, why the port did not open, and a
 * dry run of an incoming preset file. The same conventions as tessaro.h:
 * signed 32-bit integers, caller-owned arrays, returned texts valid until the
 * same export is called again, nothing thrown. */
#ifndef TESSAROX_H
#define TESSAROX_H

#include "tessaro.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Counters of one unit, in this order in the arrays TSRX_GetLineCounters fills:
   replies that came in time and began 00 FF; replies that came after their wait
   ran out (dropped before the next frame); waits that ran out with nothing;
   replies that came but were not an answer; command frames sent again. */
enum {
    TSRX_ANSWERED = 0,
    TSRX_LATE = 1,
    TSRX_SILENT = 2,
    TSRX_MALFORMED = 3,
    TSRX_RETRIES = 4,
    TSRX_COUNTERS = 5
};

/* A unit's state: no transaction yet, its last transaction was answered, or
   its last transaction gave up. */
enum { TSRX_UNIT_UNKNOWN = 0, TSRX_UNIT_ANSWERING = 1, TSRX_UNIT_NOT_ANSWERING = 2 };

/* Fills sinceLoad and lastMinute (each TSRX_COUNTERS integers, either may be
   null) for the unit (0..255, as on the line) and returns its state; -1 for a
   unit outside 0..255, arrays untouched. */
TSR_API int32_t TSR_CALL TSRX_GetLineCounters(int32_t unit, int32_t *sinceLoad, int32_t *lastMinute);

/* 1 while the serial port is open, else 0. */
TSR_API int32_t TSR_CALL TSRX_IsPortOpen(void);

/* Why the port did not open at the last TSR_Init: the device and the system's
   reason ("/dev/ttyUSB0: permission denied"); empty when it opened or before
   any TSR_Init. */
TSR_API const char *TSR_CALL TSRX_GetPortFailure(void);

/* Local time of the last answered transaction as "YYYY-MM-DD HH:MM:SS";
   empty when the console has not answered since the library was loaded. */
TSR_API const char *TSR_CALL TSRX_GetLastAnswerTime(void);

/* Seconds since the last answered transaction; -1 when there was none. */
TSR_API int32_t TSR_CALL TSRX_GetSecondsSinceAnswer(void);

/* TSR_MemorySaveJob that tells what it stored: 0 every unit; 1 some units,
   the others did not deliver their values and were not saved (they are
   written to notSaved, at most capacity of them, their number to
   notSavedCount; either may be null); 2 no unit delivered its values and
   nothing was stored: the job saved before under that number is kept. */
enum { TSRX_SAVED_ALL = 0, TSRX_SAVED_SOME = 1, TSRX_SAVED_NOTHING = 2 };
TSR_API int32_t TSR_CALL TSRX_MemorySaveJob(int32_t job, int32_t *notSaved, int32_t capacity,
                                            int32_t *notSavedCount);

/* What the exchange watcher would send for a preset (job.xml, with its
   job_DC.xml companion) or corrected-keys file (NewInkKeys.xml) at path, under
   the configuration of the last TSR_Init, worked out without the press: one
   line per unit with its keys, ductor and cycle, or why it is skipped. Nothing
   is sent, deleted or logged. result (may be null) is 0 when the file was read,
   1 when it could not be read or holds no ink-zone profile. */
TSR_API const char *TSR_CALL TSRX_PresetDryRun(const char *path, int32_t *result);

#ifdef __cplusplus
}
#endif

#endif /* TESSAROX_H */
