// Finds out whether the X server that DISPLAY names answers, without waiting past a
// deadline: the display name is read as Xlib reads it, the server is reached the way
// Xlib would reach it, and a connection setup is asked for on a non-blocking socket.
//
// The forms read are those Xlib reads: "[protocol/][host]:display[.screen]", with protocol
// unix, tcp, inet or inet6 and an IPv6 host in brackets or not, and the path of a local
// socket, with ".screen" after it or not. DECnet's "host::display" is Unknown.
#include "KVZDebugLib/platform/x11/X11Probe.h"

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

struct DisplayName {
    bool tcp;         // reached over TCP only
    bool tcpFallback; // the local socket, else TCP on this machine (no host, no protocol)
    char host[256];
    char port[8];                            // 6000 + the display number
    char path[sizeof sockaddr_un::sun_path]; // the local socket
    unsigned number;                         // the display number, 0 for a socket path
};

// Reads a local socket's path, with ".screen" after it or not.
bool ParseSocketPath(const char *text, DisplayName &name) {
    const size_t length = strlen(text);
    if (length >= sizeof name.path) {
        return false;
    }
    memcpy(name.path, text, length + 1);
    struct stat status = {};
    char *dot = strrchr(name.path, '.');
    if (stat(name.path, &status) != 0 && dot != nullptr && dot[1] >= '0' && dot[1] <= '9' &&
        strspn(dot + 1, "0123456789") == strlen(dot + 1)) {
        *dot = 0; // the screen number
    }
    name.tcp = false;
    name.tcpFallback = false;
    name.number = 0;
    return true;
}

// Reads a display name as Xlib does. False for a form Xlib would not read.
bool ParseDisplay(const char *text, DisplayName &name) {
    if (text[0] == '/') {
        return ParseSocketPath(text, name);
    }
    const char *slash = strrchr(text, '/');
    const char *rest = slash != nullptr ? slash + 1 : text;
    const size_t protocolLength = slash != nullptr ? static_cast<size_t>(slash - text) : 0;
    const bool unixOnly = slash != nullptr && protocolLength == 4 && strncmp(text, "unix", 4) == 0;
    if (slash != nullptr && !unixOnly && strncmp(text, "tcp/", 4) != 0 &&
        strncmp(text, "inet/", 5) != 0 && strncmp(text, "inet6/", 6) != 0) {
        return false; // a socket path, or a protocol Xlib would not use here
    }
    const char *colon = strrchr(rest, ':');
    if (colon == nullptr || colon[1] < '0' || colon[1] > '9') {
        return false;
    }
    size_t hostLength = static_cast<size_t>(colon - rest);
    if ((hostLength > 0 && rest[hostLength - 1] == ':') || hostLength >= sizeof name.host) {
        return false; // DECnet, or a host name longer than any
    }
    char *end = nullptr;
    const unsigned long number = strtoul(colon + 1, &end, 10);
    if (number > 60000 || (*end != 0 && *end != '.')) {
        return false;
    }
    if (*end == '.' &&
        (end[1] < '0' || end[1] > '9' || strspn(end + 1, "0123456789") != strlen(end + 1))) {
        return false;
    }
    if (hostLength >= 2 && rest[0] == '[' && rest[hostLength - 1] == ']') {
        ++rest; // an IPv6 address in brackets
        hostLength -= 2;
    }
    memcpy(name.host, rest, hostLength);
    name.host[hostLength] = 0;
    const bool local = unixOnly || hostLength == 0 || strcmp(name.host, "unix") == 0;
    name.tcp = !local;
    name.tcpFallback = slash == nullptr && hostLength == 0;
    name.number = static_cast<unsigned>(number);
    snprintf(name.port, sizeof name.port, "%lu", 6000 + number);
    snprintf(name.path, sizeof name.path, "/tmp/.X11-unix/X%lu", number);
    return true;
}

// Goes through a connection setup on a socket whose connect has begun.
SetupAnswer AskSetup(int fd, const sockaddr *address, unsigned number, int64_t deadline,
                     bool *likeXlib) {
    if (!WaitFor(fd, POLLOUT, deadline)) {
        return SetupAnswer::Silent;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
        return SetupAnswer::Failed;
    }
    SetupAuthorization auth;
    FindAuthorization(address, number, &auth);
    *likeXlib = auth.likeXlib;
    return ExchangeSetup(fd, auth, deadline);
}

