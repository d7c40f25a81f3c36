// A debugger built on the Win32 debug API. It runs kvz_wine_debuggee and checks that each
// fallback stops exactly once, on an int3 inside the export that applied the rule, that
// nothing stops while hooks are installed, and that debugger output arrives exactly as
// formatted.
//
//   kvz_wine_debugger run|late NAME=SIZE...
//     run    start the debuggee with DEBUG_ONLY_THIS_PROCESS
//     late   start it freely and attach with DebugActiveProcess later
//
// Where an export ends: each NAME=SIZE gives the size of an export's code as the module's
// PDB records it (tests/wine/debugger-test.sh reads them). On x64 the function table
// (.pdata) gives the exact end of the export's code, which must lie within that bound; it
// is then the end used. Each stop is printed with its RVA, for the caller to resolve.
#include "WineTest.h"

#include <algorithm>
#include <map>
#include <string.h>
#include <vector>

namespace {

const char *const kExports[] = {
    "_AssertFailed",  "_AssertFailedEx", "_BreakRelease", "_DebugOutput",
    "_EnterSafeMode", "_WarnDebug",      "_WarnFinal",    "_WarnRelease",
};

struct Extent {
    uintptr_t start = 0; // RVAs
    uintptr_t end = 0;
};

// The size of the module's image, the same in the debuggee as here.
uintptr_t g_moduleSize = 0;

std::wstring ModuleDirectory() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

// The code size of each export, from the NAME=SIZE arguments.
std::map<std::string, uintptr_t> ReadSizes(int argc, char **argv) {
    std::map<std::string, uintptr_t> sizes;
    for (int i = 2; i < argc; ++i) {
        const char *equals = strchr(argv[i], '=');
        if (equals != nullptr) {
            sizes[std::string(argv[i], static_cast<size_t>(equals - argv[i]))] =
                strtoul(equals + 1, nullptr, 0);
        }
    }
    return sizes;
}

// The extent of each export, from its own copy of the module loaded here.
std::map<std::string, Extent> FindExtents(const std::map<std::string, uintptr_t> &sizes) {
    std::map<std::string, Extent> extents;
    std::wstring path = ModuleDirectory() + L"KVZDebugLib.dll";
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
        wine_test::Fail(__FILE__, __LINE__, "cannot load KVZDebugLib.dll");
        return extents;
    }
    const uintptr_t base = reinterpret_cast<uintptr_t>(module);
    auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(module);
    g_moduleSize = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew)
                       ->OptionalHeader.SizeOfImage;
    printf("export extents (RVAs):\n");
    for (const char *name : kExports) {
        auto size = sizes.find(name);
        if (size == sizes.end() || size->second == 0) {
            wine_test::Fail(__FILE__, __LINE__, std::string("no code size given for ") + name);
            continue;
        }
        Extent extent;
        extent.start = reinterpret_cast<uintptr_t>(GetProcAddress(module, name)) - base;
        extent.end = extent.start + size->second;
        const char *how = "PDB";
#if defined(_WIN64)
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function =
            RtlLookupFunctionEntry(base + extent.start, &imageBase, nullptr);
        CHECK(function != nullptr && function->BeginAddress == extent.start);
        if (function != nullptr) {
            CHECK(function->EndAddress <= extent.end);
            extent.end = function->EndAddress;
            how = ".pdata";
        }
#endif
        printf("  %-16s %08lx..%08lx  %4lu bytes (end from %s)\n", name,
               static_cast<unsigned long>(extent.start), static_cast<unsigned long>(extent.end),
               static_cast<unsigned long>(extent.end - extent.start), how);
        extents[name] = extent;
    }
    return extents;
}

struct Stop {
    std::wstring step;
    uintptr_t address;
    DWORD firstChance;
};

class Debugger {
  public:
    explicit Debugger(std::map<std::string, Extent> extents) : extents_(std::move(extents)) {}

    // Runs the event loop until the debuggee exits or the time is up.
    void Loop(HANDLE process, DWORD processId) {
        const ULONGLONG deadline = GetTickCount64() + 90000;
        bool exited = false;
        while (!exited) {
            if (GetTickCount64() > deadline) {
                wine_test::Fail(__FILE__, __LINE__, "the debuggee did not finish in time");
                TerminateProcess(process, 99);
                DebugActiveProcessStop(processId);
                return;
            }
            DEBUG_EVENT event;
            if (!WaitForDebugEvent(&event, 500)) {
                continue;
            }
            DWORD status = DBG_CONTINUE;
            switch (event.dwDebugEventCode) {
            case CREATE_PROCESS_DEBUG_EVENT:
                threads_[event.dwThreadId] = event.u.CreateProcessInfo.hThread;
                if (event.u.CreateProcessInfo.hFile != nullptr) {
                    CloseHandle(event.u.CreateProcessInfo.hFile);
                }
                break;
            case CREATE_THREAD_DEBUG_EVENT:
                threads_[event.dwThreadId] = event.u.CreateThread.hThread;
                break;
            case EXIT_THREAD_DEBUG_EVENT:
                threads_.erase(event.dwThreadId);
                break;
            case LOAD_DLL_DEBUG_EVENT:
                loadedBases_.push_back(reinterpret_cast<uintptr_t>(event.u.LoadDll.lpBaseOfDll));
                if (event.u.LoadDll.hFile != nullptr) {
                    CloseHandle(event.u.LoadDll.hFile);
                }
                break;
            case OUTPUT_DEBUG_STRING_EVENT:
                OnDebugString(process, event.u.DebugString);
                break;
            case EXCEPTION_DEBUG_EVENT:
                status = OnException(process, event);
                break;
            case EXIT_PROCESS_DEBUG_EVENT:
                exitCode_ = event.u.ExitProcess.dwExitCode;
                exited = true;
                break;
            default:
                break;
            }
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        }
    }

