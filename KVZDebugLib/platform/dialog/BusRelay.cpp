#include "KVZDebugLib/platform/dialog/BusRelay.h"

#include <atomic>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

// The value of `key` in the address's key=value list, unescaped (%XX) into out[capacity];
// false when it is not there or does not fit.
bool AddressValue(const char *address, const char *key, char *out, size_t capacity) {
    const size_t keyLength = strlen(key);
    for (const char *at = address + 5; *at != 0;) {
        const char *end = strchr(at, ',');
        end = end != nullptr ? end : at + strlen(at);
        if (strncmp(at, key, keyLength) == 0 && at[keyLength] == '=') {
            size_t used = 0;
            for (const char *c = at + keyLength + 1; c < end; ++c) {
                char value = *c;
                if (value == '%' && end - c >= 3) {
                    const char hex[3] = {c[1], c[2], 0};
                    value = static_cast<char>(strtol(hex, nullptr, 16));
                    c += 2;
                }
                if (used + 1 >= capacity) {
                    return false;
                }
                out[used++] = value;
            }
            out[used] = 0;
            return true;
        }
        at = *end != 0 ? end + 1 : end;
    }
    return false;
}

bool BusSocketAddress(const char *address, sockaddr_un *to, socklen_t *length) {
    to->sun_family = AF_UNIX;
    char name[sizeof to->sun_path] = {};
    if (AddressValue(address, "path", name, sizeof name)) {
        memcpy(to->sun_path, name, strlen(name) + 1);
        *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + strlen(name) + 1);
    } else if (AddressValue(address, "abstract", name, sizeof name - 1)) {
        memcpy(to->sun_path + 1, name, strlen(name));
        *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + strlen(name));
    } else {
        return false;
    }
    return true;
}

// 0 once connected; EAGAIN (queue full) or EINPROGRESS while the bus may yet take it.
int TryConnect(BusRelay &relay) {
    if (connect(relay.bus, reinterpret_cast<const sockaddr *>(&relay.to), relay.toLength) == 0) {
        return 0;
    }
    return errno == EINTR ? EAGAIN : errno;
}

// A name no other box shares: process, thread and a count.
bool Listen(BusRelay &relay) {
    static std::atomic<unsigned> count{0};
    char name[48];
    snprintf(name, sizeof name, "kvz-a11y-%d-%ld-%u", static_cast<int>(getpid()),
             static_cast<long>(syscall(SYS_gettid)), count.fetch_add(1));
    sockaddr_un at = {};
    at.sun_family = AF_UNIX;
    memcpy(at.sun_path + 1, name, strlen(name));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + strlen(name));
    relay.listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (relay.listener < 0 ||
        bind(relay.listener, reinterpret_cast<sockaddr *>(&at), length) != 0 ||
        listen(relay.listener, 4) != 0) {
        return false;
    }
    snprintf(relay.address, sizeof relay.address, "unix:abstract=%s", name);
    return true;
}

// Reads from `from` into the buffer and writes it on to `to` (when there is one), as far as
// both take it now; false when `from` has closed or either failed.
bool Carry(int from, RelayBuffer &buffer, int to) {
    for (int round = 0; round < 64; ++round) {
        bool moved = false;
        if (buffer.start == buffer.end) {
            buffer.start = buffer.end = 0;
        }
        if (buffer.end < sizeof buffer.bytes) {
            // recv, not recvmsg: descriptors passed along are dropped, never kept open.
            const ssize_t got =
                recv(from, buffer.bytes + buffer.end, sizeof buffer.bytes - buffer.end, 0);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                return false;
            }
            moved = got > 0;
            buffer.end += got > 0 ? static_cast<size_t>(got) : 0;
        }
        if (to >= 0 && buffer.start < buffer.end) {
            const ssize_t sent = send(to, buffer.bytes + buffer.start, buffer.end - buffer.start,
                                      MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
            moved = moved || sent > 0;
            buffer.start += sent > 0 ? static_cast<size_t>(sent) : 0;
        }
        if (buffer.start > 0 && buffer.end == sizeof buffer.bytes) {
            memmove(buffer.bytes, buffer.bytes + buffer.start, buffer.end - buffer.start);
            buffer.end -= buffer.start;
            buffer.start = 0;
            moved = true;
        }
        if (!moved) {
            break;
        }
    }
    return true;
}

// The connect in progress has ended: true once made, false when refused.
bool Connected(BusRelay &relay, bool *failed) {
    if (relay.retrying) {
        const int error = TryConnect(relay);
        relay.retrying = error == EAGAIN;
        relay.connecting = error == EINPROGRESS;
        *failed = error != 0 && error != EAGAIN && error != EINPROGRESS;
        return error == 0;
    }
    pollfd done = {relay.bus, POLLOUT, 0};
    if (poll(&done, 1, 0) <= 0) {
        return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    *failed = getsockopt(relay.bus, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0;
    relay.connecting = false;
    return !*failed;
}

} // namespace

bool RelayOpen(BusRelay &relay, const char *busAddress) {
    relay = {};
    if (!BusSocketAddress(busAddress, &relay.to, &relay.toLength)) {
        return false;
    }
    relay.bus = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int error = relay.bus >= 0 ? TryConnect(relay) : EBADF;
    relay.retrying = error == EAGAIN;
    relay.connecting = error == EINPROGRESS;
    if ((error != 0 && !relay.retrying && !relay.connecting) || !Listen(relay)) {
        RelayClose(relay);
        return false;
    }
    return true;
}

bool RelayAccept(BusRelay &relay) {
    relay.peer = accept4(relay.listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    close(relay.listener);
    relay.listener = -1;
    // Anyone may connect to an abstract name: only libdbus, in this process, is carried.
    ucred peer = {};
    socklen_t size = sizeof peer;
    return relay.peer >= 0 && getsockopt(relay.peer, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.pid == getpid();
}

bool RelayPump(BusRelay &relay) {
    if (relay.peer < 0 || relay.bus < 0) {
        return false;
    }
    bool failed = false;
    if ((relay.retrying || relay.connecting) && !Connected(relay, &failed)) {
        // Until the bus takes us, what libdbus writes waits in the buffer.
        return !failed && Carry(relay.peer, relay.toBus, -1);
    }
    return Carry(relay.peer, relay.toBus, relay.bus) && Carry(relay.bus, relay.toPeer, relay.peer);
}

bool RelayPending(const BusRelay &relay) {
    return relay.retrying || relay.connecting || relay.toBus.start < relay.toBus.end;
}

short RelayEvents(const BusRelay &relay) {
    if (relay.retrying) {
        return 0;
    }
    short events = relay.toPeer.end < sizeof relay.toPeer.bytes ? POLLIN : 0;
    return static_cast<short>(events | (RelayPending(relay) ? POLLOUT : 0));
}

bool RelayTakes(const BusRelay &relay) {
    return relay.toBus.end - relay.toBus.start < sizeof relay.toBus.bytes;
}

bool RelayHolding(const BusRelay &relay) {
    return relay.toPeer.start < relay.toPeer.end;
}

void RelayClose(BusRelay &relay) {
    for (int *fd : {&relay.bus, &relay.listener, &relay.peer}) {
        if (*fd >= 0) {
            close(*fd);
        }
        *fd = -1;
    }
    relay.retrying = relay.connecting = false;
}

} // namespace kvz::platform
