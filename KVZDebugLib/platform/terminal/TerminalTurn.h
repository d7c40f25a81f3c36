// One terminal prompt at a time in the process, so that no prompt takes another's mode
// for the host's and the terminal is given back as it was found.
#pragma once

namespace kvz::platform {

// Waits until no other thread of this process is prompting on a terminal, and takes the
// turn. False, at once, when this very thread already has it: a signal handler that
// prompts while its thread's prompt waits would otherwise wait for itself.
bool TakeTerminalTurn();
void EndTerminalTurn();

} // namespace kvz::platform
