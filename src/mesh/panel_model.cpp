// Sizing, allocation and the derived moment tables of the panel model.
#include "mesh/panel_model.hpp"

#include "frame/allocation.hpp"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "mesh/mesh_fault.hpp"

namespace torva {

namespace {

// Values per panel held for panel_capacity panels: the strides of the capacity tables.
std::int64_t capacity_values_per_panel() noexcept
{
    std::int64_t sum = 0;
    PanelModel probe;
    for_each_capacity_table(probe, [&sum](const auto&, int stride) { sum += stride; });
    return sum;
}
// Values per panel held for N panels only: raw nodes 3, link values 6, five panel lists.
constexpr std::int64_t kWorkValuesPerPanel = 3 + kLinkValueCount + 5;
// Per sheet: NP1', NP2', NP', KP, MP.
constexpr std::int64_t kValuesPerSheet = 5;
// Every element is 4 bytes wide (32-bit integers and floats).
constexpr std::int64_t kElementBytes = 4;

template <class T>
void size_zeroed(std::vector<T>& v, std::int64_t count)
{
    v.assign(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)), T{});
}

template <class T>
void release(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

[[noreturn]] void stop_insufficient_memory(std::int64_t needed, std::int64_t available, int n_panels)
{
    std::string detail = std::to_string(needed) + " bytes needed for " + std::to_string(n_panels)
                         + " panels, ";
    detail += available >= 0 ? std::to_string(available) + " bytes available"
                             : std::string("available memory unknown");
    throw MeshFault({"ERROR: Insufficient memory for allocation of arrays.", detail});
}

}  // namespace

int sheet_first_panel(const PanelModel& model, int sheet) noexcept
{
    int offset = 0;
    for (int s = 0; s < sheet; ++s)
        offset += model.np[s];
    return offset;
}

std::int64_t panel_model_bytes(std::int64_t n_panels, std::int64_t panel_capacity,
                               std::int64_t sheet_capacity) noexcept
{
    return kElementBytes * (capacity_values_per_panel() * panel_capacity
                            + kWorkValuesPerPanel * n_panels + kValuesPerSheet * sheet_capacity);
}

std::int64_t available_memory_bytes() noexcept
{
    const std::uint64_t bytes = machine_memory_available();
    return bytes == 0 ? -1 : static_cast<std::int64_t>(bytes);
}

void allocate_panel_model(PanelModel& model, int n_panels, int n_sheets, bool mirrored)
{
    const std::int64_t n = std::max(n_panels, 0);
    const std::int64_t s = std::max(n_sheets, 0);
    const std::int64_t factor = mirrored ? 2 : 1;
    const std::int64_t panel_capacity = factor * n;
    const std::int64_t sheet_capacity = factor * s;

    // Check before touching the allocator: a request far beyond the machine would otherwise
    // either fail late, half-way through the tables, or drive the machine into swap.
    const std::int64_t needed = panel_model_bytes(n, panel_capacity, sheet_capacity);
    const std::int64_t available = available_memory_bytes();
    if (panel_capacity > 2147483647 || (available >= 0 && needed > available))
        stop_insufficient_memory(needed, available, n_panels);

    try {
        model.n_sheets = 0;
        model.n_panels = 0;
        model.sheet_capacity = static_cast<int>(sheet_capacity);
        model.panel_capacity = static_cast<int>(panel_capacity);

        for_each_sheet_table(model, [&](auto& t, int stride) { size_zeroed(t, stride * sheet_capacity); });
        for_each_capacity_table(model, [&](auto& t, int stride) { size_zeroed(t, stride * panel_capacity); });

        size_zeroed(model.raw_nodes, 3 * n);
        model.n_raw_nodes = 0;
        size_zeroed(model.link_values, kLinkValueCount * n);
        size_zeroed(model.flagged_interior_body, n);
        size_zeroed(model.flagged_body, n);
        size_zeroed(model.body, n);
        size_zeroed(model.interior_free_surface, n);
        size_zeroed(model.free_surface, n);
    } catch (const std::bad_alloc&) {
        stop_insufficient_memory(needed, available, n_panels);
    }
}

void fill_moment_tables(PanelModel& model)
{
    // Positions (0-based) of the moments kept in moment13: all but M(1,0) (1) and M(0,1) (5).
    constexpr int kKept[13] = {0, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    for (int p = 0; p < model.n_panels; ++p) {
        const float* m = &model.moments[static_cast<std::size_t>(kMomentCount) * p];
        model.moment2[2 * static_cast<std::size_t>(p)] = 1.0f;
        model.moment2[2 * static_cast<std::size_t>(p) + 1] = m[0];
        for (int k = 0; k < 13; ++k)
            model.moment13[13 * static_cast<std::size_t>(p) + k] = m[kKept[k]];
    }
}

void release_mesh_work_arrays(PanelModel& model)
{
    release(model.raw_nodes);
    model.n_raw_nodes = 0;
    release(model.link_values);
    release(model.flagged_interior_body);
    release(model.flagged_body);
    release(model.body);
    release(model.interior_free_surface);
    release(model.free_surface);
}

}  // namespace torva
