// Reads KVZDebugLib.dll's version resource the way Windows Explorer does, and checks it
// against the version the build was configured with.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

const wchar_t *Value(const void *block, const wchar_t *name) {
    wchar_t path[128];
    _snwprintf(path, 128, L"\\StringFileInfo\\040904B0\\%ls", name);
    path[127] = 0;
    void *value = nullptr;
    UINT size = 0;
    if (!VerQueryValueW(block, path, &value, &size) || size == 0) {
        return L"";
    }
    return static_cast<const wchar_t *>(value);
}

} // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: %ls VERSION\n", argv[0]);
        return 2;
    }
    HMODULE module = LoadLibraryW(L"KVZDebugLib.dll");
    wchar_t path[MAX_PATH];
    if (module == nullptr || GetModuleFileNameW(module, path, MAX_PATH) == 0) {
        fwprintf(stderr, L"FAIL: KVZDebugLib.dll does not load\n");
        return 1;
    }
    static char block[8192];
    DWORD size = GetFileVersionInfoSizeW(path, nullptr);
    if (size == 0 || size > sizeof block || !GetFileVersionInfoW(path, 0, size, block)) {
        fwprintf(stderr, L"FAIL: no version resource in %ls\n", path);
        return 1;
    }
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT fixedSize = 0;
    VerQueryValueW(block, L"\\", reinterpret_cast<void **>(&fixed), &fixedSize);

    struct Check {
        const wchar_t *name;
        const wchar_t *expected;
    } checks[] = {{L"OriginalFilename", L"KVZDebugLib.dll"},
                  {L"ProductName", L"KVZDebugLib"},
                  {L"FileVersion", argv[1]},
                  {L"ProductVersion", argv[1]}};
    int failures = 0;
    for (const Check &check : checks) {
        const wchar_t *value = Value(block, check.name);
        bool same = wcscmp(value, check.expected) == 0;
        wprintf(L"%ls: %ls%ls\n", check.name, value, same ? L"" : L"  <- FAIL");
        failures += same ? 0 : 1;
    }
    unsigned major = 0, minor = 0, patch = 0;
    swscanf(argv[1], L"%u.%u.%u", &major, &minor, &patch);
    if (fixed == nullptr || fixed->dwFileVersionMS != static_cast<DWORD>(MAKELONG(minor, major)) ||
        HIWORD(fixed->dwFileVersionLS) != patch) {
        wprintf(L"FAIL: the fixed file version differs from %ls\n", argv[1]);
        ++failures;
    } else {
        wprintf(L"fixed file version: %u.%u.%u\n", major, minor, patch);
    }
    return failures == 0 ? 0 : 1;
}
