/* A C host built against the installed package. Run with no terminal and no display, so
 * the prompt answers at once. Prints "consumer-c ok" when every check holds. */
#include <KVZDebugLib/KVZDebugLib.h>

#include <stdio.h>

static int32_t KVZ_CDECL Sum(intptr_t a, intptr_t b, intptr_t c) {
    return (int32_t)(a + b + c);
}

int main(void) {
    int failures = 0;
    if (_SetAssertionFailedHandler(Sum) != Sum || _AssertFailed(1, 2, 3) != 6) {
        puts("hook not forwarded");
        ++failures;
    }
    _SetAssertionFailedHandler(NULL);
    if (_AssertFailed(1, 2, 3) != 0) {
        puts("empty slot did not return 0");
        ++failures;
    }
#if !defined(_WIN32) /* on Windows the box would wait for a person */
    if (_WarnRelease(KVZ_TEXT(__FILE__), __LINE__, KVZ_TEXT("%d"), 1) != Report) {
        puts("headless prompt did not answer Report");
        ++failures;
    }
#endif
    _DebugOutput(KVZ_TEXT("consumer-c: %s\n"), KVZ_TEXT("debug output"));
    if (failures == 0) {
        puts("consumer-c ok");
    }
    return failures;
}
