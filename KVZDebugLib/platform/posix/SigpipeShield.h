// Writing to a connection or pipe whose reader has gone raises SIGPIPE, which would end a
// host that has not ignored it. A desktop box blocks the signal on its thread while it is
// up, and takes off one raised meanwhile before the mask is put back: the host's mask and
// dispositions are as they were.
#pragma once

#include <signal.h>

namespace kvz::platform {

class SigpipeShield {
  public:
    SigpipeShield();
    ~SigpipeShield();
    SigpipeShield(const SigpipeShield &) = delete;
    SigpipeShield &operator=(const SigpipeShield &) = delete;

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool pendingBefore_ = false;
};

} // namespace kvz::platform
