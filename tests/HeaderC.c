/* A C host: the chief header compiles as C, and the exports link and run. */
#include "KVZDebugLib/KVZDebugLib.h"

#include <stdio.h>

static int32_t KVZ_CDECL SecondOfThree(intptr_t a, intptr_t b, intptr_t c) {
    (void)a;
    (void)c;
    return (int32_t)b;
}

int main(void) {
    ReportChoice choice = Report;
    if (_SetAssertionFailedHandler(SecondOfThree) != SecondOfThree) {
        fprintf(stderr, "setter did not return its hook\n");
        return 1;
    }
    if (_AssertFailed(1, 42, 3) != 42) {
        fprintf(stderr, "hook result not handed back\n");
        return 1;
    }
    _SetAssertionFailedHandler(NULL);
    if (_AssertFailed(1, 42, 3) != 0) {
        fprintf(stderr, "empty slot did not return 0\n");
        return 1;
    }
    /* No terminal and no display here (the test runs in its own session): the box
     * cannot be shown, which counts as CANCEL. */
    if (_WarnRelease(KVZ_TEXT(__FILE__), __LINE__, KVZ_TEXT("%s"), KVZ_TEXT("from C")) !=
        (int32_t)choice) {
        fprintf(stderr, "headless prompt did not answer Report\n");
        return 1;
    }
    printf("C host ok\n");
    return 0;
}
