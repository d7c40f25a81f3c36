// Placeholder until the X11 dialog lands: no display is ever used.
#include "KVZDebugLib/platform/PosixMessageBox.h"

namespace kvz::platform {

int32_t ShowX11MessageBox(const KVZChar *, const KVZChar *, BoxButtons) { return kNoSuchBox; }

} // namespace kvz::platform
