// The basis flow, judged by truths from outside the code: the potential flow of a sphere in
// a uniform stream, the image spheres of a flat bottom (meshed explicitly, and the
// first-order dipole images), exact differences of linear fields, the whole hull against
// its mirrored half, and the layout of the .jou3 record.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "equations/basefl.hpp"
#include "frame/run_stop.hpp"
#include "support/fortran_runner.hpp"
#include "support/memory_output.hpp"
#include "support/panel_models.hpp"

namespace {

using namespace torva;
using namespace torva::testing;
namespace mt = torva::mesh_tool;

// A floating unit hemisphere, n panels per cube edge; `half` keeps y >= 0 (symmetry 1).
PanelModel hemisphere(int n, bool half = false)
{
    return panel_model_from(cubed_sphere(n, 0.0, half, true), half ? 1 : 0);
}

struct Flow {
    BasisFlowArrays arrays;
    int m = 0;
};

Flow solve(const PanelModel& model, int infnmr, int n_kernel = 0, float depth = -1.0f, int iflux_db = 1,
           int link_count = 0, int symmetry = 0, std::span<const float> flux = {})
{
    Flow flow;
    flow.m = model.n_interior_body;
    allocate_basis_flow_arrays(flow.arrays, model.n_panels, flow.m, kListingUnit);
    solve_basis_flow(model, kListingUnit, symmetry, model.n_panels, link_count, flow.m, model.interior_body,
                     BasisFlowSettings{iflux_db, infnmr, n_kernel, depth}, flux, flow.arrays);
    return flow;
}

std::array<double, 3> colloc(const PanelModel& m, int p)
{ return {m.colloc[3 * p], m.colloc[3 * p + 1], m.colloc[3 * p + 2]}; }
std::array<double, 3> normal(const PanelModel& m, int p)
{ return {m.frame[9 * p + 2], m.frame[9 * p + 5], m.frame[9 * p + 8]}; }

// A unit sphere advancing at unit speed along +x: phi = -(R^3/2) x / r^3, whose normal
// derivative into the body is n_x on r = R (the hemisphere and its surface image make the
// whole sphere), less the prescribed outflow `q` of a panel where there is one.
struct SphereErrors {
    double phi = 0.0, grad = 0.0, normal = 0.0;
};
SphereErrors sphere_errors(const PanelModel& model, const Flow& flow, const std::vector<float>& q = {})
{
    SphereErrors e;
    const auto& a = flow.arrays;
    for (int k = 0; k < flow.m; ++k) {
        const int p = model.interior_body[static_cast<std::size_t>(k)] - 1;
        const auto [x, y, z] = colloc(model, p);
        const double r = std::sqrt(x * x + y * y + z * z), r3 = r * r * r, r5 = r3 * r * r;
        const double phi = -0.5 * x / r3;
        const std::array<double, 3> grad = {-0.5 * (1.0 / r3 - 3.0 * x * x / r5), 1.5 * x * y / r5, 1.5 * x * z / r5};
        e.phi = std::max(e.phi, std::fabs(a.phi[p] - phi));
        e.grad = std::max({e.grad, std::fabs(a.u[p] - grad[0]), std::fabs(a.v[p] - grad[1]), std::fabs(a.w[p] - grad[2])});
        const auto n = normal(model, p);
        const double un = n[0] * a.u[p] + n[1] * a.v[p] + n[2] * a.w[p];
        e.normal = std::max(e.normal, std::fabs(un - n[0] + (q.empty() ? 0.0 : q[p])));
    }
    return e;
}

// Tolerances.  With panels of edge h ~ (pi/2)/n on a unit sphere, constant-strength panels
// give the surface potential to first order in h and the velocity at the collocation points
// to second order; bounds with unit constants are phi error <= h/2 |phi|max = h/4 and
// velocity error <= h^2.  The refined mesh must show the orders: halving h at least
// quarters... the velocity error (ratio < 0.35 allowing some pre-asymptotic slack) and
// lowers the potential error (ratio < 0.8).  The normal velocity is what the solve imposes:
// float LU on M ~ 200-800 unknowns leaves residuals ~ M eps |sigma| ~ 1e-4 at most; and so
// does a prescribed flux q, which enters the condition as n . grad phi = n_x - q.
TEST(basefl_sphere, matches_the_potential_flow_of_a_sphere_with_both_builders_and_takes_fluxes)
{
    const PanelModel coarse = hemisphere(8);
    const double h8 = (std::numbers::pi / 2.0) / 8.0;
    SphereErrors e8[2];
    Flow flows[2];
    for (int infnmr = 0; infnmr <= 1; ++infnmr) {
        flows[infnmr] = solve(coarse, infnmr);
        e8[infnmr] = sphere_errors(coarse, flows[infnmr]);
        EXPECT_LT(e8[infnmr].phi, h8 / 4.0) << "INFNMR " << infnmr;
        EXPECT_LT(e8[infnmr].grad, h8 * h8) << "INFNMR " << infnmr;
        EXPECT_LT(e8[infnmr].normal, 1.0e-4) << "INFNMR " << infnmr;
    }
    // The two builders integrate by different methods (adaptive / Gauss on the bilinear
    // panel, closed form on its flat projection): they agree far inside the discretisation
    // error (the panels' deviation from flat is ~1e-3 of their size here).
    for (int k = 0; k < flows[0].m; ++k) {
        const int p = coarse.interior_body[static_cast<std::size_t>(k)] - 1;
        EXPECT_NEAR(flows[0].arrays.phi[p], flows[1].arrays.phi[p], 2.0e-3);
        EXPECT_NEAR(flows[0].arrays.u[p], flows[1].arrays.u[p], 2.0e-3);
    }

    const PanelModel fine = hemisphere(16);
    const SphereErrors e16 = sphere_errors(fine, solve(fine, 1));
    EXPECT_LT(e16.grad, 0.35 * e8[1].grad);
    EXPECT_LT(e16.phi, 0.8 * e8[1].phi);
    EXPECT_LT(e16.normal, 1.0e-4);

    const std::array<int, 2> k = {1, 1}, i = {2, 3}, j = {2, 1};
    const std::array<float, 2> f = {0.3f, -0.2f};
    const std::vector<float> q = prescribed_panel_fluxes(coarse, coarse.n_panels, 2, k, i, j, f, kListingUnit);
    EXPECT_EQ(q[2 + 2 * coarse.np1[0]], 0.3f);   // sheet 1, panel (2, 2) and (3, 1) of the padded grid
    EXPECT_EQ(q[3 + 1 * coarse.np1[0]], -0.2f);
    EXPECT_LT(sphere_errors(coarse, solve(coarse, 0, 0, -1.0f, 1, 0, 0, q), q).normal, 1.0e-4);
}

// K = 1 bottom images against the bottom's images meshed: the hemisphere plus a whole
// sphere centred at z = -2h, in deep water, whose surface image is the sphere at +2h.  The
// two systems differ only because the meshed image sphere at -2h lacks its own neighbour
// at -4h while the image formulation gives it the centre's strengths: a dipole change of
// (R^3/2)(1/(2h)^3 - 1/(4h)^3) ~ 7e-3 relative, felt at the hull through 1/(2h)^3 ~ 1/64,
// i.e. ~1e-4 of phi; 5e-4 is allowed, against an image effect of 2e-2.
TEST(basefl_depth, bottom_images_equal_the_image_spheres_meshed)
{
    const double h = 2.0;
    const PanelModel images = hemisphere(8);
    const Flow with_bottom = solve(images, 0, 1, static_cast<float>(h));
    const Flow deep = solve(images, 0);

    auto sheets = cubed_sphere(8, 0.0, false, true);
    for (const auto& s : cubed_sphere(8, 2.0 * h)) sheets.push_back(s);
    const PanelModel meshed = panel_model_from(sheets, 0);
    const Flow explicit_images = solve(meshed, 0);

    double effect = 0.0;
    for (int k = 0; k < with_bottom.m; ++k) {
        const int p = images.interior_body[static_cast<std::size_t>(k)] - 1;
        // The hemisphere's sheets come first in both meshes, so panel numbers agree.
        EXPECT_NEAR(with_bottom.arrays.phi[p], explicit_images.arrays.phi[p], 5.0e-4) << "panel " << p + 1;
        effect = std::max(effect, static_cast<double>(std::fabs(with_bottom.arrays.phi[p] - deep.arrays.phi[p])));
    }
    EXPECT_GT(effect, 1.0e-2);
}

// One body sheet, a flat 6 x 3 grid along x from 0 to 6 (collocation x = 0.5 .. 5.5): its
// corner panels span x_min = 0.5, x_max = 5.5, h = 2.5.  With a link section the weight is
// 1 - exp(-4.6052 (d/h)^2) for d = x - x_min < h: 0 at the first column, and 1 from d >= h.
TEST(basefl_weights, link_section_tapers_the_weight_from_x_min)
{
    const mt::Sheet plate = mt::make_sheet(6, 3, mt::kKindBody, [](int a, int b) {
        return mt::Vec3{static_cast<double>(a), static_cast<double>(b), -1.0};
    });
    const PanelModel model = panel_model_from({plate}, 0, "1\n10 0 0 0 0 0 0\n");
    ASSERT_EQ(model.link_record_count, 1);
    std::vector<float> weight(static_cast<std::size_t>(model.n_panels));
    basis_flow_weights(model, model.n_panels, 0, 1, weight);
    const int np1 = model.np1[0];
    for (int j = 1; j <= 3; ++j) {
        for (int i = 1; i <= 6; ++i) {
            const double d = (i - 0.5) - 0.5, hh = 2.5;
            const double want = d >= hh ? 1.0 : 1.0 - std::exp(-4.6052 * (d / hh) * (d / hh));
            EXPECT_NEAR(weight[static_cast<std::size_t>(i + j * np1)], want, 1.0e-6) << "panel (" << i << "," << j << ")";
        }
        EXPECT_EQ(weight[static_cast<std::size_t>(1 + j * np1)], 0.0f);   // d = 0
    }
    EXPECT_EQ(weight[0], 0.0f);   // a ghost
}

// u = a x + b y, v = c x + d y on a sheared regular grid: every difference of (5), forward,
// backward or central, is exact for a field linear in the grid indices, and so is the
// metric; ux = a, vy = d, uvs = (b + c)/2 up to float rounding of O(10) values.
TEST(basefl_free_surface, derivatives_are_exact_for_a_linear_field)
{
    mt::Sheet fs = mt::make_sheet(5, 4, mt::kKindFreeSurface, [](int i, int k) {
        return mt::Vec3{0.7 * i + 0.2 * k, 0.1 * i + 0.9 * k, 0.0};
    });
    const PanelModel model = panel_model_from({fs}, 0);
    const int n = model.n_panels;
    std::vector<float> u(static_cast<std::size_t>(n)), v(u.size()), ux(u.size()), vy(u.size()), uvs(u.size());
    const double a = 1.5, b = -0.75, c = 0.25, d = 2.0;
    for (int p = 0; p < n; ++p) {
        const auto [x, y, z] = colloc(model, p);
        u[static_cast<std::size_t>(p)] = static_cast<float>(a * x + b * y);
        v[static_cast<std::size_t>(p)] = static_cast<float>(c * x + d * y);
    }
    free_surface_derivatives(model, n, u, v, ux, vy, uvs);
    int checked = 0;
    for (int p = 0; p < n; ++p) {
        if (model.active[static_cast<std::size_t>(p)] == 0) {
            EXPECT_EQ(ux[static_cast<std::size_t>(p)], 0.0f);
            continue;
        }
        EXPECT_NEAR(ux[static_cast<std::size_t>(p)], a, 2.0e-5) << "panel " << p + 1;
        EXPECT_NEAR(vy[static_cast<std::size_t>(p)], d, 2.0e-5) << "panel " << p + 1;
        EXPECT_NEAR(uvs[static_cast<std::size_t>(p)], 0.5 * (b + c), 2.0e-5) << "panel " << p + 1;
        ++checked;
    }
    EXPECT_EQ(checked, 20);
}

// ---- basefl with its journal -------------------------------------------------------

// basefl as the driver calls it, without fluxes or bottom, writing into `o`.
void run_basefl(const PanelModel& model, int infnmr, int ifsbc, MemoryOutput& o)
{
    const std::array<int, 200> none{};
    const std::array<float, 200> nof{};
    basefl(model, kListingUnit, o.journal, model.header.symmetry, model.n_sheets, model.n_panels,
           model.link_record_count, model.n_interior_body, 0, 0, none, none, none, nof, infnmr, 0, -1.0f, ifsbc, 6);
}

// The jou3 record: one record of 7 N reals, panel after panel (phi, u, v, w, ux, vy, weight)
// -- the layout the solver's Fortran reads as a(7, n) -- and nothing after it.  jou4 keeps
// what the equation systems wrote unless IFSBC is 3, which replaces it by one record of 3 N
// reals for each of modes 3, 4, 5 (the modes named on the listing).  The half hull with the
// y-image, mirrored into a whole hull for the modes, against the whole hull meshed: the same
// surface and panels, so equal up to the float rounding of sums taken in another order,
// amplified by 1/eps = 20 in the mode records.  Panels are matched by collocation points.
TEST(basefl_journal, jou3_and_jou4_records_and_the_mirrored_half_hull)
{
    const PanelModel whole = hemisphere(4), half = hemisphere(4, true);
    const int n = whole.n_panels;
    const std::vector<float> earlier = {1.0f, 2.0f, 3.0f};
    struct Run {
        const PanelModel* model;
        int ifsbc;
        std::vector<std::vector<float>> jou3, jou4;
        std::vector<std::string> modes;
    } runs[3] = {{&whole, 1, {}, {}, {}}, {&whole, 3, {}, {}, {}}, {&half, 3, {}, {}, {}}};
    for (Run& r : runs) {
        TempDir dir("basefl");
        MemoryOutput o(dir.path());
        for (int k = 0; k < 4; ++k) o.journal.write_record(JournalFile::jou4, bytes_of(earlier));
        run_basefl(*r.model, 0, r.ifsbc, o);
        r.jou3 = o.floats(JournalFile::jou3);
        r.jou4 = o.floats(JournalFile::jou4);
        for (const std::string& line : o.listing())
            if (line.rfind(" mode", 0) == 0) r.modes.push_back(line);
        ASSERT_EQ(r.jou3.size(), 1u);
        ASSERT_EQ(r.jou3[0].size(), static_cast<std::size_t>(7 * r.model->n_panels));
    }
    const Flow flow = solve(whole, 0, 0, -1.0f, /*iflux_db=*/0, whole.link_record_count);
    for (int p = 0; p < n; ++p) {
        const std::array<float, 7> want = {flow.arrays.phi[p], flow.arrays.u[p], flow.arrays.v[p], flow.arrays.w[p],
                                           0.0f, 0.0f, flow.arrays.weight[p]};
        for (int c = 0; c < 7; ++c)
            EXPECT_EQ(runs[0].jou3[0][static_cast<std::size_t>(7 * p + c)], want[static_cast<std::size_t>(c)])
                << "panel " << p + 1 << " value " << c + 1;
    }
    EXPECT_EQ(runs[1].jou3, runs[0].jou3);
    EXPECT_EQ(runs[0].jou4, std::vector<std::vector<float>>(4, earlier));
    EXPECT_TRUE(runs[0].modes.empty());
    for (const Run* r : {&runs[1], &runs[2]}) {
        EXPECT_EQ(r->modes, (std::vector<std::string>{" mode 3", " mode 4", " mode 5"}));
        ASSERT_EQ(r->jou4.size(), 3u);
        for (const auto& rec : r->jou4) EXPECT_EQ(rec.size(), static_cast<std::size_t>(3 * r->model->n_panels));
    }

    int matched = 0;
    for (int p = 0; p < half.n_panels; ++p) {
        if (half.active[static_cast<std::size_t>(p)] == 0)
            continue;
        const auto c = colloc(half, p);
        int q = -1;
        for (int r = 0; r < n; ++r) {
            const auto d = colloc(whole, r);
            if (whole.active[static_cast<std::size_t>(r)] != 0 && std::fabs(d[0] - c[0]) + std::fabs(d[1] - c[1]) + std::fabs(d[2] - c[2]) < 1.0e-5)
                q = r;
        }
        ASSERT_GE(q, 0) << "no whole-hull panel at panel " << p + 1;
        ++matched;
        for (int k = 0; k < 4; ++k)   // phi, u, v, w: O(1), float sums over ~100 panels
            EXPECT_NEAR(runs[2].jou3[0][static_cast<std::size_t>(7 * p + k)], runs[1].jou3[0][static_cast<std::size_t>(7 * q + k)], 2.0e-5)
                << "panel " << p + 1 << " value " << k + 1;
        for (std::size_t m = 0; m < 3; ++m)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(runs[2].jou4[m][static_cast<std::size_t>(3 * p + k)], runs[1].jou4[m][static_cast<std::size_t>(3 * q + k)], 1.0e-3)
                    << "mode record " << m + 1 << " panel " << p + 1 << " component " << k + 1;
    }
    EXPECT_EQ(matched, half.n_interior_body);
}

// The displacement step: eps = 0.05 halved until the highest displaced collocation point
// below the plane stays under it; heave moves every point up by eps, so eps is the first
// 0.05 / 2^k below -z_top.  Corners on the plane go up with the body, the others are held
// at or below it.
TEST(basefl_modes, heave_step_keeps_the_collocation_points_under_water)
{
    PanelModel model = hemisphere(4);
    std::vector<float> saved(model.corners.begin(), model.corners.begin() + 12 * model.n_panels);
    float z_top = -10.0f;
    for (int p = 0; p < model.n_panels; ++p)
        if (std::fabs(model.colloc[3 * p + 2]) >= 0.001f)
            z_top = std::max(z_top, model.colloc[3 * p + 2]);
    float want = 0.05f;
    while (!(z_top + want < 0.0f))
        want /= 2.0f;
    const float eps = displace_panel_model(model, saved, 3, kListingUnit);
    EXPECT_EQ(eps, want);
    for (std::size_t k = 0; k < saved.size(); k += 12)
        for (int c = 0; c < 4; ++c) {
            const float z0 = saved[k + 8 + c], z1 = model.corners[k + 8 + c];
            if (std::fabs(z0) < 1.0e-4f)
                EXPECT_EQ(z1, z0 + eps);
            else
                EXPECT_EQ(z1, std::min(z0 + eps, 0.0f));
        }
}

}  // namespace
