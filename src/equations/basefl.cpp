// The basis flow (see the header for the equations (1)-(5)).
#include "equations/basefl.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "linalg/blocked_lu.hpp"
#include "equations/mode_shapes.hpp"
#include "frame/allocation.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/threads.hpp"
#include "frame/units.hpp"
#include "integrals/basis_flow_integrals.hpp"
#include "integrals/source_kernel.hpp"
#include "mesh/panel_geometry.hpp"
#include "mesh/panel_mirror.hpp"


namespace torva {

namespace {

[[nodiscard]] std::size_t at(int index, int stride) noexcept
{ return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride); }

const std::vector<std::string>& basefl_memory_message()
{
    static const std::vector<std::string> lines = {"ERROR: Insufficient memory for basefl arrays"};
    return lines;
}

}  // namespace

// ---- weights (4) ----------------------------------------------------------------------------

void basis_flow_weights(const PanelModel& model, int n, int iflux_db, int link_count,
                        std::span<float> weight)
{
    const auto nn = static_cast<std::size_t>(n);
    if (iflux_db == 1) {
        std::fill(weight.begin(), weight.begin() + static_cast<std::ptrdiff_t>(nn), 1.0f);
        return;
    }
    std::fill(weight.begin(), weight.begin() + static_cast<std::ptrdiff_t>(nn), 0.0f);
    int offset = 0;
    for (int s = 0; s < model.n_sheets && offset < n; offset += model.np[static_cast<std::size_t>(s)], ++s) {
        if (model.kp[static_cast<std::size_t>(s)] != kSheetKindBody)
            continue;
        const int np1 = model.np1[static_cast<std::size_t>(s)];
        const int np2 = model.np2[static_cast<std::size_t>(s)];
        if (np1 < 3 || np2 < 3)
            continue;
        const auto x_of = [&](int i, int j) { return model.colloc[at(offset + i + j * np1, 3)]; };
        // The four interior corner panels, (a, b) = (2, 2), (NP1'-1, 2), (NP1'-1, NP2'-1),
        // (2, NP2'-1) 1-based, i.e. i, j in {1, NP' - 2} 0-based.
        const float corner_x[4] = {x_of(1, 1), x_of(np1 - 2, 1), x_of(np1 - 2, np2 - 2), x_of(1, np2 - 2)};
        float x_max = corner_x[0], x_min = corner_x[0];
        for (const float x : corner_x) {
            x_max = std::max(x_max, x);
            x_min = std::min(x_min, x);
        }
        const float h = (x_max - x_min) / 2.0f;
        for (int j = 1; j <= np2 - 2; ++j) {
            for (int i = 1; i <= np1 - 2; ++i) {
                const float d = x_of(i, j) - x_min;
                float value = 1.0f;
                if (link_count != 0 && !(d >= h)) {
                    const float ratio = d / h;
                    value = 1.0f - std::exp(-kFluxWeightExponent * (ratio * ratio));
                }
                weight[static_cast<std::size_t>(offset + i + j * np1)] = value;
            }
        }
    }
}

// ---- prescribed fluxes ----------------------------------------------------------------------

std::vector<float> prescribed_panel_fluxes(const PanelModel& model, int n, int npanflux,
                                           std::span<const int> kpanflux, std::span<const int> ipanflux,
                                           std::span<const int> jpanflux, std::span<const float> fpanflux,
                                           int listing_unit)
{
    std::vector<float> q(static_cast<std::size_t>(std::max(n, 0)), 0.0f);
    if (npanflux <= 0)
        return q;
    const std::size_t capacity = std::min({kpanflux.size(), ipanflux.size(), jpanflux.size(), fpanflux.size()});
    if (static_cast<std::size_t>(npanflux) > capacity)
        stop_run_on(listing_unit, {list_directed("ERROR: NPANFLUX =", npanflux, "exceeds the",
                                                 static_cast<int>(capacity), "entries of KPANFLUX/IPANFLUX/JPANFLUX/FPANFLUX")});
    for (int k = 0; k < npanflux; ++k) {
        const auto e = static_cast<std::size_t>(k);
        const int sheet = kpanflux[e], i = ipanflux[e], j = jpanflux[e];
        bool ok = sheet >= 1 && sheet <= model.n_sheets;
        int panel = -1;
        if (ok) {
            const auto s = static_cast<std::size_t>(sheet - 1);
            const int np1 = model.np1[s], np2 = model.np2[s];
            ok = model.kp[s] == kSheetKindBody && i >= 1 && i <= np1 - 2 && j >= 1 && j <= np2 - 2;
            panel = sheet_first_panel(model, sheet - 1) + i + j * np1;
            ok = ok && panel < n;
        }
        if (!ok)
            stop_run_on(listing_unit,
                        {"ERROR: prescribed panel flux " + std::to_string(k + 1) + ": sheet "
                         + std::to_string(sheet) + " panel (" + std::to_string(i) + ", " + std::to_string(j)
                         + ") is not an interior panel of a body sheet"});
        q[static_cast<std::size_t>(panel)] += fpanflux[e];
    }
    return q;
}

