// Mapped files raise SIGBUS, not an error, when what is mapped goes away: the file shrinks
// under the mapping (another process truncates it) or the disk has no room for a page written
// into a hole. Work on mappings runs under this guard, so that such a fault fails the work
// instead of ending the program.
#pragma once

#include <functional>

namespace tarnwick {

// Runs work on this thread; false when a bus error cut it short. Between this call and the
// faulting access there must be no object whose destructor matters: the work is left by a jump.
bool RunCatchingBusError(const std::function<void()>& work);

}  // namespace tarnwick
