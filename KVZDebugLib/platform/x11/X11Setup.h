// The X connection setup as the probe speaks it: the request Xlib would send, with the
// authorization Xlib would send, and a careful reading of the server's answer, so that
// Xlib is handed only a server that has just accepted a setup it can read.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

namespace kvz::platform {

// An authorization for the setup request: a protocol name and its data.
struct SetupAuthorization {
    char name[32];
    uint16_t nameLength = 0;
    unsigned char data[128];
    uint16_t dataLength = 0;
    // False when Xlib would send an authorization the probe cannot make (one that
    // needs the time and a cipher): the probe's refusal then says nothing of Xlib's.
    bool likeXlib = true;
};

// What came of a connection setup.
enum class SetupAnswer {
    Accepted, // the server accepted it, with a reply Xlib can read
    Refused,  // the server refused it, or wants authentication
    Broken,   // any other answer: Xlib would print a complaint, or misread it
    HungUp,   // hung up before the first byte of an answer (a server resetting does)
    Silent,   // no whole answer before the deadline
    Failed,   // the connection failed otherwise
};

// Finds the authorization Xlib would send to the server at peer (the address connected
// to) for display `number`, from the file XAUTHORITY names, else ~/.Xauthority, read as
// Xlib reads it. None when there is none (X11Authority.cpp).
void FindAuthorization(const sockaddr *peer, unsigned number, SetupAuthorization *auth);

// The setup request, in this machine's byte order, protocol 11.0: room for the largest.
constexpr size_t kMaxSetupRequest =
    12 + sizeof SetupAuthorization::name + sizeof SetupAuthorization::data;
size_t BuildSetupRequest(const SetupAuthorization &auth, unsigned char *request);

// Sends the request on a connected non-blocking socket and reads the answer until the
// deadline (MonotonicMs): the whole of an accepted one, nothing past the first 8 bytes of
// any other. A reason the server gives is never read.
SetupAnswer ExchangeSetup(int fd, const SetupAuthorization &auth, int64_t deadline);

} // namespace kvz::platform