// ---- free-surface derivatives (5) -------------------------------------------------------------

void free_surface_derivatives(const PanelModel& model, int n, std::span<const float> u,
                              std::span<const float> v, std::span<float> ux, std::span<float> vy,
                              std::span<float> uvs)
{
    const auto nn = static_cast<std::ptrdiff_t>(std::max(n, 0));
    std::fill(ux.begin(), ux.begin() + nn, 0.0f);
    std::fill(vy.begin(), vy.begin() + nn, 0.0f);
    std::fill(uvs.begin(), uvs.begin() + nn, 0.0f);

    // Difference of f at panel p along a direction with neighbours `step` apart; pos is the
    // panel's interior position 1..last.  The first-panel test comes first, so a sheet one
    // panel wide takes the forward difference.
    const auto difference = [](std::span<const float> f, int p, int step, int pos, int last) -> float {
        const auto at1 = [&](int q) { return f[static_cast<std::size_t>(q)]; };
        if (pos == 1)
            return at1(p + step) - at1(p);
        if (pos == last)
            return at1(p) - at1(p - step);
        return (at1(p + step) - at1(p - step)) / 2.0f;
    };

    int offset = 0;
    for (int s = 0; s < model.n_sheets && offset < n; offset += model.np[static_cast<std::size_t>(s)], ++s) {
        if (model.kp[static_cast<std::size_t>(s)] != kSheetKindFreeSurface)
            continue;
        const int np1 = model.np1[static_cast<std::size_t>(s)];
        const int np2 = model.np2[static_cast<std::size_t>(s)];
        for (int j = 1; j <= np2 - 2; ++j) {
            for (int i = 1; i <= np1 - 2; ++i) {
                const int p = offset + i + j * np1;
                const float du_da = difference(u, p, 1, i, np1 - 2);
                const float du_db = difference(u, p, np1, j, np2 - 2);
                const float dv_da = difference(v, p, 1, i, np1 - 2);
                const float dv_db = difference(v, p, np1, j, np2 - 2);
                // G stored column by column: G(r, c) = g[r + 3 c].
                const float* g = &model.metric_inv[at(p, 9)];
                const float g11 = g[0], g21 = g[1], g12 = g[3], g22 = g[4];
                const auto pp = static_cast<std::size_t>(p);
                ux[pp] = g11 * du_da + g12 * du_db;
                vy[pp] = g21 * dv_da + g22 * dv_db;
                uvs[pp] = 0.5f * (g21 * du_da + g22 * du_db + g11 * dv_da + g12 * dv_db);
            }
        }
    }
}

// ---- INFNMR = 1: the source kernel ----------------------------------------------------------

