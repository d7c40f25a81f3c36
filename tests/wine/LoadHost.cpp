// A host that loads the module by name and finds its exports with GetProcAddress, by name
// and by ordinal. Its arguments are the exports as NAME@ORDINAL, as the .def gives them.
#include "HookChecks.h"

#include <stdlib.h>

namespace {

template <class F> void Bind(F &slot, HMODULE module, const char *name) {
    slot = reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    CHECK(slot != nullptr);
}

} // namespace

int main(int argc, char **argv) {
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

    // Each name and its ordinal lead to the same function; nothing lies past the last
    // ordinal, and the compiler's decorated or undecorated spellings are not exported.
    CHECK(argc > 1);
    WORD last = 0;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const size_t at = name.find('@');
        CHECK(at != std::string::npos);
        const WORD ordinal = static_cast<WORD>(atoi(name.c_str() + at + 1));
        name.resize(at);
        FARPROC byName = GetProcAddress(module, name.c_str());
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
        if (byName == nullptr || byName != byOrdinal) {
            wine_test::Fail(__FILE__, __LINE__,
                            "name and ordinal disagree for " + name + " @" +
                                std::to_string(ordinal));
        }
        printf("  @%-2u %-30s %p\n", ordinal, name.c_str(), reinterpret_cast<void *>(byName));
        last = ordinal > last ? ordinal : last;
    }
    CHECK(GetProcAddress(module, MAKEINTRESOURCEA(last + 1)) == nullptr);
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
