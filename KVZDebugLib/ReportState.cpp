#include "KVZDebugLib/ReportState.h"

namespace kvz {

// Constant-initialised: no constructor runs at load, so the record is usable from the
// first call whatever the order of static initialisation in the host.
constinit ReportState g_ReportState{};

} // namespace kvz
