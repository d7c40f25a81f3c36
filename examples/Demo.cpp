// A demo host: installs hooks, calls each export, and prints what comes back.
//
//   kvz-demo tour           every export in turn (the prompts ask, where they can)
//   kvz-demo output         _DebugOutput
//   kvz-demo warn-debug     _WarnDebug         warn-release   _WarnRelease
//   kvz-demo break-release  _BreakRelease      warn-final     _WarnFinal
//   kvz-demo assert         _AssertFailed      assert-ex      _AssertFailedEx
//   kvz-demo safe-mode      _EnterSafeMode
#include "KVZDebugLib/KVZDebugLib.h"

#include <stdio.h>
#include <string.h>

namespace {

const char *ChoiceName(int32_t choice) {
    switch (choice) {
    case Continue:
        return "Continue";
    case Debug:
        return "Debug";
    case Report:
        return "Report";
    default:
        return "(not a ReportChoice)";
    }
}

int32_t KVZ_CDECL OnAssertionFailed(intptr_t a, intptr_t b, intptr_t c) {
    printf("  assertion hook called with (%ld, %ld, %ld), returns %ld\n", static_cast<long>(a),
           static_cast<long>(b), static_cast<long>(c), static_cast<long>(a + b + c));
    return static_cast<int32_t>(a + b + c);
}

int32_t KVZ_CDECL OnAssertionFailedEx(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    printf("  extended assertion hook called with (%ld, %ld, %ld, %ld), returns -1\n",
           static_cast<long>(a), static_cast<long>(b), static_cast<long>(c), static_cast<long>(d));
    return -1;
}

int32_t KVZ_CDECL OnEnterSafeMode(void *context) {
    printf("  safe-mode hook called with %s\n", context != nullptr ? "a message" : "null");
    fflush(stdout);
    return 5;
}

void Assert() {
    printf("_AssertFailed(1, 2, 3) with no hook returns %d\n", _AssertFailed(1, 2, 3));
    _SetAssertionFailedHandler(OnAssertionFailed);
    printf("_AssertFailed(1, 2, 3) with a hook returns %d\n", _AssertFailed(1, 2, 3));
    _SetAssertionFailedHandler(nullptr);
}

void AssertEx() {
    printf("_AssertFailedEx(1, 2, 3, 4) with no hook returns %d\n", _AssertFailedEx(1, 2, 3, 4));
    _SetAssertionFailedExHandler(OnAssertionFailedEx);
    printf("_AssertFailedEx(1, 2, 3, 4) with a hook returns %d\n", _AssertFailedEx(1, 2, 3, 4));
    _SetAssertionFailedExHandler(nullptr);
}

void SafeMode() {
    printf("_EnterSafeMode(null) with no hook returns %d\n", _EnterSafeMode(nullptr));
    _SetEnterSafeModeHandler(OnEnterSafeMode);
    printf("_EnterSafeMode(null) with a hook returns %d\n", _EnterSafeMode(nullptr));
    _SetEnterSafeModeHandler(nullptr);
}

void Output() {
    fflush(stdout);
    _DebugOutput(KVZ_TEXT("demo: %d reports, %s, %08X\n"), 3, KVZ_TEXT("debugger output"),
                 0xC0FFEEu);
    printf("_DebugOutput sent its text to the debugger output\n");
}

void WarnDebug() {
    fflush(stdout);
    int32_t choice = _WarnDebug(KVZ_TEXT(__FILE__), __LINE__, KVZ_TEXT("disk %s is %d%% full"),
                                KVZ_TEXT("C:"), 97);
    printf("_WarnDebug returned %d (%s)\n", choice, ChoiceName(choice));
}

void WarnRelease() {
    fflush(stdout);
    int32_t choice = _WarnRelease(KVZ_TEXT(__FILE__), __LINE__,
                                  KVZ_TEXT("checksum %08X does not match"), 0xDEADBEEFu);
    printf("_WarnRelease returned %d (%s)\n", choice, ChoiceName(choice));
}

void BreakRelease() {
    fflush(stdout);
    int32_t choice = _BreakRelease(KVZ_TEXT(__FILE__), __LINE__);
    printf("_BreakRelease returned %d (%s)\n", choice, ChoiceName(choice));
}

void WarnFinal() {
    fflush(stdout);
    int32_t result = _WarnFinal(KVZ_TEXT("the host will now close (%d open files)"), 2);
    printf("_WarnFinal returned %d (%s)\n", result,
           result == 1 ? "acknowledged" : "the box could not be shown");
}

void Tour() {
    Assert();
    AssertEx();
    SafeMode();
    Output();
    printf("The prompts follow, each with the safe-mode hook installed:\n");
    _SetEnterSafeModeHandler(OnEnterSafeMode);
    WarnDebug();
    WarnRelease();
    BreakRelease();
    WarnFinal();
    _SetEnterSafeModeHandler(nullptr);
}

struct Command {
    const char *name;
    void (*run)();
};

const Command kCommands[] = {
    {"tour", Tour},
    {"output", Output},
    {"warn-debug", WarnDebug},
    {"warn-release", WarnRelease},
    {"break-release", BreakRelease},
    {"warn-final", WarnFinal},
    {"assert", Assert},
    {"assert-ex", AssertEx},
    {"safe-mode", SafeMode},
};

} // namespace

int main(int argc, char **argv) {
    const char *name = argc > 1 ? argv[1] : "tour";
    for (const Command &command : kCommands) {
        if (strcmp(command.name, name) == 0) {
            command.run();
            return 0;
        }
    }
    fprintf(stderr, "usage: %s [", argv[0]);
    for (const Command &command : kCommands) {
        fprintf(stderr, "%s%s", command.name, &command == kCommands ? "" : "|");
    }
    fprintf(stderr, "]\n");
    return 2;
}
