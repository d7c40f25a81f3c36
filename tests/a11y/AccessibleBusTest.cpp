// Finding the accessibility bus never holds the box up: addresses it must not use are not
// used, a bus whose queue of connections is full is not waited on, and one that takes the
// connection but never answers is let go at the deadline.
#include "KVZDebugLib/platform/dialog/AccessibleBox.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <string>

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

// A bus that listens and never accepts: what a stopped bus is to its clients.
class StoppedBus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (LoadDbus() == nullptr) {
            GTEST_SKIP() << "libdbus-1.so.3 cannot be loaded";
        }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        snprintf(path_, sizeof path_, "/tmp/kvz-a11y-bus-%d", static_cast<int>(getpid()));
        unlink(path_);
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        memcpy(at.sun_path, path_, strlen(path_) + 1);
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
        address_ = std::string("unix:path=") + path_;
    }
    void TearDown() override {
        unsetenv("AT_SPI_BUS_ADDRESS");
        for (int i = 0; i < queued_; ++i) {
            close(queue_[i]);
        }
        if (listener_ >= 0) {
            close(listener_);
            unlink(path_);
        }
    }
    // Fills the bus's queue of connections.
    void Fill() {
        sockaddr_un at = {};
        at.sun_family = AF_UNIX;
        memcpy(at.sun_path, path_, strlen(path_) + 1);
        for (queued_ = 0; queued_ < 64; ++queued_) {
            queue_[queued_] = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (connect(queue_[queued_], reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
                close(queue_[queued_]);
                return;
            }
        }
        FAIL() << "the queue never filled";
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
    const std::string addresses[] = {
        "", "tcp:host=localhost,port=1", "autolaunch:", "unix:path=/nonexistent/bus",
        address_ + ";" + address_, "unix:path=\xff", "unix:guid=0"};
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

TEST_F(StoppedBus, AFullQueueIsNotWaitedOn) {
    ASSERT_EQ(listen(listener_, 0), 0);
    Fill();
    setenv("AT_SPI_BUS_ADDRESS", address_.c_str(), 1);
    AccessibleBox box;
    box.Start(scene_, Text(u"text"), Text(u"caption"), nullptr); // would hang in connect()
    EXPECT_EQ(box.PollFor().fd, -1);
    EXPECT_FALSE(box.Live());
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
    // The box's loop, as a presenter runs it: nothing here is answered, nothing waits long.
    const int64_t end = NowMs() + 2 * kAccessibleDeadlineMs;
    while (box.PollFor().fd >= 0 && NowMs() < end) {
        pollfd wait = box.PollFor();
        poll(&wait, 1, box.TimeoutMs());
        EXPECT_EQ(box.Turn(), 0);
    }
    EXPECT_EQ(box.PollFor().fd, -1);
    EXPECT_EQ(box.TimeoutMs(), -1);
    EXPECT_FALSE(box.Live());
    box.Close(); // nothing left to close: a second close is harmless
}

} // namespace
} // namespace kvz::platform
