#include "platform/systemfigures.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <sys/sysinfo.h>

namespace {

// The value after the colon of a "name : value" line whose name is the key.
bool valueOf(const std::string& line, const char* key, std::string& value) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return false;
    }
    size_t end = colon;
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t')) {
        end -= 1;
    }
    if (line.compare(0, end, key) != 0 || end != std::strlen(key)) {
        return false;
    }
    value = line.substr(colon + 1);
    return true;
}

}  // namespace

int32_t getProcessorMhz(const char* cpuinfoPath) {
    std::ifstream in(cpuinfoPath != nullptr ? cpuinfoPath : "");
    std::string line;
    std::string value;
    while (std::getline(in, line)) {
        if (!valueOf(line, "cpu MHz", value)) {
            continue;
        }
        // strtod follows LC_NUMERIC, which the program never sets: "." it is.
        char* end = nullptr;
        const double mhz = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || !std::isfinite(mhz) || mhz < 0.0) {
            return 0;
        }
        return mhz >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(std::lround(mhz));
    }
    return 0;
}

bool getPhysicalMemory(uint64_t& total, uint64_t& available, const char* meminfoPath) {
    total = 0;
    available = 0;
    bool haveTotal = false;
    bool haveAvailable = false;
    std::ifstream in(meminfoPath != nullptr ? meminfoPath : "");
    std::string line;
    std::string value;
    while (std::getline(in, line) && !(haveTotal && haveAvailable)) {
        const bool isTotal = valueOf(line, "MemTotal", value);
        const bool isAvailable = !isTotal && valueOf(line, "MemAvailable", value);
        if (!isTotal && !isAvailable) {
            continue;
        }
        char* end = nullptr;
        const unsigned long long kilobytes = std::strtoull(value.c_str(), &end, 10);
        if (end == value.c_str()) {
            continue;
        }
        // Saturate rather than wrap on an absurd table.
        const uint64_t bytes = kilobytes > UINT64_MAX / 1024u ? UINT64_MAX : kilobytes * 1024u;
        if (isTotal) {
            total = bytes;
            haveTotal = true;
        } else {
            available = bytes;
            haveAvailable = true;
        }
    }
    if (haveTotal && haveAvailable) {
        return true;
    }
    // Older kernels have no MemAvailable; free and buffer memory come close.
    struct sysinfo info {};
    if (sysinfo(&info) != 0) {
        total = 0;
        available = 0;
        return false;
    }
    const uint64_t unit = info.mem_unit != 0 ? info.mem_unit : 1u;
    if (!haveTotal) {
        total = static_cast<uint64_t>(info.totalram) * unit;
    }
    if (!haveAvailable) {
        available = (static_cast<uint64_t>(info.freeram) + info.bufferram) * unit;
    }
    return true;
}

uint32_t clampMemoryFigure(uint64_t bytes) {
    return bytes > 2147483647u ? 2147483647u : static_cast<uint32_t>(bytes);
}
