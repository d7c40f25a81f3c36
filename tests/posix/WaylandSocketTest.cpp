// The compositor's socket as the Wayland box finds and reaches it: its path from
// WAYLAND_DISPLAY and XDG_RUNTIME_DIR, and a connection that never waits past its deadline.
#include "KVZDebugLib/platform/wayland/WaylandSocket.h"
#include "KVZDebugLib/platform/posix/BoxWait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using kvz::platform::ConnectWayland;
using kvz::platform::MonotonicMs;
using kvz::platform::WaylandSocketPath;

constexpr size_t kRoom = sizeof sockaddr_un::sun_path;

TEST(WaylandSocket, PathComesFromTheDisplayAndTheRuntimeFolder) {
    const std::string longName(kRoom, 'w');
    struct Case {
        const char *display, *runtime, *path; // path null: no socket
    } const cases[] = {
        {"wayland-0", "/run/user/1000", "/run/user/1000/wayland-0"},
        {"/tmp/compositor.sock", nullptr, "/tmp/compositor.sock"}, // absolute: no folder needed
        {"/tmp/compositor.sock", "/run/user/1000", "/tmp/compositor.sock"},
        {nullptr, "/run/user/1000", nullptr}, // no Wayland session, whatever libwayland guesses
        {"", "/run/user/1000", nullptr},
        {"wayland-0", nullptr, nullptr},
        {"wayland-0", "", nullptr},
        {"wayland-0", "relative/run", nullptr},
        {longName.c_str(), "/run", nullptr}, // longer than a socket address holds
    };
    for (const Case &c : cases) {
        char path[kRoom];
        memset(path, 'x', sizeof path);
        const bool found = WaylandSocketPath(c.display, c.runtime, path, sizeof path);
        EXPECT_EQ(found, c.path != nullptr) << (c.display ? c.display : "(null)");
        EXPECT_STREQ(path, c.path != nullptr ? c.path : "") << (c.display ? c.display : "(null)");
    }
    // Exactly filling the room leaves none for the terminator.
    const std::string fits(kRoom - 6, 'f'), over(kRoom - 5, 'f');
    char path[kRoom];
    EXPECT_TRUE(WaylandSocketPath(fits.c_str(), "/run", path, sizeof path));
    EXPECT_EQ(strlen(path), kRoom - 1);
    EXPECT_FALSE(WaylandSocketPath(over.c_str(), "/run", path, sizeof path));
}

class WaylandConnect : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/kvz-wl-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        path_ = folder_ + "/wayland-9";
    }
    void TearDown() override {
        if (listener_ >= 0) {
            close(listener_);
        }
        unlink(path_.c_str());
        rmdir(folder_.c_str());
    }
    void Listen(int backlog) {
        listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        strcpy(address.sun_path, path_.c_str());
        ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener_, backlog), 0);
    }

    std::string folder_, path_;
    int listener_ = -1;
};

TEST_F(WaylandConnect, ReachesACompositorThatListens) {
    Listen(4);
    const int fd = ConnectWayland(path_.c_str(), MonotonicMs() + 3000);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    const int accepted = accept(listener_, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    close(accepted);
    close(fd);
}

TEST_F(WaylandConnect, NoSocketOrNoListenerIsNone) {
    EXPECT_EQ(ConnectWayland(path_.c_str(), MonotonicMs() + 3000), -1);
    Listen(1);
    close(listener_); // the socket file stays, nobody listens: a compositor that has gone
    listener_ = -1;
    EXPECT_EQ(ConnectWayland(path_.c_str(), MonotonicMs() + 3000), -1);
}

// A compositor that takes no connections (stopped, say) fills its queue; the box gives up
// at its deadline instead of waiting for it.
TEST_F(WaylandConnect, AQueueThatStaysFullEndsAtTheDeadline) {
    Listen(0);
    int queued[4];
    int count = 0;
    for (; count < 4; ++count) {
        queued[count] = ConnectWayland(path_.c_str(), MonotonicMs() + 50);
        if (queued[count] < 0) {
            break;
        }
    }
    EXPECT_LT(count, 4) << "the queue never filled";
    for (int i = 0; i < count; ++i) {
        close(queued[i]);
    }
}

} // namespace
