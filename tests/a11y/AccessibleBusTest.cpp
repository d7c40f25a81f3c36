// Finding the accessibility bus never holds the box up: addresses it must not use are not
// used, a bus whose queue of connections is full is not waited on, and one that takes the
// connection but never answers is let go at the deadline; the relay libdbus talks through
// carries everything, and only for this process.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace kvz::platform {
namespace {

const KVZChar *Text(const char16_t *text) {
    return reinterpret_cast<const KVZChar *>(text);
}

int64_t NowMs() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Connects as libdbus would, to the relay's abstract name; -1 when refused.
int ConnectTo(const BusRelay &relay) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un at = {};
    at.sun_family = AF_UNIX;
    const char *name = relay.address + strlen("unix:abstract=");
    memcpy(at.sun_path + 1, name, strlen(name));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + strlen(name));
    if (connect(fd, reinterpret_cast<sockaddr *>(&at), length) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A bus that listens and never accepts: what a stopped bus is to its clients.
class StoppedBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (LoadDbus() == nullptr) {
            GTEST_SKIP() << "libdbus-1.so.3 cannot be loaded";
        }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        snprintf(path_, sizeof path_, "/tmp/kvz-a11y-bus-%d", static_cast<int>(getpid()));
        address_ = std::string("unix:path=") + path_;
        Bind();
    }
    void TearDown() override {
        unsetenv("AT_SPI_BUS_ADDRESS");
        Unbind();
    }
    void Bind() {
        unlink(path_);
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        memcpy(at.sun_path, path_, strlen(path_) + 1);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
    }
    void Unbind() {
        for (int i = 0; i < queued_; ++i) {
            close(queue_[i]);
        }
        queued_ = 0;
        if (listener_ >= 0) {
            close(listener_);
            unlink(path_);
        }
        listener_ = -1;
    }
    // Queues up to `most` connections, fewer when the queue fills first; returns how many.
    int Fill(int most = 64) {
        sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        memcpy(at.sun_path, path_, strlen(path_) + 1);
        for (queued_ = 0; queued_ < most; ++queued_) {
            queue_[queued_] = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (connect(queue_[queued_], reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
                close(queue_[queued_]);
                break;
            }
        }
        return queued_;
    }
    // The box's loop, as a presenter runs it, until the box lets the bus go: nothing here
    // is answered. Returns how long that took; *longest is the longest single step.
    static int64_t RunUntilLetGo(AccessibleBox &box, int64_t *longest) {
        const int64_t start = NowMs();
        *longest = 0;
        while ((box.PollFor().fd >= 0 || box.TimeoutMs() >= 0) &&
               NowMs() < start + 2 * kAccessibleDeadlineMs) {
            pollfd wait = box.PollFor();
            poll(&wait, 1, box.TimeoutMs());
            const int64_t before = NowMs();
            EXPECT_EQ(box.Turn(), 0);
            *longest = std::max(*longest, NowMs() - before);
        }
        return NowMs() - start;
    }

    static DialogScene scene_;
    char path_[64] = {};
    std::string address_;
    int listener_ = -1;
    int queue_[64] = {};
    int queued_ = 0;
};

DialogScene StoppedBus::scene_;

TEST_F(StoppedBus, AddressesThatCouldWaitOrStartProgramsAreNotUsed) {
    ASSERT_EQ(listen(listener_, 16), 0);
    const std::string addresses[] = {"",
                                     "tcp:host=localhost,port=1",
                                     "autolaunch:",
                                     "unix:path=/nonexistent/bus",
                                     address_ + ";" + address_,
                                     "unix:path=\xff",
                                     "unix:guid=0"};
    for (const std::string &address : addresses) {
        setenv("AT_SPI_BUS_ADDRESS", address.c_str(), 1);
        AccessibleBox box;
        box.Start(scene_, Text(u"text"), Text(u"caption"), nullptr);
        EXPECT_EQ(box.PollFor().fd, -1) << address;
        EXPECT_EQ(box.TimeoutMs(), -1) << address;
    }
    // The bus itself is taken, escaped or not, from the variable or the root window's.
    const std::string escaped = "unix:path=" + std::string(path_).replace(0, 1, "%2f");
    const char *roots[] = {nullptr, escaped.c_str()};
    for (const char *root : roots) {
        if (root == nullptr) {
            setenv("AT_SPI_BUS_ADDRESS", address_.c_str(), 1);
        } else {
            unsetenv("AT_SPI_BUS_ADDRESS");
        }
        AccessibleBox box;
        box.Start(scene_, Text(u"text"), Text(u"caption"), root);
        EXPECT_GE(box.PollFor().fd, 0) << (root != nullptr ? root : address_.c_str());
    }
}