namespace {

[[nodiscard]] Vec3d frame_normal_of(const PanelModel& model, int p) noexcept
{
    const float* f = &model.frame[at(p, 9)];
    return {static_cast<double>(f[2]), static_cast<double>(f[5]), static_cast<double>(f[8])};
}

[[nodiscard]] std::array<float, 3> narrow3(const Vec3d& x) noexcept
{ return {static_cast<float>(x[0]), static_cast<float>(x[1]), static_cast<float>(x[2])}; }

// The listed panels as structure-of-arrays sweep data, in list order.
[[nodiscard]] VelocityPanels listed_kernel_panels(const PanelModel& model, std::span<const int> panel_list)
{
    std::vector<KernelPanel> panels(panel_list.size());
    std::vector<int> order(panel_list.size());
    for (std::size_t i = 0; i < panel_list.size(); ++i) {
        panels[i] = kernel_panel(model, panel_list[i]);
        order[i] = static_cast<int>(i);
    }
    return velocity_panels(panels, order);
}

// phi_s and grad phi_s of every listed panel at x and all its images, summed in double in
// image order: g[c][i] = sum_m (phi_s, Q_m grad phi_s)(F'_m) of panel i.  One per thread.
struct ImageSums {
    std::array<std::vector<double>, 4> g;        // phi, d/dx, d/dy, d/dz
    std::array<std::vector<float>, 4> sweep;     // one image's kernel values
    VelocitySweepWork work;

    void resize(std::size_t count)
    {
        for (auto& v : g) v.assign(count, 0.0);
        for (auto& v : sweep) v.assign(count, 0.0f);
        work.reserve(count);   // nothing is allocated inside the parallel loops
    }

    void evaluate(const VelocityPanels& panels, const Vec3d& x, std::span<const FieldImage> images, bool potential)
    {
        const std::size_t count = panels.size();
        for (auto& v : g) std::fill(v.begin(), v.end(), 0.0);
        for (const FieldImage& image : images) {
            const std::array<float, 3> xi = narrow3(image_point(image, x));
            if (potential)
                potential_velocity_sweep(xi, panels, sweep[0].data(), sweep[1].data(), sweep[2].data(),
                                         sweep[3].data(), work);
            else
                velocity_sweep(xi, panels, sweep[1].data(), sweep[2].data(), sweep[3].data(), work);
            // The gradient at the image point maps back with Q (a reflection: exact signs).
            if (potential)
                for (std::size_t i = 0; i < count; ++i) g[0][i] += static_cast<double>(sweep[0][i]);
            for (std::size_t i = 0; i < count; ++i) {
                g[1][i] += static_cast<double>(sweep[1][i]);
                g[2][i] += image.y_sign * static_cast<double>(sweep[2][i]);
                g[3][i] += image.z_sign * static_cast<double>(sweep[3][i]);
            }
        }
    }
};

// Field points go to the threads in blocks of this many: the matrix rows of a block fill
// whole cache lines of each column.
constexpr int kFieldBlock = 16;

}  // namespace

void kernel_basis_flow_matrix(const PanelModel& model, int symmetry, std::span<const float> weight,
                              std::span<const float> prescribed_flux, int m,
                              std::span<const int> panel_list, std::span<float> matrix,
                              std::span<float> vector, int n_kernel, float depth)
{
    const auto mm = static_cast<std::size_t>(std::max(m, 0));
    std::fill(matrix.begin(), matrix.begin() + static_cast<std::ptrdiff_t>(mm * mm), 0.0f);
    std::fill(vector.begin(), vector.begin() + static_cast<std::ptrdiff_t>(mm), 0.0f);
    if (mm == 0)
        return;
    const std::vector<FieldImage> images = basis_flow_images(symmetry, n_kernel, static_cast<double>(depth));
    const std::span<const int> list = panel_list.first(mm);

    for (std::size_t i = 0; i < mm; ++i) {
        const int pi = to_panel_index(list[i]);
        // (2) with the same unit normal as the integrated builder (A~ x B~ at the centre).
        const BasisFlowSource src = basis_flow_source(
            std::span<const float>(model.corners).subspan(at(pi, kCornerStride), kCornerStride),
            std::span<const float>(model.sides).subspan(at(pi, 4), 4));
        double rhs = static_cast<double>(weight[static_cast<std::size_t>(pi)]) * src.unit_normal[0];
        if (!prescribed_flux.empty())
            rhs -= static_cast<double>(prescribed_flux[static_cast<std::size_t>(pi)]);
        vector[i] = static_cast<float>(rhs);
    }

    // Row j of the matrix (field point c_j) against every source panel i at once; rows are
    // independent, so the threads share them out and each element is the same whatever the
    // division.
    const VelocityPanels panels = listed_kernel_panels(model, list);
    std::vector<ImageSums> sums(static_cast<std::size_t>(team_threads()));
    std::vector<std::vector<float>> rows(sums.size());
    for (std::size_t t = 0; t < sums.size(); ++t) {
        sums[t].resize(mm);
        rows[t].resize(kFieldBlock * mm);
    }
    const int blocks = (m + kFieldBlock - 1) / kFieldBlock;
#pragma omp parallel for schedule(dynamic, 1)
    for (int b = 0; b < blocks; ++b) {
        const auto t = static_cast<std::size_t>(team_member());
        ImageSums& s = sums[t];
        float* row = rows[t].data();
        const int j0 = b * kFieldBlock;
        const int j1 = std::min(m, j0 + kFieldBlock);
        for (int j = j0; j < j1; ++j) {
            const int pj = to_panel_index(list[static_cast<std::size_t>(j)]);
            const Vec3d x = {static_cast<double>(model.colloc[at(pj, 3)]),
                             static_cast<double>(model.colloc[at(pj, 3) + 1]),
                             static_cast<double>(model.colloc[at(pj, 3) + 2])};
            s.evaluate(panels, x, images, false);
            const Vec3d nj = frame_normal_of(model, pj);
            float* out = row + static_cast<std::size_t>(j - j0) * mm;
            for (std::size_t i = 0; i < mm; ++i) {
                // n_j . grad G_i: at the own centre the flat kernel's in-plane value is the
                // principal value and its normal part is 0; the free term follows.
                double a = nj[0] * s.g[1][i] + nj[1] * s.g[2][i] + nj[2] * s.g[3][i];
                if (i == static_cast<std::size_t>(j))
                    a += kBasisFlowFreeTerm;
                out[i] = static_cast<float>(a);
            }
        }
        for (std::size_t i = 0; i < mm; ++i)
            for (int j = j0; j < j1; ++j)
                matrix[static_cast<std::size_t>(j) + i * mm] = row[static_cast<std::size_t>(j - j0) * mm + i];
    }
}

