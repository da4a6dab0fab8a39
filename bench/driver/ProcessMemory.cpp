#include "driver/ProcessMemory.h"

#include <fstream>
#include <string>

namespace tarnwick::bench {
namespace {

long StatusKiB(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    }
    return -1;
}

}  // namespace

long PeakResidentKiB() { return StatusKiB("VmHWM:"); }

long ResidentKiB() { return StatusKiB("VmRSS:"); }

}  // namespace tarnwick::bench
