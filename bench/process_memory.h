#pragma once
// This process's resident memory, as the memory benches sample it.

#include <fstream>
#include <string>

namespace zelkor::bench {

inline double rssMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

} // namespace zelkor::bench