void kernel_basis_flow_field(const PanelModel& model, int symmetry, int n, std::span<const int> panel_list,
                             std::span<const float> strengths, std::span<float> phi,
                             std::span<float> u, std::span<float> v, std::span<float> w,
                             int n_kernel, float depth)
{
    const std::vector<FieldImage> images = basis_flow_images(symmetry, n_kernel, static_cast<double>(depth));
    const VelocityPanels panels = listed_kernel_panels(model, panel_list);
    const std::size_t count = panel_list.size();
    std::vector<ImageSums> sums(static_cast<std::size_t>(team_threads()));
    for (ImageSums& s : sums)
        s.resize(count);

    // Each point sums its sources in list order, whichever thread takes it.
#pragma omp parallel for schedule(dynamic, kFieldBlock)
    for (int p = 0; p < n; ++p) {
        if (model.active[static_cast<std::size_t>(p)] == 0)
            continue;
        ImageSums& s = sums[static_cast<std::size_t>(team_member())];
        const Vec3d x = {static_cast<double>(model.colloc[at(p, 3)]),
                         static_cast<double>(model.colloc[at(p, 3) + 1]),
                         static_cast<double>(model.colloc[at(p, 3) + 2])};
        s.evaluate(panels, x, images, true);
        std::array<double, 4> sum{};
        for (std::size_t i = 0; i < count; ++i) {
            const double sigma = static_cast<double>(strengths[i]);
            std::array<double, 4> g = {s.g[0][i], s.g[1][i], s.g[2][i], s.g[3][i]};
            if (to_panel_index(panel_list[i]) == p) {
                // Fluid side of the panel's own centre (hull normals point into the body).
                const Vec3d normal = frame_normal_of(model, p);
                for (std::size_t c = 0; c < 3; ++c)
                    g[c + 1] += kBasisFlowFreeTerm * normal[c];
            }
            for (std::size_t c = 0; c < 4; ++c)
                sum[c] += sigma * g[c];
        }
        const auto pp = static_cast<std::size_t>(p);
        phi[pp] = static_cast<float>(sum[0]);
        u[pp] = static_cast<float>(sum[1]);
        v[pp] = static_cast<float>(sum[2]);
        w[pp] = static_cast<float>(sum[3]);
    }
}

// ---- sleqbf ---------------------------------------------------------------------------------

