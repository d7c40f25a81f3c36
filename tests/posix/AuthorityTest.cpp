// The authorization the probe sends, found in an authority file of the test's own as Xlib
// finds it: by address family and address, display number, and the kind Xlib prefers.
#include "KVZDebugLib/platform/x11/X11Setup.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/un.h>
#include <unistd.h>

namespace {

using kvz::platform::FindAuthorization;
using kvz::platform::SetupAuthorization;

constexpr uint16_t kInternet = 0, kLocal = 256, kWild = 65535;
const char kMit[] = "MIT-MAGIC-COOKIE-1";
const char kXdm[] = "XDM-AUTHORIZATION-1";

std::string Field(const std::string &bytes) {
    return std::string{static_cast<char>(bytes.size() >> 8),
                       static_cast<char>(bytes.size() & 0xFF)} +
           bytes;
}

std::string Entry(uint16_t family, const std::string &address, const std::string &number,
                  const char *name, const std::string &data) {
    return std::string{static_cast<char>(family >> 8), static_cast<char>(family & 0xFF)} +
           Field(address) + Field(number) + Field(name) + Field(data);
}

std::string Host() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

struct Row {
    const char *what;
    std::string file;
    const char *peer; // "local", or an IPv4 address
    unsigned number;
    std::string sent; // the data sent, "" for none
    bool likeXlib;
};

SetupAuthorization Find(const std::string &file, const char *peer, unsigned number) {
    char path[] = "/tmp/kvz-authority-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_EQ(write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    close(fd);
    setenv("XAUTHORITY", path, 1);
    SetupAuthorization auth;
    if (strcmp(peer, "local") == 0) {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        FindAuthorization(reinterpret_cast<const sockaddr *>(&address), number, &auth);
    } else {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, peer, &address.sin_addr);
        FindAuthorization(reinterpret_cast<const sockaddr *>(&address), number, &auth);
    }
    unlink(path);
    return auth;
}

TEST(Authority, TheEntryXlibWouldSendIsFound) {
    const std::string host = Host();
    const std::string a = Entry(kLocal, host, "5", kMit, "AAAA");
    const std::string b = Entry(kLocal, host, "", kMit, "BBBB");
    const std::string remote =
        Entry(kInternet, std::string("\x0a\x01\x02\x03", 4), "5", kMit, "RRRR");
    const std::string full = a + b;
    const Row rows[] = {
        {"its own display", a, "local", 5, "AAAA", true},
        {"another display", a, "local", 6, "", true},
        {"an entry for any display", b, "local", 6, "BBBB", true},
        {"the first of two that match", b + a, "local", 5, "BBBB", true},
        {"another host's entry", Entry(kLocal, "elsewhere", "5", kMit, "EEEE"), "local", 5, "",
         true},
        {"any host (wild)", Entry(kWild, "", "5", kMit, "WWWW"), "local", 5, "WWWW", true},
        {"127.0.0.1 is this host", a, "127.0.0.1", 5, "AAAA", true},
        {"a remote server by its address", remote + a, "10.1.2.3", 5, "RRRR", true},
        {"the remote entry is not the local one", remote, "127.0.0.1", 5, "", true},
        {"an unknown kind", Entry(kLocal, host, "5", "SUN-DES-1", "SSSS"), "local", 5, "", true},
        {"XDM preferred to MIT, and not made", a + Entry(kLocal, host, "5", kXdm, "XXXX"), "local",
         5, "", false},
        {"an address too long to match, then a match",
         Entry(kLocal, std::string(300, 'h'), "5", kMit, "LLLL") + a, "local", 5, "AAAA", true},
        {"data too long to send", Entry(kLocal, host, "5", kMit, std::string(200, 'd')), "local", 5,
         "", true},
        {"cut inside an entry after a match", a + full.substr(0, full.size() - 3), "local", 5,
         "AAAA", true},
        {"cut inside the first entry", a.substr(0, 9), "local", 5, "", true},
        {"an empty file", "", "local", 5, "", true},
    };
    for (const Row &row : rows) {
        const SetupAuthorization auth = Find(row.file, row.peer, row.number);
        const std::string sent(reinterpret_cast<const char *>(auth.data), auth.dataLength);
        EXPECT_EQ(sent, row.sent) << row.what;
        EXPECT_EQ(std::string(auth.name, auth.nameLength), row.sent.empty() ? "" : kMit)
            << row.what;
        EXPECT_EQ(auth.likeXlib, row.likeXlib) << row.what;
    }
    unsetenv("XAUTHORITY");
}

// With no XAUTHORITY the file is .Xauthority in HOME; with neither nothing is sent.
TEST(Authority, WithoutXauthorityTheFileInHomeIsRead) {
    char home[] = "/tmp/kvz-home-XXXXXX";
    ASSERT_NE(mkdtemp(home), nullptr);
    const std::string path = std::string(home) + "/.Xauthority";
    const std::string file = Entry(kLocal, Host(), "3", kMit, "HHHH");
    FILE *out = fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(file.data(), 1, file.size(), out);
    fclose(out);
    const char *savedHome = getenv("HOME");
    const std::string kept = savedHome != nullptr ? savedHome : "";
    unsetenv("XAUTHORITY");
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const auto *peer = reinterpret_cast<const sockaddr *>(&address);
    SetupAuthorization auth;
    setenv("HOME", home, 1);
    FindAuthorization(peer, 3, &auth);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(auth.data), auth.dataLength), "HHHH");
    for (const char *other : {"", "/"}) {
        setenv("HOME", other, 1);
        FindAuthorization(peer, 3, &auth);
        EXPECT_EQ(auth.dataLength, 0) << "HOME '" << other << "'";
    }
    unsetenv("HOME");
    FindAuthorization(peer, 3, &auth);
    EXPECT_EQ(auth.dataLength, 0);
    if (savedHome != nullptr) {
        setenv("HOME", kept.c_str(), 1);
    }
    unlink(path.c_str());
    rmdir(home);
}

} // namespace
