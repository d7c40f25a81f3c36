// Waiting on a desktop server with a deadline, as every desktop box does: a server that
// stops answering must never hold a box, or the host, for longer than kBoxDeadlineMs at a
// time.
#pragma once

#include <stdint.h>

namespace kvz::platform {

// How long a desktop box waits for its server at any one time, in milliseconds.
constexpr int kBoxDeadlineMs = 3000;

// Milliseconds on the monotonic clock.
int64_t MonotonicMs();

// Waits in poll() until fd has one of the events, or the deadline (MonotonicMs) passes;
// true when an event came, or an error or hang-up did (the next read or write reports
// it). Signals that interrupt the wait do not end it.
bool WaitFor(int fd, short events, int64_t deadline);

} // namespace kvz::platform
