// Peak resident memory of this process, as the kernel keeps it.
#pragma once

namespace tarnwick::bench {

// VmHWM from /proc/self/status in KiB; -1 when it cannot be read.
long PeakResidentKiB();

}  // namespace tarnwick::bench
