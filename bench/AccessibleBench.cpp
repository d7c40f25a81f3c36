// What screen-reader support adds to a box, beside the box's own work:
//   a11y/start_close/{none,stopped,full}
//                       AccessibleBox::Start, one Turn and Close, as a box that is answered
//                       at once runs them: with no bus (no variable, no session bus), with a
//                       bus that takes connections but never answers (a stopped one), and
//                       with one whose queue of connections is full
//   a11y/scene_prepare  baseline: the box's scene laid out (fonts opened, text wrapped), the
//                       work every box does before it is shown
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using kvz::platform::AccessibleBox;
using kvz::platform::DialogScene;

const KVZChar *Text(const char16_t *text) {
    return reinterpret_cast<const KVZChar *>(text);
}

const char16_t kText[] = u"render/Mesh.cpp, line 217 : Index out of range\n Press OK to "
                         u"continue or CANCEL to report this error.";

DialogScene g_Scene;

// A listening socket standing for the bus; connections are taken off its queue outside the
// timing, unless it is to stay full.
struct StoppedBus {
    char path[64] = {};
    int fd = -1;
    explicit StoppedBus(int backlog) {
        snprintf(path, sizeof path, "/tmp/kvz-bench-bus-%d", static_cast<int>(getpid()));
        unlink(path);
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        memcpy(at.sun_path, path, strlen(path) + 1);
        bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
        listen(fd, backlog);
        char address[96];
        snprintf(address, sizeof address, "unix:path=%s", path);
        if (backlog > 0) {
            // Taken off the queue without waiting, so that the bus never fills.
            fcntl(fd, F_SETFL, O_NONBLOCK);
        }
        setenv("AT_SPI_BUS_ADDRESS", address, 1);
    }
    // Takes every connection waiting (the probe's and libdbus's).
    void Drain() const {
        for (;;) {
            const int taken = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (taken < 0) {
                return;
            }
            close(taken);
        }
    }
    ~StoppedBus() {
        unsetenv("AT_SPI_BUS_ADDRESS");
        close(fd);
        unlink(path);
    }
};

void StartClose() {
    AccessibleBox box;
    box.Start(g_Scene, Text(kText), Text(u"Assertion Failure"), nullptr);
    benchmark::DoNotOptimize(box.Turn());
    box.Close();
}

void NoBus(benchmark::State &state) {
    unsetenv("AT_SPI_BUS_ADDRESS");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    for (auto _ : state) {
        StartClose();
    }
}

void Stopped(benchmark::State &state) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    StoppedBus bus(64);
    for (auto _ : state) {
        StartClose();
        state.PauseTiming();
        bus.Drain();
        state.ResumeTiming();
    }
}

void Full(benchmark::State &state) {
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    StoppedBus bus(0);
    // The queue filled by clients of the bench's own.
    sockaddr_un at = {};
    at.sun_family = AF_UNIX;
    memcpy(at.sun_path, bus.path, strlen(bus.path) + 1);
    int fillers[4] = {-1, -1, -1, -1};
    for (int &one : fillers) {
        one = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(one, reinterpret_cast<sockaddr *>(&at), sizeof at);
    }
    for (auto _ : state) {
        StartClose();
    }
    for (int one : fillers) {
        close(one);
    }
}

void ScenePrepare(benchmark::State &state) {
    DialogScene scene;
    const kvz::platform::SceneSetup setup = {
        96, kvz::platform::kScaleUnit, {0, 0, 1920, 1080}, false};
    for (auto _ : state) {
        if (!scene.Prepare(Text(kText), Text(u"Assertion Failure"), kvz::platform::BoxOkCancel,
                           setup)) {
            state.SkipWithError("no fonts");
            return;
        }
    }
}

BENCHMARK(NoBus)->Name("a11y/start_close/none");
BENCHMARK(Stopped)->Name("a11y/start_close/stopped");
BENCHMARK(Full)->Name("a11y/start_close/full");
BENCHMARK(ScenePrepare)->Name("a11y/scene_prepare");

} // namespace

BENCHMARK_MAIN();
