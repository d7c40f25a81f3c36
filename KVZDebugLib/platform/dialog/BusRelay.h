// libdbus connects with a blocking connect(): a bus that is stopped with its queue of
// connections full would hold it, and the box, for as long as it stays so. So libdbus never
// connects to the bus. The box connects itself without blocking and hands libdbus the
// address of a socket of its own, whose connect completes at once; the bytes are carried
// both ways from the box's loop, in fixed buffers, never waiting. The bus sees our own
// connection's credentials (this process), so EXTERNAL authentication holds.
#pragma once

#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace kvz::platform {

struct RelayBuffer {
    char bytes[4096] = {};
    size_t start = 0, end = 0;
};

struct BusRelay {
    int bus = -1;            // ours to the bus: connected, or still trying
    int listener = -1;       // where libdbus connects, until it has
    int peer = -1;           // libdbus's connection, accepted
    bool retrying = false;   // the bus's queue was full: connect again on each pump
    bool connecting = false; // connect in progress: writable once done
    sockaddr_un to = {};
    socklen_t toLength = 0;
    char address[64] = {}; // what libdbus is given
    RelayBuffer toBus, toPeer;
};

// Connects to the bus at `busAddress` (unix:path= or unix:abstract=) without blocking and
// opens the socket libdbus is to connect to; false when either cannot be.
bool RelayOpen(BusRelay &relay, const char *busAddress);
// Takes libdbus's connection, once it has connected, if it is this process's.
bool RelayAccept(BusRelay &relay);
// Carries what it can both ways without waiting; false once either side has gone.
bool RelayPump(BusRelay &relay);
// Bytes wait to go to the bus, or the connection to it is not made yet.
bool RelayPending(const BusRelay &relay);
// What to poll the bus descriptor for (fd -1 while the connect is to be retried).
short RelayEvents(const BusRelay &relay);
// The buffer towards the bus has room for more of what libdbus writes.
bool RelayTakes(const BusRelay &relay);
// Bytes from the bus wait for libdbus to read them.
bool RelayHolding(const BusRelay &relay);
void RelayClose(BusRelay &relay);

} // namespace kvz::platform