    // Checks what was seen against what each step asked for.
    void Verify() {
        CHECK(sawDone_);
        CHECK_EQ(0ul, static_cast<unsigned long>(exitCode_));
        CHECK(std::find(loadedBases_.begin(), loadedBases_.end(), module_) != loadedBases_.end());
        for (const std::wstring &step : steps_) {
            std::vector<const Stop *> stops;
            for (const Stop &stop : stops_) {
                if (stop.step == step) {
                    stops.push_back(&stop);
                }
            }
            if (step[0] == L'-') {
                printf("step %-15s no breakpoint expected, %zu seen\n",
                       wine_test::Show(step).c_str(), stops.size());
                CHECK_EQ(static_cast<size_t>(0), stops.size());
                continue;
            }
            std::string name = wine_test::Show(step);
            const Extent &extent = extents_[name];
            uintptr_t start = module_ + extent.start;
            uintptr_t end = module_ + extent.end;
            CHECK_EQ(static_cast<size_t>(1), stops.size());
            for (const Stop *stop : stops) {
                printf("step %-15s EXCEPTION_BREAKPOINT at %p = %s+0x%lx (export %p..%p)\n",
                       name.c_str(), reinterpret_cast<void *>(stop->address), name.c_str(),
                       static_cast<unsigned long>(stop->address - start),
                       reinterpret_cast<void *>(start), reinterpret_cast<void *>(end));
                printf("stop %s rva 0x%lx\n", name.c_str(),
                       static_cast<unsigned long>(stop->address - module_));
                if (!(stop->address >= start && stop->address < end)) {
                    wine_test::Fail(__FILE__, __LINE__,
                                    "the breakpoint lies outside " + name + "'s own body");
                }
            }
        }
        for (const std::wstring &stray : strays_) {
            wine_test::Fail(__FILE__, __LINE__, "unexpected: " + wine_test::Show(stray));
        }
    }

    const std::vector<std::wstring> &Outputs() const { return outputs_; }
    std::wstring Encodings() const { return encodings_; }

  private:
    void OnDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO &info) {
        // The length counts the terminator. Under Wine the wide text may arrive converted
        // to the code page, as OutputDebugStringA sends it; either way it is compared as
        // wide text.
        size_t length = info.nDebugStringLength;
        std::wstring text;
        if (info.fUnicode) {
            std::vector<wchar_t> units(length + 1, 0);
            ReadProcessMemory(process, info.lpDebugStringData, units.data(),
                              length * sizeof(wchar_t), nullptr);
            text = units.data();
        } else {
            std::vector<char> bytes(length + 1, 0);
            ReadProcessMemory(process, info.lpDebugStringData, bytes.data(), length, nullptr);
            int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), -1, nullptr, 0);
            std::vector<wchar_t> wide(units > 0 ? units : 1, 0);
            MultiByteToWideChar(CP_ACP, 0, bytes.data(), -1, wide.data(), units);
            text = wide.data();
        }
        if (text.rfind(L"@step ", 0) == 0) {
            step_ = text.substr(6);
            steps_.push_back(step_);
        } else if (text.rfind(L"@module ", 0) == 0) {
            module_ = static_cast<uintptr_t>(wcstoull(text.c_str() + 8, nullptr, 16));
        } else if (text == L"@done") {
            sawDone_ = true;
        } else if (step_ == L"-output") {
            outputs_.push_back(text);
            encodings_ += info.fUnicode ? L"U" : L"A";
        } else {
            strays_.push_back(L"debug string \"" + text + L"\" in step " + step_);
        }
    }

    DWORD OnException(HANDLE process, const DEBUG_EVENT &event) {
        const EXCEPTION_RECORD &record = event.u.Exception.ExceptionRecord;
        uintptr_t address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
        if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
            // Not ours to handle; a second chance would end the debuggee.
            if (!event.u.Exception.dwFirstChance) {
                wchar_t what[64];
                _snwprintf(what, 64, L"exception %08lX, second chance",
                           static_cast<unsigned long>(record.ExceptionCode));
                what[63] = 0;
                strays_.push_back(what);
            }
            return DBG_EXCEPTION_NOT_HANDLED;
        }
        bool inModule = module_ != 0 && address >= module_ && address < module_ + g_moduleSize;
        if (!inModule && !sawSystemBreak_) {
            // The loader's breakpoint at start, or the one an attach raises: not ours.
            sawSystemBreak_ = true;
            printf("system breakpoint at %p ignored\n", reinterpret_cast<void *>(address));
            return DBG_CONTINUE;
        }
        stops_.push_back({step_, address, event.u.Exception.dwFirstChance});
        unsigned char instruction = 0;
        ReadProcessMemory(process, record.ExceptionAddress, &instruction, 1, nullptr);
        CHECK_EQ(0xCC, static_cast<int>(instruction));
        // A continued int3 carries on after itself. Where the system leaves the instruction
        // pointer on the int3 itself, step over it, as debuggers do for a breakpoint
        // written in the code.
        auto thread = threads_.find(event.dwThreadId);
        if (thread != threads_.end()) {
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL;
            GetThreadContext(thread->second, &context);
#if defined(_WIN64)
            DWORD64 &ip = context.Rip;
#else
            DWORD &ip = context.Eip;
#endif
            printf("  int3 at %p, instruction pointer %p\n", reinterpret_cast<void *>(address),
                   reinterpret_cast<void *>(static_cast<uintptr_t>(ip)));
            if (ip == address) {
                ip += 1;
                SetThreadContext(thread->second, &context);
            } else {
                CHECK(ip == address + 1);
            }
        }
        return DBG_CONTINUE;
    }

    std::map<std::string, Extent> extents_;
    std::map<DWORD, HANDLE> threads_;
    std::vector<uintptr_t> loadedBases_;
    std::vector<std::wstring> steps_;
    std::vector<Stop> stops_;
    std::vector<std::wstring> strays_;
    std::vector<std::wstring> outputs_;
    std::wstring encodings_;
    std::wstring step_;
    uintptr_t module_ = 0;
    bool sawSystemBreak_ = false;
    bool sawDone_ = false;
    DWORD exitCode_ = 1;
};

