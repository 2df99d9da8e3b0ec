// Mirroring the panel model in y = 0.
#include "mesh/panel_mirror.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "mesh/panel_geometry.hpp"

namespace torva {

namespace {

// Index of the first value of 0-based panel `index` in a table of `stride` values per panel.
[[nodiscard]] std::size_t at(int index, int stride) noexcept
{
    return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride);
}

template <class T>
void ensure_size(std::vector<T>& table, std::size_t count)
{
    if (table.size() < count)
        table.resize(count, T{});
}

// Makes every per-panel and per-sheet table of `model` hold at least `panels` panels and
// `sheets` sheets.
void ensure_capacity(PanelModel& model, int panels, int sheets)
{
    const auto c = static_cast<std::size_t>(panels);
    const auto s = static_cast<std::size_t>(sheets);
    for_each_sheet_table(model, [&](auto& t, int stride) { ensure_size(t, static_cast<std::size_t>(stride) * s); });
    for_each_capacity_table(model, [&](auto& t, int stride) { ensure_size(t, static_cast<std::size_t>(stride) * c); });
    model.panel_capacity = std::max(model.panel_capacity, panels);
    model.sheet_capacity = std::max(model.sheet_capacity, sheets);
}

}  // namespace

void mirror_panel_model(PanelModel& model)
{
    const int ns = model.n_sheets;
    const int n = model.n_panels;
    ensure_capacity(model, 2 * n, 2 * ns);
    for (int s = 0; s < ns; ++s) {
        const auto from = static_cast<std::size_t>(s), to = static_cast<std::size_t>(s + ns);
        model.np1[to] = model.np1[from];
        model.np2[to] = model.np2[from];
        model.np[to] = model.np[from];
        model.kp[to] = model.kp[from];
        model.mp[to] = model.mp[from];
    }
    // Mirroring in y = 0 turns the panels' handedness; reversing the corner order (1 <-> 4,
    // 2 <-> 3, i.e. the first grid direction) turns it back, so the mirrored normal is the
    // mirror image of the original one (still into the body).
    for (int p = 0; p < n; ++p) {
        const float* src = &model.corners[at(p, kCornerStride)];
        float* dst = &model.corners[at(p + n, kCornerStride)];
        for (int k = 0; k < 4; ++k) {
            dst[k] = src[3 - k];
            dst[4 + k] = -src[4 + 3 - k];
            dst[8 + k] = src[8 + 3 - k];
        }
    }
    model.n_sheets = 2 * ns;
    model.n_panels = 2 * n;
    fill_node_table(model, ns);
    set_active_flags(model, ns);
    compute_panel_geometry(model, n, 2 * n);
    compute_surface_metric(model, ns);
    fill_moment_tables(model);

    // The interior-body list of the whole hull: active panels of body sheets, sheet order.
    int count = 0;
    int offset = 0;
    for (int s = 0; s < model.n_sheets; offset += model.np[static_cast<std::size_t>(s)], ++s) {
        if (model.kp[static_cast<std::size_t>(s)] != kSheetKindBody)
            continue;
        for (int p = offset; p < offset + model.np[static_cast<std::size_t>(s)]; ++p)
            if (model.active[static_cast<std::size_t>(p)] != 0)
                model.interior_body[static_cast<std::size_t>(count++)] = to_panel_number(p);
    }
    model.n_interior_body = count;
}


}  // namespace torva
