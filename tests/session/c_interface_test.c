/* The library called from plain C: the header compiles as C and the exports
 * link and run without any C++ on the caller's side. */
#include <stdio.h>
#include <string.h>

#include "tessaro.h"

static int g_events;
static int32_t g_last[3];

static void TSR_CALL on_event(int32_t unit, int32_t code, int32_t kind) {
    ++g_events;
    g_last[0] = unit;
    g_last[1] = code;
    g_last[2] = kind;
}

#define CHECK(cond)                                                                                          \
    do {                                                                                                     \
        if (!(cond)) {                                                                                       \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond);                                       \
            ++failures;                                                                                      \
        }                                                                                                    \
    } while (0)

int tsr_c_interface_run(const char *config_path) {
    int failures = 0;
    char name[256];
    int32_t colour = -1;
    uint8_t present = 7;
    const char *text;

    CHECK(TSR_Init(0, config_path, on_event, 0) == 0);
    CHECK(g_events == 1 && g_last[0] == 0 && g_last[1] == TSR_EVENT_PORT_CLOSED && g_last[2] == TSR_KIND_UNIT);

    CHECK(TSR_INI_GetUnitsNumber() == 4);
    CHECK(TSR_INI_SetKeysNumber(32) == 0);
    CHECK(TSR_INI_GetKeysNumber() == 32);
    TSR_INI_SetLanguage("en");
    text = TSR_INI_GetLanguage();
    CHECK(text != NULL && strcmp(text, "en") == 0);
    TSR_INI_SetConnectLPX(1);
    CHECK(TSR_INI_IsConnectLPX() == 1);

    CHECK(TSR_GetUnitDetails(0, name, &colour, &present) == 0);
    CHECK(name[0] == '\0' && colour == 0 && present == 0);
    CHECK(TSR_GetUnitDetails(4, name, &colour, &present) == 1);

    TSR_WriteLogFile("from C");
    CHECK(TSR_Destroy() == 0);
    return failures;
}
