// Large allocations that fail with a message instead of a killed process.
//
// Before a large vector is sized, the bytes it needs are compared with what the machine
// can still give (MemAvailable of /proc/meminfo); a request beyond that stops the run with
// the caller's message lines followed by a line giving both numbers.
// A std::bad_alloc from the allocation itself gives the same stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/run_stop.hpp"

namespace torva {

// Bytes the machine can still give to this process (0 when unknown).
[[nodiscard]] std::uint64_t machine_memory_available();

// "needed N bytes (x.x GiB), available M bytes (y.y GiB)"
[[nodiscard]] std::string memory_figures(std::uint64_t needed, std::uint64_t available);

// Waits for the unit table's writes behind the run (the memory they hold comes back when
// they end); whether there were any.
bool writes_behind_finished() noexcept;
// Stops the run with `lines` + the figures when `bytes` cannot be had (after waiting for
// the writes behind the run, when there are some).
void check_memory_or_stop(std::uint64_t bytes, std::vector<std::string> lines, int unit = kListingUnit);

// Asks the kernel to back [data, data + bytes) with 2 MiB pages where it can (blocks of at
// least a few MiB only).  A system matrix of 250 MB touched first in 4 KiB pages costs some
// 60,000 page faults, which on a virtual machine took longer than assembling it; in 2 MiB
// pages it is 120.  The contents are not touched, so the bytes of a run never depend on it.
void prefer_huge_pages(void* data, std::size_t bytes) noexcept;

// Gives the kernel `advice` (madvise) for the whole pages of size `page` inside
// [data, data + bytes); the partial pages at either end are left alone.  Advice only: when it
// fails, the memory simply keeps its pages.
void advise_whole_pages(const void* data, std::size_t bytes, std::size_t page, int advice) noexcept;

// Resizes `v` to `count` elements (zero-initialised) or stops the run with `lines`.
template <class T>
void allocate_or_stop(std::vector<T>& v, std::uint64_t count, std::vector<std::string> lines,
                      int unit = kListingUnit)
{
    const std::uint64_t bytes = count * sizeof(T);
    check_memory_or_stop(bytes, lines, unit);
    // Sized in two steps so that the pages can be chosen before the zeros first touch them.
    const auto size = [&] {
        v.clear();
        v.reserve(static_cast<std::size_t>(count));
        prefer_huge_pages(v.data(), static_cast<std::size_t>(bytes));
        v.assign(static_cast<std::size_t>(count), T{});
    };
    try {
        size();
    } catch (const std::bad_alloc&) {
        // Once more after the writes behind the run have ended and freed their data.
        bool had = false;
        if (writes_behind_finished()) {
            try {
                size();
                had = true;
            } catch (const std::bad_alloc&) {
            }
        }
        if (had) return;
        lines.push_back(memory_figures(bytes, machine_memory_available()));
        stop_run_on(unit, std::move(lines));
    } catch (const std::length_error&) {
        lines.push_back(memory_figures(bytes, machine_memory_available()));
        stop_run_on(unit, std::move(lines));
    }
}

}  // namespace torva
