#include "frame/allocation.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace torva {

std::uint64_t machine_memory_available()
{
    std::ifstream in("/proc/meminfo");
    std::uint64_t available = 0, swap_free = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kib = 0;
        fields >> key >> kib;
        if (key == "MemAvailable:") available = kib * 1024;
        if (key == "SwapFree:") swap_free = kib * 1024;
    }
    return available + swap_free;
}

std::string memory_figures(std::uint64_t needed, std::uint64_t available)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "needed %llu bytes (%.1f GiB), available %llu bytes (%.1f GiB)",
                  static_cast<unsigned long long>(needed), needed / 1073741824.0,
                  static_cast<unsigned long long>(available), available / 1073741824.0);
    return buf;
}

void check_memory_or_stop(std::uint64_t bytes, std::vector<std::string> lines, int unit)
{
    // Small requests are left to the allocator: reading /proc for each would cost more than
    // it protects.
    if (bytes < (std::uint64_t{64} << 20)) return;
    const std::uint64_t available = machine_memory_available();
    if (available != 0 && bytes > available) {
        lines.push_back(memory_figures(bytes, available));
        stop_run_on(unit, std::move(lines));
    }
}

}  // namespace torva
