// Checks of the hook setters and the forwarding entry points, run against the module however
// the host reached its exports (by name, by ordinal, or through an import library).
#pragma once

#include "KVZDebugLib/KVZDebugLib.h"

#include "WineTest.h"

#include <stdint.h>

namespace wine_test {

struct Exports {
    int32_t(KVZ_CDECL *AssertFailed)(intptr_t, intptr_t, intptr_t);
    int32_t(KVZ_CDECL *AssertFailedEx)(intptr_t, intptr_t, intptr_t, intptr_t);
    int32_t(KVZ_CDECL *EnterSafeMode)(void *);
    AssertionFailedHandler(KVZ_CDECL *SetAssertionFailedHandler)(AssertionFailedHandler);
    AssertionFailedExHandler(KVZ_CDECL *SetAssertionFailedExHandler)(AssertionFailedExHandler);
    EnterSafeModeHandler(KVZ_CDECL *SetEnterSafeModeHandler)(EnterSafeModeHandler);
};

namespace hooks {

// What each hook last received; the hooks return values the library must hand back as
// they are.
inline intptr_t g_args[4];
inline int g_calls[3];

inline int32_t KVZ_CDECL Assertion(intptr_t a, intptr_t b, intptr_t c) {
    ++g_calls[0];
    g_args[0] = a;
    g_args[1] = b;
    g_args[2] = c;
    return INT32_MIN;
}

inline int32_t KVZ_CDECL AssertionEx(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    ++g_calls[1];
    g_args[0] = a;
    g_args[1] = b;
    g_args[2] = c;
    g_args[3] = d;
    return -7;
}

inline int32_t KVZ_CDECL SafeMode(void *context) {
    ++g_calls[2];
    g_args[0] = reinterpret_cast<intptr_t>(context);
    return 0x7FFF0001;
}

inline void Reset() {
    g_args[0] = g_args[1] = g_args[2] = g_args[3] = 0;
    g_calls[0] = g_calls[1] = g_calls[2] = 0;
}

} // namespace hooks

// Values that fill every bit of a pointer-sized argument, so a cut or a reordering shows.
inline intptr_t Wide(unsigned n) {
    uintptr_t value = static_cast<uintptr_t>(0x8070605040302010ull >> (64 - 8 * sizeof(void *)));
    return static_cast<intptr_t>(value + n);
}

inline void CheckHooks(const Exports &x) {
    using namespace hooks;

    // Nothing installed at first: each entry point returns 0 and, with no debugger
    // attached, leaves no trace (a trap would end this process).
    Reset();
    CHECK_EQ(0, x.AssertFailed(1, 2, 3));
    CHECK_EQ(0, x.AssertFailedEx(1, 2, 3, 4));
    CHECK_EQ(0, x.EnterSafeMode(nullptr));

    // A setter returns the pointer it was given.
    CHECK(x.SetAssertionFailedHandler(Assertion) == Assertion);

    // Arguments arrive in order and whole; the hook's result comes back unchanged.
    CHECK_EQ(INT32_MIN, x.AssertFailed(Wide(1), Wide(2), Wide(3)));
    CHECK_EQ(1, g_calls[0]);
    CHECK(g_args[0] == Wide(1) && g_args[1] == Wide(2) && g_args[2] == Wide(3));

    // The slots are independent: the other two are still empty.
    Reset();
    CHECK_EQ(0, x.AssertFailedEx(1, 2, 3, 4));
    CHECK_EQ(0, x.EnterSafeMode(nullptr));
    CHECK_EQ(0, g_calls[0] + g_calls[1] + g_calls[2]);

    CHECK(x.SetAssertionFailedExHandler(AssertionEx) == AssertionEx);
    CHECK(x.SetEnterSafeModeHandler(SafeMode) == SafeMode);
    CHECK_EQ(-7, x.AssertFailedEx(Wide(4), Wide(5), Wide(6), Wide(7)));
    CHECK(g_args[0] == Wide(4) && g_args[1] == Wide(5) && g_args[2] == Wide(6) &&
          g_args[3] == Wide(7));
    int context = 0;
    CHECK_EQ(0x7FFF0001, x.EnterSafeMode(&context));
    CHECK(g_args[0] == reinterpret_cast<intptr_t>(&context));
    CHECK_EQ(1, g_calls[1]);
    CHECK_EQ(1, g_calls[2]);
    CHECK_EQ(0, g_calls[0]);

    // Emptying one slot leaves the others installed.
    Reset();
    CHECK(x.SetAssertionFailedExHandler(nullptr) == nullptr);
    CHECK_EQ(0, x.AssertFailedEx(1, 2, 3, 4));
    CHECK_EQ(INT32_MIN, x.AssertFailed(1, 2, 3));
    CHECK_EQ(0x7FFF0001, x.EnterSafeMode(nullptr));
    CHECK_EQ(0, g_calls[1]);
    CHECK_EQ(1, g_calls[0]);
    CHECK_EQ(1, g_calls[2]);

    x.SetAssertionFailedHandler(nullptr);
    x.SetEnterSafeModeHandler(nullptr);
    Reset();
    CHECK_EQ(0, x.AssertFailed(1, 2, 3));
    CHECK_EQ(0, x.EnterSafeMode(nullptr));
    CHECK_EQ(0, g_calls[0] + g_calls[1] + g_calls[2]);
}

} // namespace wine_test
