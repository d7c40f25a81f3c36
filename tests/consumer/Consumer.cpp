// A C++ host built against the installed package, its text written once for every
// platform with KVZ_TEXT. Prints "consumer-cpp ok" when every check holds.
#include <KVZDebugLib/KVZDebugLib.h>

#include <cstdio>

namespace {
int32_t KVZ_CDECL Fourth(intptr_t, intptr_t, intptr_t, intptr_t d) {
    return static_cast<int32_t>(d);
}
} // namespace

int main() {
    int failures = 0;
    _SetAssertionFailedExHandler(Fourth);
    if (_AssertFailedEx(1, 2, 3, -4) != -4) {
        std::puts("extended hook not forwarded");
        ++failures;
    }
#if !defined(_WIN32) // on Windows the boxes would wait for a person
    if (_WarnDebug(KVZ_TEXT(__FILE__), __LINE__, KVZ_TEXT("%s"), KVZ_TEXT("x")) != Debug) {
        std::puts("headless prompt did not answer Debug");
        ++failures;
    }
    if (_WarnFinal(KVZ_TEXT("bye")) != 0) {
        std::puts("headless final prompt did not answer 0");
        ++failures;
    }
#else
    _DebugOutput(KVZ_TEXT("consumer-cpp: %s\n"), KVZ_TEXT("debug output"));
#endif
    if (failures == 0) {
        std::puts("consumer-cpp ok");
    }
    return failures;
}
