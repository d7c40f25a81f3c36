// The authorization Xlib would send, found as Xlib finds it: the file XAUTHORITY names,
// else .Xauthority in HOME; its first entry for the server's address family and address
// (this machine's host name for a local socket or 127.0.0.1) and the display number (or
// for any), of the kinds Xlib knows, the one it prefers first. The file is a series of
// entries: a 16-bit family, then the address, the display number, the protocol name and
// its data, each a big-endian 16-bit length and that many bytes.
#include "KVZDebugLib/platform/x11/X11Setup.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace kvz::platform {

namespace {

constexpr uint16_t kFamilyInternet = 0;
constexpr uint16_t kFamilyInternet6 = 6;
constexpr uint16_t kFamilyLocal = 256;
constexpr uint16_t kFamilyWild = 65535;

// Xlib's kinds, in the order it prefers them. The first needs the time and a cipher,
// which the probe does not make.
const char *const kKinds[] = {"XDM-AUTHORIZATION-1", "MIT-MAGIC-COOKIE-1"};
constexpr int kKindCount = 2;

// A field longer than its room counts as this long: it matches nothing.
constexpr uint16_t kTooLong = 0xFFFF;

struct Entry {
    uint16_t family = 0;
    uint16_t addressLength = 0, numberLength = 0, nameLength = 0, dataLength = 0;
    unsigned char address[256], number[16], name[32], data[128];
};

struct Reader {
    int fd;
    unsigned char buffer[512];
    size_t at = 0, end = 0;
};

bool ReadByte(Reader &in, unsigned char *byte) {
    if (in.at == in.end) {
        const ssize_t got = read(in.fd, in.buffer, sizeof in.buffer);
        if (got <= 0) {
            return false; // the end, an error, or a file that would block
        }
        in.at = 0;
        in.end = static_cast<size_t>(got);
    }
    *byte = in.buffer[in.at++];
    return true;
}

bool Read16(Reader &in, uint16_t *value) {
    unsigned char high, low;
    if (!ReadByte(in, &high) || !ReadByte(in, &low)) {
        return false;
    }
    *value = static_cast<uint16_t>(high << 8 | low);
    return true;
}

bool ReadField(Reader &in, unsigned char *into, size_t room, uint16_t *length) {
    if (!Read16(in, length)) {
        return false;
    }
    for (size_t i = 0; i < *length; ++i) {
        unsigned char byte;
        if (!ReadByte(in, &byte)) {
            return false;
        }
        if (i < room) {
            into[i] = byte;
        }
    }
    *length = *length > room ? kTooLong : *length;
    return true;
}

bool ReadEntry(Reader &in, Entry &entry) {
    return Read16(in, &entry.family) &&
           ReadField(in, entry.address, sizeof entry.address, &entry.addressLength) &&
           ReadField(in, entry.number, sizeof entry.number, &entry.numberLength) &&
           ReadField(in, entry.name, sizeof entry.name, &entry.nameLength) &&
           ReadField(in, entry.data, sizeof entry.data, &entry.dataLength);
}

// The server as the authority file names it: a family and an address, and the display.
struct Place {
    uint16_t family;
    const unsigned char *address;
    size_t addressLength;
    char number[16];
    size_t numberLength;
};

bool Same(const unsigned char *a, size_t aLength, const void *b, size_t bLength) {
    return aLength == bLength && memcmp(a, b, aLength) == 0;
}

bool Matches(const Entry &entry, const Place &place) {
    const bool where = entry.family == kFamilyWild ||
                       (entry.family == place.family && Same(entry.address, entry.addressLength,
                                                             place.address, place.addressLength));
    return where && (entry.numberLength == 0 ||
                     Same(entry.number, entry.numberLength, place.number, place.numberLength));
}

int KindOf(const Entry &entry) {
    for (int kind = 0; kind < kKindCount; ++kind) {
        if (Same(entry.name, entry.nameLength, kKinds[kind], strlen(kKinds[kind]))) {
            return kind;
        }
    }
    return kKindCount;
}

// The server's place as Xlib names it; false for an address family it cannot name.
bool PlaceOf(const sockaddr *peer, char *host, size_t hostRoom, Place &place) {
    place.family = kFamilyLocal;
    if (peer->sa_family == AF_INET6) {
        const auto *address = &reinterpret_cast<const sockaddr_in6 *>(peer)->sin6_addr;
        place.address = address->s6_addr;
        place.addressLength = 16;
        if (IN6_IS_ADDR_V4MAPPED(address)) {
            place.address += 12;
            place.addressLength = 4;
        } else if (!IN6_IS_ADDR_LOOPBACK(address)) {
            place.family = kFamilyInternet6;
        }
    } else if (peer->sa_family == AF_INET) {
        const auto *address = &reinterpret_cast<const sockaddr_in *>(peer)->sin_addr;
        place.address = reinterpret_cast<const unsigned char *>(&address->s_addr);
        place.addressLength = 4;
    } else if (peer->sa_family != AF_UNIX) {
        return false;
    }
    static const unsigned char kLoopback[4] = {127, 0, 0, 1};
    if (place.addressLength == 4 && memcmp(place.address, kLoopback, 4) != 0) {
        place.family = kFamilyInternet;
    }
    if (place.family == kFamilyLocal) {
        if (gethostname(host, hostRoom) != 0) {
            return false;
        }
        host[hostRoom - 1] = 0;
        place.address = reinterpret_cast<const unsigned char *>(host);
        place.addressLength = strlen(host);
    }
    return true;
}

int OpenAuthorityFile() {
    const char *named = getenv("XAUTHORITY");
    if (named != nullptr) {
        return open(named, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    }
    const char *home = getenv("HOME");
    char path[4096];
    if (home == nullptr ||
        snprintf(path, sizeof path, "%s/.Xauthority", strcmp(home, "/") == 0 ? "" : home) >=
            static_cast<int>(sizeof path)) {
        return -1;
    }
    return open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

} // namespace

void FindAuthorization(const sockaddr *peer, unsigned number, SetupAuthorization *auth) {
    *auth = SetupAuthorization{};
    char host[256];
    Place place = {};
    place.numberLength =
        static_cast<size_t>(snprintf(place.number, sizeof place.number, "%u", number));
    Reader in;
    if (!PlaceOf(peer, host, sizeof host, place) || (in.fd = OpenAuthorityFile()) < 0) {
        return;
    }
    Entry entry, best;
    int bestKind = kKindCount;
    while (bestKind > 0 && ReadEntry(in, entry)) {
        const int kind = KindOf(entry);
        if (kind < bestKind && Matches(entry, place)) {
            best = entry;
            bestKind = kind;
        }
    }
    close(in.fd);
    if (bestKind == 0) {
        auth->likeXlib = false;
    } else if (bestKind == 1 && best.dataLength <= sizeof auth->data) {
        auth->nameLength = best.nameLength;
        memcpy(auth->name, best.name, best.nameLength);
        auth->dataLength = best.dataLength;
        memcpy(auth->data, best.data, best.dataLength);
    }
}

} // namespace kvz::platform
