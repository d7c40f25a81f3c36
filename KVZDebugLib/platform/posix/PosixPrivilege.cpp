// Whether the process runs with privileges its user does not have: set-user-ID or
// set-group-ID, file capabilities, or a security module's transition at exec. The
// kernel tells the C library so in the auxiliary vector (AT_SECURE) where there is one;
// elsewhere issetugid() does, or else differing real and effective ids.
#include "KVZDebugLib/platform/posix/PosixMessageBox.h"

#include <unistd.h>
#if defined(__linux__)
#include <sys/auxv.h>
#endif

namespace kvz::platform {

bool RunsPrivileged() {
    if (getuid() != geteuid() || getgid() != getegid()) {
        return true;
    }
#if defined(__linux__)
    return getauxval(AT_SECURE) != 0;
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || defined(__NetBSD__)
    return issetugid() != 0;
#else
    return false;
#endif
}

} // namespace kvz::platform
