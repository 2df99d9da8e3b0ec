#include "frame/allocation.hpp"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>

#include "frame/units.hpp"

namespace torva {

std::uint64_t machine_memory_available()
{
    // MemAvailable: what the kernel can hand out without swapping.  Swap is not counted: a
    // dense factorisation that pages is a run that never ends.
    std::ifstream in("/proc/meminfo");
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string key;
        std::uint64_t kib = 0;
        if (fields >> key >> kib && key == "MemAvailable:") return kib * 1024;
    }
    const long pages = sysconf(_SC_AVPHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    return pages > 0 && page_size > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size) : 0;
}

std::string memory_figures(std::uint64_t needed, std::uint64_t available)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "needed %llu bytes (%.1f GiB), available %llu bytes (%.1f GiB)",
                  static_cast<unsigned long long>(needed), needed / 1073741824.0,
                  static_cast<unsigned long long>(available), available / 1073741824.0);
    return buf;
}

bool writes_behind_finished() noexcept { return units().finish_writes_behind(); }

void advise_whole_pages(const void* data, std::size_t bytes, std::size_t page, int advice) noexcept
{
    if (data == nullptr || page == 0) return;
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
    if (end > first) (void)::madvise(reinterpret_cast<void*>(first), end - first, advice);
}

void prefer_huge_pages(void* data, std::size_t bytes) noexcept
{
    constexpr std::size_t huge = std::size_t{2} << 20;
    if (bytes >= 4 * huge) advise_whole_pages(data, bytes, huge, MADV_HUGEPAGE);
}

void check_memory_or_stop(std::uint64_t bytes, std::vector<std::string> lines, int unit)
{
    // Small requests are left to the allocator: reading /proc for each would cost more than
    // it protects.
    if (bytes < (std::uint64_t{64} << 20)) return;
    std::uint64_t available = machine_memory_available();
    // Data still on its way to a file (a matrix written behind the run) is memory about to
    // come back: wait for it before calling the request impossible.
    if (available != 0 && bytes > available && writes_behind_finished())
        available = machine_memory_available();
    if (available != 0 && bytes > available) {
        lines.push_back(memory_figures(bytes, available));
        stop_run_on(unit, std::move(lines));
    }
}

}  // namespace torva