// libdbus connects with a blocking connect(). A stopped bus whose queue is full, or has one
// place left that a first try of our own would take, must still not hold the box. Should it
// hold it, the bus "resumes" after a while, so the test fails rather than hangs.
TEST_F(StoppedBus, AFullOrNearlyFullQueueIsNotWaitedOn) {
    constexpr int kBacklog = 2;
    ASSERT_EQ(listen(listener_, kBacklog), 0);
    const int room = Fill();
    ASSERT_GT(room, 1);
    for (const int free : {0, 1}) {
        Unbind();
        Bind();
        ASSERT_EQ(listen(listener_, kBacklog), 0);
        ASSERT_EQ(Fill(room - free), room - free);
        setenv("AT_SPI_BUS_ADDRESS", address_.c_str(), 1);
        std::promise<void> done;
        std::thread resume([this, stop = done.get_future()] {
            if (stop.wait_for(std::chrono::seconds(3)) == std::future_status::timeout) {
                fcntl(listener_, F_SETFL, O_NONBLOCK);
                for (int taken; (taken = accept(listener_, nullptr, nullptr)) >= 0;) {
                    close(taken);
                }
            }
        });
        const int64_t start = NowMs();
        AccessibleBox box;
        box.Start(scene_, Text(u"text"), Text(u"caption"), nullptr);
        const int64_t started = NowMs() - start;
        const bool reached = box.PollFor().fd >= 0;
        int64_t longest = 0;
        const int64_t letGo = RunUntilLetGo(box, &longest);
        done.set_value();
        resume.join();
        EXPECT_LT(started, 100) << free << " free";
        EXPECT_LT(longest, 100) << free << " free";
        EXPECT_EQ(reached, free == 1) << "the last place is ours, not libdbus's";
        EXPECT_LE(started + letGo, kAccessibleDeadlineMs + 200) << free << " free";
        EXPECT_FALSE(box.Live());
        EXPECT_EQ(box.PollFor().fd, -1);
        RecordProperty("let_go_ms_" + std::to_string(free) + "_free", started + letGo);
    }
}

TEST_F(StoppedBus, ASilentBusIsLetGoAtTheDeadline) {
    ASSERT_EQ(listen(listener_, 16), 0);
    setenv("AT_SPI_BUS_ADDRESS", address_.c_str(), 1);
    AccessibleBox box;
    box.Start(scene_, Text(u"text"), Text(u"caption"), nullptr);
    ASSERT_GE(box.PollFor().fd, 0);
    const int first = box.TimeoutMs();
    EXPECT_GT(first, 0);
    EXPECT_LE(first, kAccessibleDeadlineMs);
    int64_t longest = 0;
    const int64_t letGo = RunUntilLetGo(box, &longest);
    EXPECT_LE(letGo, kAccessibleDeadlineMs + 200);
    EXPECT_LT(longest, 100);
    EXPECT_EQ(box.PollFor().fd, -1);
    EXPECT_EQ(box.TimeoutMs(), -1);
    EXPECT_FALSE(box.Live());
    box.Close(); // nothing left to close: a second close is harmless
}

// The relay carries a stream both ways byte for byte, through buffers far smaller than it,
// with both ends reading only now and then.
TEST_F(StoppedBus, TheRelayCarriesBothWaysWhole) {
    ASSERT_EQ(listen(listener_, 4), 0);
    BusRelay relay;
    ASSERT_TRUE(RelayOpen(relay, address_.c_str()));
    const int bus = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
    const int dbus = ConnectTo(relay);
    ASSERT_GE(dbus, 0);
    ASSERT_TRUE(RelayAccept(relay));
    fcntl(dbus, F_SETFL, O_NONBLOCK);
    // Small socket buffers, so the relay's writes are often cut short.
    const int small = 4096;
    for (const int fd : {relay.bus, relay.peer, bus, dbus}) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    }
    constexpr size_t kSize = 1 << 20;
    std::string out[2], in[2];
    for (int side = 0; side < 2; ++side) {
        for (size_t i = 0; i < kSize; ++i) {
            out[side] += static_cast<char>((i * (side + 7)) % 251);
        }
    }
    const int ends[2] = {dbus, bus};
    size_t sent[2] = {0, 0};
    for (int round = 0; round < 100000 && (in[0].size() < kSize || in[1].size() < kSize); ++round) {
        for (int side = 0; side < 2; ++side) {
            const ssize_t wrote =
                send(ends[side], out[side].data() + sent[side], kSize - sent[side], 0);
            sent[side] += wrote > 0 ? static_cast<size_t>(wrote) : 0;
        }
        ASSERT_TRUE(RelayPump(relay));
        char chunk[3000];
        for (int side = 0; side < 2 && round % 3 == 0; ++side) {
            const ssize_t got = recv(ends[1 - side], chunk, sizeof chunk, 0);
            in[side].append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
        }
    }
    EXPECT_TRUE(in[0] == out[0]) << "towards the bus: " << in[0].size() << " bytes";
    EXPECT_TRUE(in[1] == out[1]) << "towards libdbus: " << in[1].size() << " bytes";
    EXPECT_FALSE(RelayPending(relay));
    // Either end hanging up ends the relay.
    close(bus);
    EXPECT_FALSE(RelayPump(relay));
    RelayClose(relay);
    close(dbus);
}

// Anyone may connect to the relay's name before libdbus does: another process is refused.
TEST_F(StoppedBus, OnlyThisProcessIsCarried) {
    ASSERT_EQ(listen(listener_, 4), 0);
    BusRelay relay;
    ASSERT_TRUE(RelayOpen(relay, address_.c_str()));
    const pid_t other = fork();
    if (other == 0) {
        _exit(ConnectTo(relay) >= 0 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(other, &status, 0), other);
    ASSERT_EQ(status, 0);
    EXPECT_FALSE(RelayAccept(relay));
    RelayClose(relay);
}

} // namespace
} // namespace kvz::platform
