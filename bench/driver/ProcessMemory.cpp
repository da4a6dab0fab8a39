#include "driver/ProcessMemory.h"

#include <fstream>
#include <string>

namespace tarnwick::bench {
namespace {

long StatusKiB(const std::string& key, const std::string& process = "self")
{
    std::ifstream status("/proc/" + process + "/status");
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

long PeakResidentKiB(pid_t pid) { return StatusKiB("VmHWM:", std::to_string(pid)); }

}  // namespace tarnwick::bench