void sleqbf(int listing_unit, int m, std::span<float> matrix, std::span<float> vector)
{
    std::vector<int> pivots;
    allocate_or_stop(pivots, static_cast<std::uint64_t>(std::max(m, 0)),
                     {"ERROR: Insufficient memory for sleqbf"}, listing_unit);
    if (blocked_sgetrf(m, m, matrix.data(), std::max(m, 1), pivots.data()) != 0)
        stop_run_on(listing_unit, {"ERROR: Error decomposing matrix in sleqbf"});
    blocked_sgetrs(m, matrix.data(), std::max(m, 1), pivots.data(), vector.data());
}

// ---- steps 2 to 4 -----------------------------------------------------------------------------

void allocate_basis_flow_arrays(BasisFlowArrays& arrays, int n, int m, int listing_unit)
{
    const auto nn = static_cast<std::uint64_t>(std::max(n, 0));
    const auto mm = static_cast<std::uint64_t>(std::max(m, 0));
    const std::vector<std::string>& message = basefl_memory_message();
    for (std::vector<float>* a : {&arrays.phi, &arrays.u, &arrays.v, &arrays.w, &arrays.weight})
        allocate_or_stop(*a, nn, message, listing_unit);
    allocate_or_stop(arrays.source_vector, mm, message, listing_unit);
    allocate_or_stop(arrays.source_matrix, mm * mm, message, listing_unit);
    for (auto& list : arrays.class_lists)
        allocate_or_stop(list, mm, message, listing_unit);
}

namespace {

// The integrals' diagnostic lines go to the listing, when it is open.
DiagnosticSink listing_sink(int unit)
{
    return [unit](std::string_view line) {
        if (units().is_open(unit))
            units().write_line(unit, line);
    };
}

}  // namespace

void solve_basis_flow(const PanelModel& model, int listing_unit, int symmetry, int n, int link_count,
                      int m, std::span<const int> panel_list, const BasisFlowSettings& settings,
                      std::span<const float> prescribed_flux, BasisFlowArrays& arrays)
{
    basis_flow_weights(model, n, settings.iflux_db, link_count, arrays.weight);

    const std::span<const int> list = panel_list.first(static_cast<std::size_t>(std::max(m, 0)));
    if (settings.infnmr == 0) {
        const std::array<std::span<int>, 4> lists = {arrays.class_lists[0], arrays.class_lists[1],
                                                     arrays.class_lists[2], arrays.class_lists[3]};
        basis_flow_matrix(basis_flow_geometry(model), listing_sink(listing_unit), symmetry, arrays.weight,
                          prescribed_flux, m, list, arrays.source_matrix, arrays.source_vector, lists,
                          settings.n_kernel, settings.sea_depth);
    } else if (settings.infnmr == 1) {
        kernel_basis_flow_matrix(model, symmetry, arrays.weight, prescribed_flux, m, list,
                                 arrays.source_matrix, arrays.source_vector, settings.n_kernel,
                                 settings.sea_depth);
    }

    sleqbf(listing_unit, m, arrays.source_matrix, arrays.source_vector);

    const std::span<const float> strengths = std::span<const float>(arrays.source_vector).first(list.size());
    if (settings.infnmr == 0) {
        try {
            fstgrd1(basis_flow_geometry(model), listing_sink(listing_unit), model.colloc, n, list, strengths,
                    arrays.phi, arrays.u, arrays.v, arrays.w, symmetry, settings.n_kernel, settings.sea_depth);
        } catch (const std::bad_alloc&) {
            stop_run_on(listing_unit, {kFstgrd1MemoryMessage});
        }
    } else if (settings.infnmr == 1) {
        kernel_basis_flow_field(model, symmetry, n, list, strengths, arrays.phi, arrays.u, arrays.v,
                                arrays.w, settings.n_kernel, settings.sea_depth);
    }
}

// ---- displaced meshes ----------------------------------------------------------------------