void CheckOutputs(const Debugger &debugger) {
    std::wstring digits;
    for (int i = 0; i < 1023; ++i) {
        digits += static_cast<wchar_t>(L'0' + i % 10);
    }
    const std::wstring expected[] = {L"plain text, no line feed", L"3 apples and pears, 0xBEEF\n",
                                     digits};
    const std::vector<std::wstring> &outputs = debugger.Outputs();
    CHECK_EQ(static_cast<size_t>(3), outputs.size());
    for (size_t i = 0; i < outputs.size() && i < 3; ++i) {
        CHECK_TEXT(expected[i], outputs[i]);
        printf("debug string %zu (%s, %zu units): \"%s\"\n", i,
               debugger.Encodings()[i] == L'U' ? "wide" : "code page", outputs[i].size(),
               wine_test::Show(outputs[i].substr(0, 60)).c_str());
    }
}

PROCESS_INFORMATION Start(const std::wstring &arguments, DWORD flags, bool inherit) {
    std::wstring command = L"\"" + ModuleDirectory() + L"kvz_wine_debuggee.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr,
                        &startup, &info)) {
        wine_test::Fail(__FILE__, __LINE__, "cannot start kvz_wine_debuggee.exe");
    }
    return info;
}

void RunFromStart(std::map<std::string, Extent> extents) {
    PROCESS_INFORMATION info = Start(L"run", DEBUG_ONLY_THIS_PROCESS, false);
    if (info.hProcess == nullptr) {
        return;
    }
    Debugger debugger(std::move(extents));
    debugger.Loop(info.hProcess, info.dwProcessId);
    debugger.Verify();
    CheckOutputs(debugger);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
}

void RunAttachedLate(std::map<std::string, Extent> extents) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE ready = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    HANDLE attached = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    std::wstring arguments = L"late " + std::to_wstring(reinterpret_cast<uintptr_t>(ready)) + L" " +
                             std::to_wstring(reinterpret_cast<uintptr_t>(attached));
    PROCESS_INFORMATION info = Start(arguments, 0, true);
    if (info.hProcess == nullptr) {
        return;
    }
    HANDLE waits[] = {ready, info.hProcess};
    if (WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0) {
        wine_test::Fail(__FILE__, __LINE__, "the debuggee ended or hung before the attach");
        TerminateProcess(info.hProcess, 99);
        return;
    }
    CHECK(DebugActiveProcess(info.dwProcessId));
    SetEvent(attached);
    Debugger debugger(std::move(extents));
    debugger.Loop(info.hProcess, info.dwProcessId);
    debugger.Verify();
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseHandle(ready);
    CloseHandle(attached);
}

} // namespace

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    if (strcmp(mode, "run") != 0 && strcmp(mode, "late") != 0) {
        fprintf(stderr, "usage: %s run|late NAME=SIZE...\n", argv[0]);
        return 2;
    }
    std::map<std::string, Extent> extents = FindExtents(ReadSizes(argc, argv));
    if (wine_test::g_failures == 0) {
        if (strcmp(mode, "run") == 0) {
            RunFromStart(std::move(extents));
        } else {
            RunAttachedLate(std::move(extents));
        }
    }
    return wine_test::Finish(mode);
}
