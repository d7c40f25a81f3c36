// A host that loads the module by name and finds its exports with GetProcAddress, by name
// and by ordinal.
#include "HookChecks.h"

namespace {

// The exports in the order of their ordinals, 1 to 11.
const char *const kExportNames[] = {
    "_AssertFailed",
    "_AssertFailedEx",
    "_BreakRelease",
    "_DebugOutput",
    "_EnterSafeMode",
    "_SetAssertionFailedExHandler",
    "_SetAssertionFailedHandler",
    "_SetEnterSafeModeHandler",
    "_WarnDebug",
    "_WarnFinal",
    "_WarnRelease",
};

template <class F> void Bind(F &slot, HMODULE module, const char *name) {
    slot = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    CHECK(slot != nullptr);
}

} // namespace

int main() {
    // Loading and unloading with no call in between succeeds.
    HMODULE module = LoadLibraryW(L"KVZDebugLib.dll");
    CHECK(module != nullptr);
    if (module == nullptr) {
        return wine_test::Finish("load");
    }
    CHECK(FreeLibrary(module));
    module = LoadLibraryW(L"KVZDebugLib.dll");
    CHECK(module != nullptr);
    if (module == nullptr) {
        return wine_test::Finish("load");
    }

    // Each name and its ordinal lead to the same function; nothing lies past ordinal 11,
    // and the compiler's decorated or undecorated spellings are not exported.
    for (WORD ordinal = 1; ordinal <= 11; ++ordinal) {
        const char *name = kExportNames[ordinal - 1];
        FARPROC byName = GetProcAddress(module, name);
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
        if (byName == nullptr || byName != byOrdinal) {
            wine_test::Fail(__FILE__, __LINE__,
                            std::string("name and ordinal disagree for ") + name + " @" +
                                std::to_string(ordinal));
        }
        printf("  @%-2u %-30s %p\n", ordinal, name, reinterpret_cast<void *>(byName));
    }
    CHECK(GetProcAddress(module, MAKEINTRESOURCEA(12)) == nullptr);
    CHECK(GetProcAddress(module, "__AssertFailed") == nullptr);
    CHECK(GetProcAddress(module, "AssertFailed") == nullptr);
    CHECK(GetProcAddress(module, "DllMain") == nullptr);

    wine_test::Exports exports{};
    Bind(exports.AssertFailed, module, "_AssertFailed");
    Bind(exports.AssertFailedEx, module, "_AssertFailedEx");
    Bind(exports.EnterSafeMode, module, "_EnterSafeMode");
    Bind(exports.SetAssertionFailedHandler, module, "_SetAssertionFailedHandler");
    Bind(exports.SetAssertionFailedExHandler, module, "_SetAssertionFailedExHandler");
    Bind(exports.SetEnterSafeModeHandler, module, "_SetEnterSafeModeHandler");
    if (wine_test::g_failures == 0) {
        wine_test::CheckHooks(exports);
    }
    CHECK(FreeLibrary(module));
    return wine_test::Finish("load");
}
