// The probe's side of the X connection setup (X11Setup.h). The request is sent in this
// machine's byte order, so the answer comes in it too.
#include "KVZDebugLib/platform/x11/X11Setup.h"

#include "KVZDebugLib/platform/x11/X11Probe.h"

#include <errno.h>
#include <string.h>

namespace kvz::platform {

namespace {

size_t Padded(size_t length) {
    return (length + 3) & ~size_t{3};
}

uint16_t Read16(const unsigned char *at) {
    uint16_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

uint32_t Read32(const unsigned char *at) {
    uint32_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

// Reads exactly `size` bytes before the deadline: Accepted when they all came, else what
// stopped it. How many came is left in *got.
SetupAnswer Receive(int fd, unsigned char *into, size_t size, int64_t deadline, size_t *got) {
    *got = 0;
    while (*got < size) {
        if (!WaitReadable(fd, deadline)) {
            return SetupAnswer::Silent;
        }
        const ssize_t read = recv(fd, into + *got, size - *got, 0);
        if (read > 0) {
            *got += static_cast<size_t>(read);
        } else if (read == 0 || errno == ECONNRESET) {
            return SetupAnswer::HungUp;
        } else if (errno != EINTR && errno != EAGAIN) {
            return SetupAnswer::Failed;
        }
    }
    return SetupAnswer::Accepted;
}

// The fixed part of an accepted reply, as far as Xlib checks it before it complains: a
// resource-id mask, a vendor name of at most 256 bytes, and room in the stated length for
// the vendor name, the pixmap formats and at least one screen.
bool Readable(const unsigned char *fixed, size_t length) {
    const uint32_t idMask = Read32(fixed + 8);
    const size_t vendor = Read16(fixed + 16);
    const size_t screens = fixed[20];
    const size_t formats = fixed[21];
    return idMask != 0 && vendor <= 256 && screens >= 1 &&
           32 + Padded(vendor) + 8 * formats + 40 * screens <= length;
}

// Reads and drops the rest of an accepted reply: it must arrive whole.
SetupAnswer Drain(int fd, size_t left, int64_t deadline) {
    unsigned char chunk[512];
    while (left > 0) {
        size_t got = 0;
        const size_t size = left < sizeof chunk ? left : sizeof chunk;
        const SetupAnswer read = Receive(fd, chunk, size, deadline, &got);
        if (read != SetupAnswer::Accepted) {
            return read == SetupAnswer::HungUp ? SetupAnswer::Broken : read;
        }
        left -= size;
    }
    return SetupAnswer::Accepted;
}

} // namespace

size_t BuildSetupRequest(const SetupAuthorization &auth, unsigned char *request) {
    // Byte order, an unused byte, protocol 11.0, the authorization's name and data
    // lengths, two unused bytes; then the name and the data, each padded to 4 bytes.
    memset(request, 0, kMaxSetupRequest);
    const uint16_t one = 1;
    request[0] = *reinterpret_cast<const unsigned char *>(&one) == 1 ? 'l' : 'B';
    const uint16_t major = 11;
    memcpy(request + 2, &major, sizeof major);
    memcpy(request + 6, &auth.nameLength, sizeof auth.nameLength);
    memcpy(request + 8, &auth.dataLength, sizeof auth.dataLength);
    memcpy(request + 12, auth.name, auth.nameLength);
    memcpy(request + 12 + Padded(auth.nameLength), auth.data, auth.dataLength);
    return 12 + Padded(auth.nameLength) + Padded(auth.dataLength);
}

SetupAnswer ExchangeSetup(int fd, const SetupAuthorization &auth, int64_t deadline) {
    unsigned char request[kMaxSetupRequest];
    const size_t size = BuildSetupRequest(auth, request);
    if (send(fd, request, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
        return errno == ECONNRESET || errno == EPIPE ? SetupAnswer::HungUp : SetupAnswer::Failed;
    }
    // Status (0 failed, 1 success, 2 authenticate), a byte, the protocol version, and
    // the length in 4-byte words of what follows.
    unsigned char prefix[8];
    size_t got = 0;
    const SetupAnswer read = Receive(fd, prefix, sizeof prefix, deadline, &got);
    if (read != SetupAnswer::Accepted) {
        return read == SetupAnswer::HungUp && got > 0 ? SetupAnswer::Broken : read;
    }
    if (prefix[0] == 0 || prefix[0] == 2) {
        return SetupAnswer::Refused;
    }
    const size_t length = size_t{Read16(prefix + 6)} * 4;
    if (prefix[0] != 1 || Read16(prefix + 2) != 11 || length < 32) {
        return SetupAnswer::Broken;
    }
    unsigned char fixed[32];
    const SetupAnswer body = Receive(fd, fixed, sizeof fixed, deadline, &got);
    if (body != SetupAnswer::Accepted) {
        return body == SetupAnswer::HungUp ? SetupAnswer::Broken : body;
    }
    return Readable(fixed, length) ? Drain(fd, length - sizeof fixed, deadline)
                                   : SetupAnswer::Broken;
}

} // namespace kvz::platform
