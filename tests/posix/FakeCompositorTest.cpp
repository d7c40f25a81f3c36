// A prompt in a host whose WAYLAND_DISPLAY names a fake compositor that is not there, hangs
// up, sends what libwayland cannot read, or takes the connection and never answers: the
// prompt must put nothing on the host's standard error and answer "not shown" (no display,
// no terminal here) within the deadline, having tried the compositor.
#include "ChildProcess.h"

#include "KVZDebugLib/KVZDebugLib.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using kvz::testing::ChildOptions;
using kvz::testing::RunChild;

enum class Behaviour { Absent, HangsUp, Garbles, Silent };

struct FakeCompositor {
    const char *name;
    Behaviour behaviour;
};

const FakeCompositor kCompositors[] = {
    {"is not there", Behaviour::Absent},
    {"hangs up", Behaviour::HangsUp},
    {"answers with an event for an object that does not exist", Behaviour::Garbles},
    {"takes the connection and never answers", Behaviour::Silent},
};

// Serves the socket as the behaviour says, counting connections, until told to stop.
struct Compositor {
    int listener = -1;
    std::atomic<int> connections{0};
    std::atomic<bool> stop{false};
    std::vector<int> held;
    std::thread thread;

    bool Start(const std::string &path, Behaviour behaviour) {
        listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(listener, 8) != 0) {
            return false;
        }
        thread = std::thread([this, behaviour] { Serve(behaviour); });
        return true;
    }

    void Serve(Behaviour behaviour) {
        // Object 7 (never made), opcode 0, 8 bytes: libwayland must refuse it, quietly.
        static const unsigned char kGarble[] = {7, 0, 0, 0, 0, 0, 8, 0};

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
            if (behaviour == Behaviour::Garbles) {
                send(client, kGarble, sizeof kGarble, MSG_NOSIGNAL);
            }

            if (behaviour != Behaviour::HangsUp) {
                held.push_back(client); // kept open, so only the deadline ends the wait
            } else {
                close(client);
            }
        }
    }

    ~Compositor() {
        stop.store(true);
        if (thread.joinable()) {
            thread.join();
        }
        for (int client : held) {
            close(client);
        }
        close(listener);
    }
};

int64_t NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

TEST(FakeCompositor, NothingOnStandardErrorNotShownInTime) {
    void *wayland = dlopen("libwayland-client.so.0", RTLD_LAZY | RTLD_LOCAL);
    if (wayland == nullptr) {
        GTEST_SKIP() << "libwayland-client.so.0 cannot be loaded here: " << dlerror();
    }
    dlclose(wayland);
    char folder[] = "/tmp/kvz-compositor-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/wayland-7";
    for (const FakeCompositor &fake : kCompositors) {
        int figures[2];
        ASSERT_EQ(pipe(figures), 0);
        ChildOptions options;
        options.withTerminal = false;
        const auto result = RunChild(options, [&] {
            Compositor compositor;
            if (fake.behaviour != Behaviour::Absent && !compositor.Start(path, fake.behaviour)) {
                return 90;
            }
            unsetenv("DISPLAY");
            setenv("XDG_RUNTIME_DIR", folder, 1);
            setenv("WAYLAND_DISPLAY", "wayland-7", 1);
            const int64_t started = NowMs();
            const int32_t answer = _WarnFinal(u"%s", u"fake compositor");
            const long long elapsed = NowMs() - started;
            dprintf(figures[1], "%d %d %lld", static_cast<int>(answer),
                    compositor.connections.load(), elapsed);
            return 0;
        });
        unlink(path.c_str());
        close(figures[1]);
        char text[64] = {};
        const ssize_t got = read(figures[0], text, sizeof text - 1);
        close(figures[0]);
        int answer = -1, connections = -1;
        long long elapsed = -1;
        ASSERT_EQ(result.exitCode, 0) << fake.name;
        ASSERT_TRUE(got > 0 && sscanf(text, "%d %d %lld", &answer, &connections, &elapsed) == 3)
            << fake.name;
        printf("a compositor that %s: %d connections, not shown after %lld ms\n", fake.name,
               connections, elapsed);
        EXPECT_EQ(result.standardError, "") << fake.name;
        EXPECT_EQ(answer, 0) << fake.name;
        EXPECT_EQ(connections, fake.behaviour == Behaviour::Absent ? 0 : 1) << fake.name;
        // One deadline (3 s) at most, and a margin for a loaded machine.
        EXPECT_LT(elapsed, 4500) << fake.name;
    }
    rmdir(folder);
}

} // namespace
