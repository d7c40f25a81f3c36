// A host linked through an import library: the loader binds the eleven imports by name,
// and each lands on the export of that name.
#include "HookChecks.h"

namespace {

void CheckBound(const char *name, const void *imported) {
    HMODULE module = GetModuleHandleW(L"KVZDebugLib.dll");
    const void *exported =
        module != nullptr ? reinterpret_cast<const void *>(GetProcAddress(module, name)) : nullptr;
    if (exported == nullptr || exported != imported) {
        wine_test::Fail(__FILE__, __LINE__, std::string(name) + " is not bound to its export");
    }
}

} // namespace

int main() {
    CheckBound("_AssertFailed", reinterpret_cast<const void *>(&_AssertFailed));
    CheckBound("_AssertFailedEx", reinterpret_cast<const void *>(&_AssertFailedEx));
    CheckBound("_BreakRelease", reinterpret_cast<const void *>(&_BreakRelease));
    CheckBound("_DebugOutput", reinterpret_cast<const void *>(&_DebugOutput));
    CheckBound("_EnterSafeMode", reinterpret_cast<const void *>(&_EnterSafeMode));
    CheckBound("_SetAssertionFailedExHandler",
               reinterpret_cast<const void *>(&_SetAssertionFailedExHandler));
    CheckBound("_SetAssertionFailedHandler",
               reinterpret_cast<const void *>(&_SetAssertionFailedHandler));
    CheckBound("_SetEnterSafeModeHandler",
               reinterpret_cast<const void *>(&_SetEnterSafeModeHandler));
    CheckBound("_WarnDebug", reinterpret_cast<const void *>(&_WarnDebug));
    CheckBound("_WarnFinal", reinterpret_cast<const void *>(&_WarnFinal));
    CheckBound("_WarnRelease", reinterpret_cast<const void *>(&_WarnRelease));

    wine_test::Exports exports{&_AssertFailed,
                               &_AssertFailedEx,
                               &_EnterSafeMode,
                               &_SetAssertionFailedHandler,
                               &_SetAssertionFailedExHandler,
                               &_SetEnterSafeModeHandler};
    wine_test::CheckHooks(exports);
    return wine_test::Finish("import");
}
