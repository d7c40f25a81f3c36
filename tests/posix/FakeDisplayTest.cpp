// A prompt in an ordinary host whose DISPLAY names a fake X server (on the abstract local
// socket of a free display number: Xlib reaches no socket path of the test's own) that
// refuses, or answers what Xlib cannot read, or hangs
// up in setup: the prompt must put nothing on the host's standard error, make only a few
// connections, and answer "not shown" (no terminal here) before the deadline passes.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <dlfcn.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::RunChild;

using Bytes = std::vector<unsigned char>;

// The answers, in the byte order of a little-endian client. An empty answer hangs up.
Bytes WithReason(unsigned char status, const char *reason) {
    const size_t length = strlen(reason), words = (length + 3) / 4;
    Bytes answer = {status,
                    static_cast<unsigned char>(status == 0 ? length : 0),
                    11,
                    0,
                    0,
                    0,
                    static_cast<unsigned char>(words),
                    0};
    answer.insert(answer.end(), reason, reason + length);
    answer.resize(8 + words * 4);
    return answer;
}

// Accepted, with a body of 18 words: room for the fixed part and one screen, all zero but
// the count of screens, so no resource-id mask.
Bytes WithoutMask() {
    Bytes answer = {1, 0, 11, 0, 0, 0, 18, 0};
    answer.resize(8 + 72);
    answer[8 + 20] = 1;
    return answer;
}

struct FakeServer {
    const char *name;
    Bytes answer;
};

const FakeServer kServers[] = {
    {"refuses, its reason holding controls",
     WithReason(0, "\x1b]0;owned\x07\x1b[2J\x1b[31mNo way\r\n")},
    {"asks to authenticate", WithReason(2, "Authorization required\x1b[5m")},
    {"accepts with nothing after the header", {1, 0, 11, 0, 0, 0, 0, 0}},
    {"accepts with no resource-id mask", WithoutMask()},
    {"answers with a status of its own", {'Z', 1, 11, 0, 0, 0, 0, 0}},
    {"sends half a header and hangs up", {1, 0, 11}},
    {"hangs up every setup", {}},
};

// Serves every connection on path with the answer, counting them, until told to stop.
struct Server {
    int listener = -1;
    std::atomic<int> connections{0};
    std::atomic<bool> stop{false};
    std::thread thread;

    // Listens as a free display number and sets DISPLAY to it.
    bool Start(const Bytes &answer) {
        listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        for (int number = 1000; number < 1100; ++number) {
            sockaddr_un address = {};
            address.sun_family = AF_UNIX;
            const int length = snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                        "/tmp/.X11-unix/X%d", number);
            const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
            if (bind(listener, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
                listen(listener, 64) == 0) {
                char display[16];
                snprintf(display, sizeof display, ":%d", number);
                setenv("DISPLAY", display, 1);
                thread = std::thread([this, answer] { Serve(answer); });
                return true;
            }
        }
        return false;
    }

    void Serve(const Bytes &answer) {
        while (!stop.load()) {
            pollfd wait = {listener, POLLIN, 0};
            if (poll(&wait, 1, 20) <= 0) {
                continue;
            }
            const int client = accept(listener, nullptr, nullptr);
            if (client < 0) {
                continue;
            }
            ++connections;
            unsigned char request[512];
            if (recv(client, request, sizeof request, 0) > 0 && !answer.empty()) {
                send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            }
            close(client);
        }
    }

    ~Server() {
        stop.store(true);
        if (thread.joinable()) {
            thread.join();
        }
        close(listener);
    }
};

int64_t NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

TEST(FakeDisplay, NothingOnStandardErrorFewConnectionsNotShownInTime) {
    // Without Xlib (a cross build run under an emulator, say) no box is tried at all.
    void *xlib = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
    if (xlib == nullptr) {
        GTEST_SKIP() << "libX11.so.6 cannot be loaded here: " << dlerror();
    }
    dlclose(xlib);
    for (const FakeServer &server : kServers) {
        int figures[2];
        ASSERT_EQ(pipe(figures), 0);
        ChildOptions options;
        options.withTerminal = false;
        const auto result = RunChild(options, [&] {
            Server fake;
            if (!fake.Start(server.answer)) {
                return 90;
            }
            setenv("XAUTHORITY", "/nonexistent", 1); // no authorization of the machine's
            const int64_t started = NowMs();
            const int32_t answer = _WarnFinal(u"%s", u"fake display");
            const long long elapsed = NowMs() - started;
            dprintf(figures[1], "%d %d %lld", static_cast<int>(answer), fake.connections.load(),
                    elapsed);
            return 0;
        });
        close(figures[1]);
        char text[64] = {};
        const ssize_t got = read(figures[0], text, sizeof text - 1);
        close(figures[0]);
        int answer = -1, connections = -1;
        long long elapsed = -1;
        ASSERT_EQ(result.exitCode, 0) << server.name;
        ASSERT_TRUE(got > 0 && sscanf(text, "%d %d %lld", &answer, &connections, &elapsed) == 3)
            << server.name;
        const std::string &error = result.standardError;
        const auto lines = std::count(error.begin(), error.end(), '\n');
        printf("%s: %d connections, %zu bytes in %td lines on standard error, not shown after "
               "%lld ms\n",
               server.name, connections, error.size(), lines, elapsed);
        EXPECT_EQ(error.size(), 0u) << server.name << ": " << error.substr(0, 200);
        EXPECT_EQ(answer, 0) << server.name;
        EXPECT_GE(connections, 1) << server.name;
        EXPECT_LE(connections, 5) << server.name;
        EXPECT_LT(elapsed, 3000) << server.name;
    }
}

} // namespace
