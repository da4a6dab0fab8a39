// Resident memory of this process, as the kernel keeps it.
#pragma once

namespace tarnwick::bench {

// VmHWM (the peak) from /proc/self/status in KiB; -1 when it cannot be read.
long PeakResidentKiB();
// VmRSS (resident now) from /proc/self/status in KiB; -1 when it cannot be read.
long ResidentKiB();

}  // namespace tarnwick::bench
