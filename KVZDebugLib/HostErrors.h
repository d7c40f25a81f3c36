// The host's error codes kept across an export whose own work may change them (output,
// the debugger flag, a box). A HostErrorsKept made first in such an export's body saves
// errno and the last-error value before any other work; its destructor, which runs after
// the export's result is computed, puts them back last. A hook the export calls starts
// with the host's values, and what it leaves is what the export returns with. Paths that
// can change neither (a setter, a forward to an installed hook) make none: saving there
// would only cost time.
#pragma once

#include "KVZDebugLib/platform/Platform.h"

namespace kvz {

class HostErrorsKept {
  public:
    HostErrorsKept() : saved_(platform::SaveHostErrors()) {}
    ~HostErrorsKept() { platform::RestoreHostErrors(saved_); }
    HostErrorsKept(const HostErrorsKept &) = delete;
    HostErrorsKept &operator=(const HostErrorsKept &) = delete;

    // Around a call into a host hook.
    void BeforeHook() const { platform::RestoreHostErrors(saved_); }
    void AfterHook() { saved_ = platform::SaveHostErrors(); }

  private:
    platform::HostErrors saved_;
};

} // namespace kvz
