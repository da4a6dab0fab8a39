// Resident memory of this process, or of another, as the kernel keeps it.
#pragma once

#include <sys/types.h>

namespace tarnwick::bench {

// VmHWM (the peak) from /proc/self/status in KiB; -1 when it cannot be read.
long PeakResidentKiB();
// VmRSS (resident now) from /proc/self/status in KiB; -1 when it cannot be read.
long ResidentKiB();
// VmHWM of another process (a child the benchmark started); -1 when it cannot be read.
long PeakResidentKiB(pid_t pid);

}  // namespace tarnwick::bench
