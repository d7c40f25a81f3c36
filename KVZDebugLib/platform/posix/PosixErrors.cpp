// The host's error codes on POSIX systems: errno alone.
#include "KVZDebugLib/platform/Platform.h"

#include <errno.h>

namespace kvz::platform {

HostErrors SaveHostErrors() {
    return HostErrors{errno, 0};
}

void RestoreHostErrors(const HostErrors &saved) {
    errno = saved.errorNumber;
}

} // namespace kvz::platform