float displace_panel_model(PanelModel& model, std::span<const float> saved, int mode, int listing_unit)
{
    const int n = model.n_panels;
    const auto corner = [&saved](int p, int coordinate, int k) {
        return saved[at(p, kCornerStride) + static_cast<std::size_t>(4 * coordinate + k)];
    };
    // Collocation points of the undisplaced mesh.
    for (int p = 0; p < n; ++p)
        for (int r = 0; r < 3; ++r)
            model.colloc[at(p, 3) + static_cast<std::size_t>(r)] =
                (corner(p, r, 0) + corner(p, r, 1) + corner(p, r, 2) + corner(p, r, 3)) / 4.0f;

    // The step: the largest displaced z of the collocation points off the water plane must
    // stay below 0.  A point already above the plane can never satisfy that; halving stops
    // once eps has no effect left on a float coordinate, rather than loop for ever.
    float eps = kModeStepStart;
    for (;;) {
        float z_max = kModeStepNoPoint;
        for (int p = 0; p < n; ++p) {
            const std::array<float, 3> c = {model.colloc[at(p, 3)], model.colloc[at(p, 3) + 1],
                                            model.colloc[at(p, 3) + 2]};
            if (!(std::fabs(c[2]) >= kModeStepZTest))
                continue;
            const std::array<float, 3> shape = mode_shape(mode, c);
            z_max = std::max(z_max, c[2] + eps * shape[2]);
        }
        if (z_max < 0.0f)
            break;
        eps /= 2.0f;
        if (eps < 1.0e-30f)
            stop_run_on(listing_unit, {list_directed("ERROR: no displacement of mode", mode,
                                                     "keeps the mesh below z = 0 in basefl")});
    }

    for (int p = 0; p < n; ++p) {
        float* dst = &model.corners[at(p, kCornerStride)];
        for (int k = 0; k < 4; ++k) {
            const std::array<float, 3> x = {corner(p, 0, k), corner(p, 1, k), corner(p, 2, k)};
            const std::array<float, 3> shape = mode_shape(mode, x);
            float z = x[2] + eps * shape[2];
            if (std::fabs(x[2]) >= kModeClampZTest)
                z = std::min(z, 0.0f);
            dst[k] = x[0] + eps * shape[0];
            dst[4 + k] = x[1] + eps * shape[1];
            dst[8 + k] = z;
        }
    }
    compute_panel_geometry(model, 0, n);
    fill_moment_tables(model);
    return eps;
}

// ---- basefl ---------------------------------------------------------------------------------

namespace {

}  // namespace