ProbeResult ProbeAddress(const sockaddr *address, socklen_t length, unsigned number,
                         SetupRetries *retries, ProbeConnection *kept) {
    for (;;) {
        const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return ProbeResult::Absent;
        }
        SetupAnswer answer = SetupAnswer::Failed;
        if (connect(fd, address, length) == 0 || errno == EINPROGRESS || errno == EINTR) {
            answer = AskSetup(fd, address, number, retries->deadline, &kept->likeXlib);
        } else if (errno == EAGAIN) {
            answer = SetupAnswer::Silent; // a full queue: the server is not taking connections
        }
        if (answer == SetupAnswer::Accepted || answer == SetupAnswer::Refused ||
            answer == SetupAnswer::Broken) {
            kept->fd = fd;
            kept->answer = answer;
            return ProbeResult::Answered;
        }
        close(fd);
        if (answer == SetupAnswer::Silent) {
            return ProbeResult::Silent;
        }
        if (answer == SetupAnswer::Failed || !PauseBeforeRetry(retries)) {
            return ProbeResult::Absent;
        }
    }
}

// A local socket, in the abstract namespace or as a file.
ProbeResult ProbeUnix(const char *path, bool abstract, unsigned number, SetupRetries *retries,
                      ProbeConnection *kept) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t length = strlen(path) + (abstract ? 1 : 0);
    if (length > sizeof address.sun_path) {
        return ProbeResult::Absent;
    }
    memcpy(address.sun_path + (abstract ? 1 : 0), path, length - (abstract ? 1 : 0));
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    return ProbeAddress(reinterpret_cast<const sockaddr *>(&address), size, number, retries, kept);
}

// The first of the host's addresses that takes a connection decides, as with Xlib. The
// name is looked up as Xlib would look it up, with no deadline of ours.
ProbeResult ProbeTcp(const char *host, const char *port, unsigned number, SetupRetries *retries,
                     ProbeConnection *kept) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    if (getaddrinfo(host[0] != 0 ? host : "localhost", port, &hints, &found) != 0) {
        return ProbeResult::Absent;
    }
    ProbeResult result = ProbeResult::Absent;
    for (const addrinfo *at = found; at != nullptr && result == ProbeResult::Absent;
         at = at->ai_next) {
        result = ProbeAddress(at->ai_addr, at->ai_addrlen, number, retries, kept);
    }
    freeaddrinfo(found);
    return result;
}

} // namespace

bool WaitReadable(int fd, int64_t deadline) {
    return WaitFor(fd, POLLIN, deadline);
}

bool PauseBeforeRetry(SetupRetries *retries) {
    const int pause = kRetryPauseMs << retries->made;
    if (retries->made >= kMaxRetries || MonotonicMs() + pause >= retries->deadline) {
        return false;
    }
    ++retries->made;
    poll(nullptr, 0, pause);
    return true;
}

bool XlibMayConnect(const ProbeConnection &probe) {
    return probe.answer == SetupAnswer::Accepted ||
           (probe.answer == SetupAnswer::Refused && !probe.likeXlib);
}

ProbeResult ProbeDisplay(const char *display, SetupRetries *retries, ProbeConnection *kept) {
    DisplayName name;
    if (!ParseDisplay(display, name)) {
        return ProbeResult::Unknown;
    }
    if (name.tcp) {
        return ProbeTcp(name.host, name.port, name.number, retries, kept);
    }
    ProbeResult result = ProbeUnix(name.path, true, name.number, retries, kept);
    if (result == ProbeResult::Absent) {
        result = ProbeUnix(name.path, false, name.number, retries, kept);
    }
    if (result == ProbeResult::Absent && name.tcpFallback) {
        result = ProbeTcp("", name.port, name.number, retries, kept);
    }
    return result;
}

void CloseProbe(ProbeConnection *kept) {
    if (kept->fd >= 0) {
        close(kept->fd);
        kept->fd = -1;
    }
}

} // namespace kvz::platform
