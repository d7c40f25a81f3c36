// errno around every export on the real POSIX platform, on the paths that fail inside
// the library: no terminal and no display, standard error closed, a display that refuses
// the connection.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::RunChild;

constexpr int kHostErrno = 4242;

struct ExportRow {
    const char *name;
    void (*call)();
};

const ExportRow kExports[] = {
    {"_AssertFailed", [] { _AssertFailed(1, 2, 3); }},
    {"_AssertFailedEx", [] { _AssertFailedEx(1, 2, 3, 4); }},
    {"_EnterSafeMode", [] { _EnterSafeMode(nullptr); }},
    {"_DebugOutput", [] { _DebugOutput(u"%d %s %f %S\n", 1, u"wide", 0.5, "narrow"); }},
    {"_WarnDebug", [] { _WarnDebug(u"f.cpp", 1, u"%d", 1); }},
    {"_WarnRelease", [] { _WarnRelease(u"f.cpp", 2, u"%s", u"x"); }},
    {"_BreakRelease", [] { _BreakRelease(u"f.cpp", 3); }},
    {"_WarnFinal", [] { _WarnFinal(u"%g", 2.5); }},
    {"_SetAssertionFailedHandler", [] { _SetAssertionFailedHandler(nullptr); }},
    {"_SetAssertionFailedExHandler", [] { _SetAssertionFailedExHandler(nullptr); }},
    {"_SetEnterSafeModeHandler", [] { _SetEnterSafeModeHandler(nullptr); }},
};

// Calls every export with errno set to the host's value; writes a line to report for
// each that returns with another. Returns how many did.
int CallEveryExport(int report) {
    int changed = 0;
    for (const ExportRow &row : kExports) {
        errno = kHostErrno;
        row.call();
        const int after = errno;
        if (after != kHostErrno) {
            dprintf(report, "%s returned with errno %d (%s)\n", row.name, after, strerror(after));
            ++changed;
        }
    }
    return changed;
}

// A display that answers every connection setup with a refusal, as a server does to a
// client it does not let in, on a free abstract socket of its own. Sets DISPLAY to it.
bool ServeRefusingDisplay() {
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    for (int number = 900; number < 1000; ++number) {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const int length = snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                    "/tmp/.X11-unix/X%d", number);
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
        if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0) {
            continue;
        }
        listen(listener, 16);
        char display[16];
        snprintf(display, sizeof display, ":%d", number);
        setenv("DISPLAY", display, 1);
        std::thread([listener] {
            // Failed, a reason of 6 bytes, protocol 11.0, two words of reason that follow.
            static const unsigned char kRefusal[16] = {0,   6,   11,  0,   0,   0,   2, 0,
                                                       'N', 'o', ' ', 'w', 'a', 'y', 0, 0};
            for (;;) {
                const int client = accept(listener, nullptr, nullptr);
                if (client < 0) {
                    return;
                }
                unsigned char setup[12];
                if (recv(client, setup, sizeof setup, MSG_WAITALL) > 0) {
                    send(client, kRefusal, sizeof kRefusal, MSG_NOSIGNAL);
                }
                close(client);
            }
        }).detach();
        return true;
    }
    return false;
}

std::string Changed(int (*setup)(int report)) {
    ChildOptions options;
    options.withTerminal = false;
    const auto result = RunChild(options, [setup] {
        const int report = dup(STDERR_FILENO);
        const int failed = setup(report);
        return failed != 0 ? 90 : CallEveryExport(report);
    });
    if (result.exitCode != 0) {
        return "exit " + std::to_string(result.exitCode) + ": " + result.standardError;
    }
    return {};
}

TEST(HostErrors, NoTerminalAndNoDisplay) {
    EXPECT_EQ(Changed([](int) { return 0; }), "");
}

TEST(HostErrors, StandardErrorClosed) {
    EXPECT_EQ(Changed([](int) { return close(STDERR_FILENO); }), "");
}

TEST(HostErrors, ADisplayThatRefuses) {
    EXPECT_EQ(Changed([](int) { return ServeRefusingDisplay() ? 0 : 1; }), "");
}

} // namespace