void basefl(const PanelModel& model, int listing_unit, Journal& journal, int symmetry,
            int nsheet, int n, int link_count, int m, int iflux_db, int npanflux,
            std::span<const int> kpanflux, std::span<const int> ipanflux,
            std::span<const int> jpanflux, std::span<const float> fpanflux, int infnmr,
            int n_kernel, float sea_depth, int ifsbc, int mode_count)
{
    assert(model.n_sheets == nsheet && model.n_panels == n);
    (void)nsheet;
    const bool mode_terms = ifsbc == 3;
    if (mode_terms && mode_count > kRigidBodyModes)
        stop_run_on(listing_unit, {list_directed("ERROR: basefl knows the shapes of the", kRigidBodyModes,
                                                 "rigid-body modes only, not of", mode_count, "modes")});
    const bool mirrored = mode_terms && symmetry == 1;
    const int n_work = mirrored ? 2 * n : n;
    const int m_work = mirrored ? 2 * m : m;

    // 1. Working arrays, sized for the largest mesh of the call.
    const std::vector<std::string>& no_memory = basefl_memory_message();
    std::vector<float> ux, vy, uvs;
    allocate_or_stop(ux, static_cast<std::uint64_t>(std::max(n, 0)), no_memory, listing_unit);
    allocate_or_stop(vy, static_cast<std::uint64_t>(std::max(n, 0)), no_memory, listing_unit);
    allocate_or_stop(uvs, static_cast<std::uint64_t>(std::max(n, 0)), no_memory, listing_unit);
    BasisFlowArrays arrays;
    allocate_basis_flow_arrays(arrays, n_work, m_work, listing_unit);

    const BasisFlowSettings settings{iflux_db, infnmr, n_kernel, sea_depth};
    const std::vector<float> fluxes =
        prescribed_panel_fluxes(model, n, npanflux, kpanflux, ipanflux, jpanflux, fpanflux, listing_unit);

    // 2-4. The basis flow of the mesh as read.
    solve_basis_flow(model, listing_unit, symmetry, n, link_count, m, model.interior_body, settings,
                     fluxes, arrays);

    // 5. Free-surface derivatives.
    free_surface_derivatives(model, n, arrays.u, arrays.v, ux, vy, uvs);

    // 6. The jou3 record; the mode derivatives below difference against it.
    std::vector<float> base(static_cast<std::size_t>(7) * static_cast<std::size_t>(std::max(n, 0)));
    {
        std::vector<float>& record = base;
        for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) {
            float* r = &record[7 * i];
            r[0] = arrays.phi[i];
            r[1] = arrays.u[i];
            r[2] = arrays.v[i];
            r[3] = arrays.w[i];
            r[4] = ux[i];
            r[5] = vy[i];
            r[6] = arrays.weight[i];
        }
        journal.write_record(JournalFile::jou3, bytes_of(record));
    }

    if (!mode_terms)
        return;

    // 7. Mode derivatives on a private copy of the mesh.
    journal.start_over(JournalFile::jou4);
    PanelModel work = model;
    std::vector<float> work_fluxes = fluxes;
    int work_symmetry = symmetry;
    if (mirrored) {
        mirror_panel_model(work);
        work_fluxes.resize(static_cast<std::size_t>(n_work), 0.0f);
        for (int p = 0; p < n; ++p)
            work_fluxes[static_cast<std::size_t>(p + n)] = fluxes[static_cast<std::size_t>(p)];
        work_symmetry = 0;   // the whole hull is meshed now
    }
    std::vector<float> saved;
    allocate_or_stop(saved, static_cast<std::uint64_t>(kCornerStride) * static_cast<std::uint64_t>(n_work),
                     {"ERROR: Insufficient memory for basefl arrays"}, listing_unit);
    std::copy(work.corners.begin(), work.corners.begin() + static_cast<std::ptrdiff_t>(saved.size()),
              saved.begin());
    const int m_mesh = work.n_interior_body;

    std::vector<char> is_source(static_cast<std::size_t>(n_work), 0);
    for (int k = 0; k < m_mesh; ++k)
        is_source[static_cast<std::size_t>(to_panel_index(work.interior_body[static_cast<std::size_t>(k)]))] = 1;

    for (int mode = 1; mode <= mode_count; ++mode) {
        if (!mode_gets_record(mode))
            continue;
        const float eps = displace_panel_model(work, saved, mode, listing_unit);
        solve_basis_flow(work, listing_unit, work_symmetry, n_work, link_count, m_mesh, work.interior_body,
                         settings, work_fluxes, arrays);
        units().write_line(listing_unit, list_directed("mode", mode));

        const auto base_of = [&base](int p, int component) { return base[7 * static_cast<std::size_t>(p) + 1 + static_cast<std::size_t>(component)]; };
        std::vector<float> du(static_cast<std::size_t>(n_work)), dv(du.size()), dw(du.size());
        for (int k = 0; k < m_mesh; ++k) {
            const int p = to_panel_index(work.interior_body[static_cast<std::size_t>(k)]);
            const auto pp = static_cast<std::size_t>(p);
            if (p < n) {
                du[pp] = (arrays.u[pp] - base_of(p, 0)) / eps;
                dv[pp] = (arrays.v[pp] - base_of(p, 1)) / eps;
                dw[pp] = (arrays.w[pp] - base_of(p, 2)) / eps;
            } else {
                // The mirrored partner's undisplaced flow is the mirror image: v changes sign.
                du[pp] = (arrays.u[pp] - base_of(p - n, 0)) / eps;
                dv[pp] = (arrays.v[pp] + base_of(p - n, 1)) / eps;
                dw[pp] = (arrays.w[pp] - base_of(p - n, 2)) / eps;
            }
        }

        std::vector<float> record(static_cast<std::size_t>(3) * static_cast<std::size_t>(std::max(n, 0)));
        for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(n, 0)); ++i) {
            const bool source = is_source[i] != 0;
            record[3 * i] = source ? du[i] : arrays.u[i];
            record[3 * i + 1] = source ? dv[i] : arrays.v[i];
            record[3 * i + 2] = source ? dw[i] : arrays.w[i];
        }
        journal.write_record(JournalFile::jou4, bytes_of(record));
    }
}

}  // namespace torva
