// The panel-wise system judged by truths from outside its code.
//
//   - Added mass of a submerged sphere, m = 2/3 pi rho R^3, and of a floating hemisphere in
//     heave with phi = 0 on the free surface, m = 1/3 pi rho R^3 (the sphere's potential in
//     heave is odd in z), obtained by playing the solver on the journal files: u = A^-1 B k
//     with k the body's normal velocity, phi from the B-spline coefficients, m = integral of
//     phi n dS.  And the same number from seteqn, the row-wise system, on the same mesh.
//   - A wall below the sphere (the sea bottom) raises the added mass by the first image
//     dipole: 1 + 3/16 (R/h)^3 moving parallel to the wall, 1 + 3/8 (R/h)^3 towards it.
//   - Gauss's solid angle: the dipole integral of a constant density over a closed surface
//     is 2 pi at a point on it and 0 outside, while the single layer of a unit density on a
//     sphere is 4 pi R at its surface and 4 pi R^2 / d at a distance d from its centre.
//   - The quadrature-based column against the adaptive one (a second integration method).
//   - The journal files read by a gfortran program; the stops of the system.
#include "equations/seteqn1.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "../../tools/mesh_shapes.hpp"
#include "linalg/dense_linear_algebra.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "integrals/influence_coefficients.hpp"
#include "mesh/mesh_file.hpp"
#include "support/journal_solver.hpp"
#include "support/panel_models.hpp"
#include "support/run_program.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

using namespace torva;
using namespace torva::testing;
namespace mt = torva::mesh_tool;

constexpr double kPi = std::numbers::pi;

// ---- meshes -----------------------------------------------------------------------------

using torva::testing::panel_model_from;

// Unit sphere of `faces` panels per cube edge centred at (0, 0, -depth); hull sheets are
// flagged (MP = 1) so that they ask for velocity records.
PanelModel sphere(int faces, bool half = false, double depth = 10.0)
{
    mt::CubedEllipsoidParams p;
    p.centre = {0.0, 0.0, -depth};
    p.n[0] = p.n[1] = p.n[2] = faces;
    p.keep_y_nonnegative = half;
    auto sheets = mt::cubed_ellipsoid(p);
    for (auto& s : sheets) s.flag = 1;
    return panel_model_from(sheets, half ? 1 : 0);
}

// Floating unit hemisphere with a free-surface ring out to `fs_radius`.
PanelModel floating_hemisphere(int faces, double fs_radius, int fs_nr)
{
    mt::CubedEllipsoidParams p;
    p.n[0] = p.n[1] = p.n[2] = faces;
    p.keep_z_nonpositive = true;
    auto sheets = mt::cubed_ellipsoid(p);
    for (auto& s : sheets) s.flag = 1;
    mt::FreeSurfaceParams f;
    f.radius = fs_radius;
    f.nr = fs_nr;
    f.ratio = 1.3;
    for (auto& s : mt::free_surface(sheets, f, false)) sheets.push_back(s);
    return panel_model_from(sheets, 0);
}

// ---- running a system and reading its journals -------------------------------------------

std::vector<std::vector<std::byte>> all_records(const std::string& name)
{
    UnitTable table;
    OpenOptions o;
    o.status = "OLD";
    o.form = FileForm::unformatted;
    o.read_only = true;
    EXPECT_EQ(table.open(50, name, o), 0) << name;
    std::vector<std::vector<std::byte>> records;
    while (auto r = table.read_record(50)) records.push_back(std::move(*r));
    return records;
}

enum class Assembly { row_wise, panel_wise };   // seteqn, seteqn1

struct Case {
    Assembly assembly = Assembly::panel_wise;
    int infmeth = 3;
    int infbnd = 1;
    int infinvs = 1;
    float sea_depth = -1.0f;
};

struct Journals {
    int n = 0;
    std::vector<std::vector<float>> rhs[2];        // rows of B, B_a
    std::vector<std::vector<std::byte>> jou2;      // every record of .jou2
    std::vector<std::vector<std::byte>> jou4;
    std::vector<std::string> listing;
    bool connectivity_info = false;
    bool stopped = false;
    std::vector<std::string> stop_lines;
};

// The listing and the four journal units opened in `dir`, which is also the working
// directory (connectivity.info lands there) until the guard goes; then every unit is closed,
// however the run ended, so that the next test finds them free.
class JournalUnits {
public:
    explicit JournalUnits(const TempDir& dir) : cwd_(std::filesystem::current_path())
    {
        UnitTable& io = units();
        OpenOptions o;
        o.status = "NEW";
        EXPECT_EQ(io.open(6, dir.file("s.LIS"), o), 0);
        o.form = FileForm::unformatted;
        for (const auto& [unit, suffix] : {std::pair{11, ".jou1"}, {15, ".jou1a"}, {12, ".jou2"}, {14, ".jou4"}})
            EXPECT_EQ(io.open(unit, dir.file(std::string("s") + suffix), o), 0);
        std::filesystem::current_path(dir.path());
    }
    ~JournalUnits()
    {
        (void)units().close_all();
        std::filesystem::current_path(cwd_);
    }
    JournalUnits(const JournalUnits&) = delete;
    JournalUnits& operator=(const JournalUnits&) = delete;

private:
    std::filesystem::path cwd_;
};

// Runs seteqn or seteqn1 on `model` in `dir` and reads back everything it wrote.
// `influence` replaces the selected routine when given.
Journals run_case_in(const TempDir& dir, const PanelModel& model, const Case& c,
                     const ColumnInfluenceRoutine* influence = nullptr)
{
    Journals j;
    j.n = model.n_panels;
    {
        JournalUnits journal_units(dir);
        const int symmetry = model.header.symmetry;
        try {
            if (c.assembly == Assembly::row_wise)
                seteqn(model, SeteqnUnits{}, symmetry, model.n_sheets, model.n_panels, {1, 1, 1}, c.infmeth,
                       c.infinvs, c.sea_depth);
            else if (influence)
                seteqn1(model, SeteqnUnits{}, symmetry, model.n_sheets, model.n_panels, *influence, c.infbnd,
                        c.infinvs, c.sea_depth);
            else
                seteqn1(model, SeteqnUnits{}, symmetry, model.n_sheets, model.n_panels, {1, 1, 1}, c.infmeth,
                        c.infbnd, c.infinvs, c.sea_depth);
        } catch (const RunStopped& stop) {
            j.stopped = true;
            j.stop_lines = stop.lines;
        }
    }
    for (int s = 0; s < 2; ++s)
        for (auto& rec : all_records(dir.file(s == 0 ? "s.jou1" : "s.jou1a"))) j.rhs[s].push_back(record_floats(rec));
    j.jou2 = all_records(dir.file("s.jou2"));
    j.jou4 = all_records(dir.file("s.jou4"));
    j.listing = read_lines(dir.file("s.LIS"));
    j.connectivity_info = std::filesystem::exists(dir.file("connectivity.info"));
    return j;
}

Journals run_case(const PanelModel& model, const Case& c, const ColumnInfluenceRoutine* influence = nullptr)
{
    TempDir dir("seteqn1");
    return run_case_in(dir, model, c, influence);
}

// The assembled, scaled system of seteqn1 (nothing factorised), for looking at its entries.
PanelwiseSystem assemble(const PanelModel& model, const ColumnInfluenceRoutine& influence, int infbnd,
                         float sea_depth)
{
    TempDir dir("seteqn1_assemble");
    JournalUnits journal_units(dir);
    return assemble_panelwise_system(model, SeteqnUnits{}, model.header.symmetry, model.n_sheets, model.n_panels,
                                     influence, infbnd, sea_depth);
}

ColumnInfluenceRoutine routine(const PanelModel& model, int infmeth, float sea_depth)
{
    return select_column_influence(model, kListingUnit, model.header.symmetry, infmeth, {1, 1, 1}, sea_depth);
}

// Every call of an influence routine, recorded (calls come from several threads).
struct CallLog {
    std::mutex mutex;
    std::vector<std::pair<int, ColumnPass>> calls;
};

ColumnInfluenceRoutine counted(const ColumnInfluenceRoutine& inner, CallLog& log)
{
    ColumnInfluenceRoutine r = inner;
    r.fill = [inner, &log](int p, ColumnPass pass, ColumnInfluenceArrays& a) {
        {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.calls.emplace_back(p, pass);
        }
        inner.fill(p, pass, a);
    };
    return r;
}

// u = A^-1 B k for system s, and the added mass of a translation along axis d.
std::vector<float> solve(const Journals& j, int s, int infinvs, const std::vector<float>& k)
{
    return solve_from_journals(j.n, j.rhs[s], j.jou2, s, infinvs, k);
}

double added_mass(const PanelModel& model, const Journals& j, int s, int d, int infinvs)
{
    return added_mass_from_coefficients(model, solve(j, s, infinvs, translation_condition(model, d)), d);
}

const double kSphereMass = 2.0 / 3.0 * kPi;   // rho = 1, R = 1

double relative(double value, double reference) { return std::abs(value / reference - 1.0); }

// ---- added mass: seteqn1 solves the same equation as seteqn -------------------------------

// 6 panels per cube edge: 216 collocated panels, 384 unknowns.  The geometry alone (bilinear
// panels through nodes on the sphere) costs about 2 % there (seteqn's own convergence test),
// so the exact value is checked to 4 %.  Against seteqn on the same mesh only the order of
// summation differs for INFMETH 3 (the same adaptive integrals of the same pairs): the float
// system of a few hundred unknowns then agrees to 1e-4.  The quadrature paths differ from
// seteqn's in precision (double columns against the single-precision row variant) and, for
// INFMETH 0, in the integrator (getic2b's Gauss rules on the bilinear panel against flat-panel
// formulas): allowed 2e-3.
TEST(seteqn1_sphere, added_mass_matches_seteqn_and_the_sphere_for_each_influence_path)
{
    const PanelModel model = sphere(6);
    for (const int infmeth : {3, -1, 0}) {
        const Journals row = run_case(model, {Assembly::row_wise, infmeth, 1, 1});
        const Journals col = run_case(model, {Assembly::panel_wise, infmeth, 1, 1});
        ASSERT_FALSE(col.stopped) << col.stop_lines[0];
        const double m_row = added_mass(model, row, 0, 0, 1);
        const double m_col = added_mass(model, col, 0, 0, 1);
        std::printf("INFMETH %2d  seteqn %.6f  seteqn1 %.6f  exact %.6f\n", infmeth, m_row, m_col, kSphereMass);
        EXPECT_LT(relative(m_col, kSphereMass), 0.04) << "INFMETH " << infmeth;
        EXPECT_LT(relative(m_col, m_row), infmeth == 3 ? 1e-4 : 2e-3) << "INFMETH " << infmeth;
    }
}

// The connectivity rows (INFBND 0) tie the ghost coefficients to the neighbour sheets instead
// of extrapolating them: a different but equally valid closure of the same equations, so the
// added mass again lies within the discretisation error of the exact value (4 %, above) and
// within a fraction of it of the stencil closure's.  The half body (symmetry 1, cut in y = 0)
// gives the whole body's m_xx from the symmetric system and, by the cube's symmetry x <-> y,
// the same value as m_yy from the antisymmetric one; the cut's rows (stencils or the y = 0
// rows of the connectivity) differ from the whole body's seam rows, allowed 0.5 %.
TEST(seteqn1_sphere, connectivity_closure_and_half_body_give_the_same_added_mass)
{
    const PanelModel whole = sphere(6);
    const PanelModel half = sphere(6, true);
    const Journals stencil = run_case(whole, {Assembly::panel_wise, -1, 1, 1});
    const double m_stencil = added_mass(whole, stencil, 0, 0, 1);
    for (const int infbnd : {0, 1}) {
        const Journals w = run_case(whole, {Assembly::panel_wise, -1, infbnd, 1});
        ASSERT_FALSE(w.stopped) << w.stop_lines[0];
        EXPECT_EQ(w.connectivity_info, infbnd == 0);
        const double m_whole = added_mass(whole, w, 0, 0, 1);
        const Journals h = run_case(half, {Assembly::panel_wise, -1, infbnd, 1});
        ASSERT_FALSE(h.stopped) << h.stop_lines[0];
        ASSERT_EQ(h.rhs[1].size(), static_cast<std::size_t>(half.n_panels));
        const double m_xx = added_mass(half, h, 0, 0, 1);
        const double m_yy = added_mass(half, h, 1, 1, 1);
        std::printf("INFBND %d  whole %.6f  half: m_xx %.6f  m_yy %.6f  (stencils, whole: %.6f)\n", infbnd, m_whole,
                    m_xx, m_yy, m_stencil);
        EXPECT_LT(relative(m_whole, kSphereMass), 0.04);
        EXPECT_LT(relative(m_whole, m_stencil), 0.01);
        EXPECT_LT(relative(m_xx, m_whole), 5e-3);
        EXPECT_LT(relative(m_yy, m_whole), 5e-3);
    }
}

// A flat wall (the sea bottom) at distance h below the centre: the image dipole raises the
// added mass by c = 3/16 (R/h)^3 for motion along the wall and 3/8 (R/h)^3 towards it, and
// the images of the images continue the series geometrically, c^2 next (h = 2.5: c = 1.2 %
// and 2.4 %, c^2 = 1.4e-4 and 5.8e-4).  The mesh's dipole is low by the deficit delta =
// 1 - m_deep / m_exact of its deep-water added mass, and both the image dipole and the
// sphere's response to the image's flow scale with it, so the computed correction is low by
// about 2 delta; allowed 3 delta.  A free term added twice, a missing or doubled image, or an
// image panel translated instead of reflected (which flips the sign of the z correction) all
// miss by the whole correction or more.
TEST(seteqn1_sphere, bottom_wall_raises_added_mass_by_the_image_dipole_series)
{
    const double centre_depth = 10.0, h = 2.5;
    const PanelModel model = sphere(4, false, centre_depth);
    const double eps3 = 1.0 / (h * h * h);
    for (const int infmeth : {-1, 0, 3}) {
        const Journals deep = run_case(model, {Assembly::panel_wise, infmeth, 1, 1, -1.0f});
        const Journals wall = run_case(model, {Assembly::panel_wise, infmeth, 1, 1, float(centre_depth + h)});
        ASSERT_FALSE(wall.stopped) << wall.stop_lines[0];
        for (const auto& [d, a] : {std::pair{0, 3.0 / 16.0}, std::pair{2, 3.0 / 8.0}}) {
            const double m_deep = added_mass(model, deep, 0, d, 1);
            const double delta = 1.0 - m_deep / kSphereMass;
            const double correction = added_mass(model, wall, 0, d, 1) / m_deep - 1.0;
            const double series = a * eps3 + a * a * eps3 * eps3;
            std::printf("INFMETH %2d  axis %d  deficit %.4f  correction %.6f  series %.6f\n", infmeth, d, delta,
                        correction, series);
            ASSERT_GT(delta, 0.0);
            EXPECT_NEAR(correction / series, 1.0, 3.0 * delta) << "INFMETH " << infmeth << " axis " << d;
        }
    }
}

// The potential of the free-surface sheets is known (phi = 0: the high-frequency limit), so
// their rows and columns take the kind-3 forms (3) and the free term goes to B.  A heaving
// hemisphere then has half the added mass of the whole sphere heaving, pi/3, because the
// sphere's heave potential is odd in z.  seteqn1 reproduces seteqn's number (same integrals,
// INFMETH 3: 1e-4, the float solve) and with the connectivity closure stays within 1 % of it.
// Against pi/3: 4 panels per cube edge leave the sphere 5 % short (the wall test prints the
// deficit), the truncated free surface a little more: allowed 6 %.
TEST(seteqn1_sphere, floating_hemisphere_heave_takes_the_known_potential_path)
{
    const PanelModel model = floating_hemisphere(4, 3.0, 4);
    const double exact = kPi / 3.0;
    const double m_row = added_mass(model, run_case(model, {Assembly::row_wise, 3, 1, 1}), 0, 2, 1);
    for (const int infbnd : {1, 0}) {
        const Journals col = run_case(model, {Assembly::panel_wise, 3, infbnd, 1});
        ASSERT_FALSE(col.stopped) << col.stop_lines[0];
        const double m_col = added_mass(model, col, 0, 2, 1);
        std::printf("INFBND %d  seteqn %.6f  seteqn1 %.6f  exact %.6f\n", infbnd, m_row, m_col, exact);
        EXPECT_LT(relative(m_col, m_row), infbnd == 1 ? 1e-4 : 1e-2);
        EXPECT_LT(relative(m_col, exact), 0.06);
    }
}

// ---- the assembled system ------------------------------------------------------------------

// Sheet and 1-based grid position (a, b) of every unknown.
struct Place {
    int sheet, a, b;
};
std::vector<Place> places(const PanelModel& m)
{
    std::vector<Place> out;
    for (int s = 0; s < m.n_sheets; ++s)
        for (int b = 1; b <= m.np2[s]; ++b)
            for (int a = 1; a <= m.np1[s]; ++a) out.push_back({s, a, b});
    return out;
}

std::vector<int> active_panel_numbers(const PanelModel& m)
{
    std::vector<int> out;
    for (int p = 0; p < m.n_panels; ++p)
        if (m.active[p]) out.push_back(to_panel_number(p));
    return out;
}

// Gauss's solid angle: over a closed surface whose normals point into the body the dipole
// integral of a unit density is 2 pi at a point of the surface (our normals point out of the
// fluid) and 0 at a point outside, e.g. the collocation points seen by the image sphere in the
// bottom.  The nine pieces of a panel add up to 64, so u = 1 is phi = 64, and on a kind-2 row
// amat's row sum is 64 (2 pi + 2 pi): free term and dipole.  bmat's row sum is the single
// layer of unit density: 4 pi R on the sphere, plus 4 pi R^2 / d from the image sphere at
// distance d.  Their ratio is free of the row scaling.  A free term added twice with the
// bottom image would make it 64 * 6 pi / ...: half as much again.
// Tolerance: the single layer of the panelled sphere (nodes on the sphere, panels inside it)
// falls short of 4 pi R by about the area deficit of the mesh, 2.5 % at 4 panels per cube
// edge, and flat panels of the quadrature path leave gaps of the order of their twist in the
// solid angle: allowed 5 %.
TEST(seteqn1_system, body_rows_sum_to_the_solid_angle_over_the_sphere_single_layer)
{
    const double centre_depth = 10.0, bottom = 12.5;
    const PanelModel model = sphere(4, false, centre_depth);
    const int n = model.n_panels;
    const double image_centre_z = centre_depth - 2.0 * bottom;   // image of z = -10 in z = -12.5
    for (const int infmeth : {-1, 0, 3})
        for (const float depth : {-1.0f, float(bottom)}) {
            const PanelwiseSystem sys = assemble(model, routine(model, infmeth, depth), 3, depth);
            double worst = 0.0;
            for (int r = 0; r < n; ++r) {
                if (!model.active[r]) continue;
                double sum_a = 0, sum_b = 0;
                for (int c = 0; c < n; ++c) {
                    sum_a += sys.amat[r + std::size_t(c) * n];
                    sum_b += sys.bmat[r + std::size_t(c) * n];
                }
                double single_layer = 4.0 * kPi;
                if (depth > 0) {
                    const double dx = model.colloc[3 * r], dy = model.colloc[3 * r + 1],
                                 dz = model.colloc[3 * r + 2] - image_centre_z;
                    single_layer += 4.0 * kPi / std::sqrt(dx * dx + dy * dy + dz * dz);
                }
                worst = std::max(worst, relative(sum_a / sum_b, 64.0 * 4.0 * kPi / single_layer));
            }
            std::printf("INFMETH %2d  depth %5.1f  worst row %.2e\n", infmeth, depth, worst);
            EXPECT_LT(worst, 0.05) << "INFMETH " << infmeth << " depth " << depth;
        }
}

// A ghost panel makes no column block and no free term, and every influence routine returns
// zero rows for inactive field points, so under INFBND 1 a ghost row is the stencil
// (1, -2, 1) / sqrt 6 alone, in amat and amata, and ghost rows and columns of B are empty.
// The influence routine runs once for each active panel and never for a ghost.
TEST(seteqn1_system, ghost_unknowns_get_pure_stencil_rows_and_make_no_column_block)
{
    const PanelModel model = sphere(4, true);
    const int n = model.n_panels;
    const std::vector<Place> place = places(model);
    const float root6 = static_cast<float>(std::sqrt(6.0));
    for (const int infmeth : {-1, 0, 3}) {
        CallLog log;
        const PanelwiseSystem sys = assemble(model, counted(routine(model, infmeth, -1.0f), log), 1, -1.0f);
        std::vector<int> called;
        for (const auto& [p, pass] : log.calls) {
            EXPECT_EQ(pass, ColumnPass::direct);
            called.push_back(p);
        }
        std::sort(called.begin(), called.end());
        EXPECT_EQ(called, active_panel_numbers(model)) << "INFMETH " << infmeth;
        ASSERT_TRUE(sys.symmetric);
        for (int p = 0; p < n; ++p) {
            if (model.active[p]) continue;
            const Place& pl = place[p];
            const int np1 = model.np1[pl.sheet];
            const int step = pl.a == 1 ? 1 : pl.a == np1 ? -1 : pl.b == 1 ? np1 : -np1;
            for (const auto* a : {&sys.amat, &sys.amata})
                for (int c = 0; c < n; ++c) {
                    const float v = (*a)[p + std::size_t(c) * n];
                    const float expected = c == p ? 1.0f / root6 : c == p + step ? -2.0f / root6
                                           : c == p + 2 * step ? 1.0f / root6 : 0.0f;
                    ASSERT_EQ(v, expected) << "INFMETH " << infmeth << " row " << p + 1 << " column " << c + 1;
                }
            for (const auto* b : {&sys.bmat, &sys.bmata})
                for (int c = 0; c < n; ++c) {
                    ASSERT_EQ((*b)[p + std::size_t(c) * n], 0.0f) << "row " << p + 1;
                    ASSERT_EQ((*b)[c + std::size_t(p) * n], 0.0f) << "column " << p + 1;
                }
        }
    }
}

// The bottom image is a second call of the influence routine for every active panel, except
// with getic2b, which holds the bottom itself (the wall test shows it is then counted once).
TEST(seteqn1_system, bottom_image_is_a_second_call_except_for_getic2b)
{
    const PanelModel model = sphere(2, false, 3.0);
    const std::size_t active = active_panel_numbers(model).size();
    for (const int infmeth : {-1, 0, 3}) {
        CallLog log;
        (void)assemble(model, counted(routine(model, infmeth, 5.0f), log), 1, 5.0f);
        std::size_t direct = 0, image = 0;
        for (const auto& call : log.calls) (call.second == ColumnPass::direct ? direct : image)++;
        EXPECT_EQ(direct, active) << "INFMETH " << infmeth;
        EXPECT_EQ(image, infmeth == 0 ? 0u : active) << "INFMETH " << infmeth;
    }
}

// ---- rim options and stops ------------------------------------------------------------------

TEST(seteqn1_stops, infbnd_2_stops_before_any_integral)
{
    const PanelModel model = sphere(2);
    CallLog log;
    const ColumnInfluenceRoutine r = counted(routine(model, 3, -1.0f), log);
    const Journals j = run_case(model, {Assembly::panel_wise, 3, 2, 1}, &r);
    EXPECT_TRUE(j.stopped);
    EXPECT_EQ(j.stop_lines, std::vector<std::string>{"ERROR: Not yet available"});
    EXPECT_TRUE(log.calls.empty());
    EXPECT_TRUE(j.rhs[0].empty());
    EXPECT_TRUE(j.jou2.empty());
    EXPECT_NE(std::find(j.listing.begin(), j.listing.end(), " ERROR: Not yet available"), j.listing.end());
}

// amat is allocated first and checked against the memory the machine can give, so an
// impossible order stops with the system's message before anything else happens.
TEST(seteqn1_stops, matrices_beyond_the_memory_stop_with_the_arrays_message)
{
    const PanelModel model = sphere(2);
    CallLog log;
    const ColumnInfluenceRoutine r = counted(routine(model, -1, -1.0f), log);
    TempDir dir("seteqn1_memory");
    JournalUnits journal_units(dir);
    const int n = 1 << 20;   // N x N floats: 4 TiB
    try {
        (void)assemble_panelwise_system(model, SeteqnUnits{}, 0, model.n_sheets, n, r, 1, -1.0f);
        ADD_FAILURE() << "no stop";
    } catch (const RunStopped& stop) {
        ASSERT_GE(stop.lines.size(), 1u);
        EXPECT_EQ(stop.lines[0], "ERROR: Insufficient memory for arrays in seteqn1.");
    }
    EXPECT_TRUE(log.calls.empty());
}

// INFBND 3 sets no rim rows: the ghost rows stay empty, the right-hand sides are still
// written (all N, ghost rows zero), no velocity record is written, and the factorisation meets
// the zero rows as an exactly zero pivot (elimination never fills an all-zero row).
TEST(seteqn1_stops, other_infbnd_leaves_ghost_rows_empty_and_the_factorisation_names_the_zero_pivot)
{
    const PanelModel model = sphere(2);
    const int n = model.n_panels;
    const Journals j = run_case(model, {Assembly::panel_wise, -1, 3, 1});
    ASSERT_TRUE(j.stopped);
    ASSERT_EQ(j.stop_lines.size(), 1u);
    const std::string head = "ERROR: Error decomposing amat in routine seteqn1. ";
    ASSERT_EQ(j.stop_lines[0].rfind(head, 0), 0u) << j.stop_lines[0];
    const int info = std::stoi(j.stop_lines[0].substr(head.size()));
    EXPECT_GT(info, 0);
    EXPECT_LE(info, n);
    EXPECT_TRUE(j.jou4.empty());
    ASSERT_EQ(j.rhs[0].size(), std::size_t(n));
    const PanelwiseSystem sys = assemble(model, routine(model, -1, -1.0f), 3, -1.0f);
    for (int p = 0; p < n; ++p) {
        if (model.active[p]) continue;
        for (int c = 0; c < n; ++c) {
            ASSERT_EQ(j.rhs[0][p][c], 0.0f);
            ASSERT_EQ(sys.amat[p + std::size_t(c) * n], 0.0f) << "row " << p + 1 << " column " << c + 1;
        }
    }
}

// ---- journal files ----------------------------------------------------------------------

// Under INFBND 1 every row, ghosts included, writes one velocity record per active panel of
// the flagged body sheets: 3 reals, 6 with symmetry (sum and difference of the y-mirror).
// The records of the interior rows are those seteqn writes, in the same order.  Without
// symmetry nothing goes to .jou1a.  Three timing lines close the listing.
TEST(seteqn1_journals, velocity_records_for_every_row_jou1a_only_with_symmetry_and_three_timings)
{
    for (const bool half : {false, true}) {
        const PanelModel model = sphere(4, half);
        const int n = model.n_panels;
        const std::size_t active = active_panel_numbers(model).size();
        const Journals row = run_case(model, {Assembly::row_wise, -1, 1, 1});
        const Journals col = run_case(model, {Assembly::panel_wise, -1, 1, 1});
        ASSERT_FALSE(col.stopped) << col.stop_lines[0];
        EXPECT_EQ(col.rhs[0].size(), std::size_t(n));
        EXPECT_EQ(col.rhs[1].size(), half ? std::size_t(n) : 0u);
        ASSERT_EQ(col.jou4.size(), std::size_t(n) * active);
        for (const auto& rec : col.jou4) ASSERT_EQ(rec.size(), (half ? 6u : 3u) * sizeof(float));
        std::vector<std::vector<std::byte>> interior;
        for (int p = 0; p < n; ++p)
            if (model.active[p])
                for (std::size_t k = 0; k < active; ++k) interior.push_back(col.jou4[p * active + k]);
        EXPECT_EQ(interior, row.jou4);

        const std::string labels[3] = {"time spent on panel integral:        ", "time spent on boundary condition:    ",
                                       "time spent on matrix factorization:  "};
        std::vector<std::string> timings;
        for (const std::string& line : col.listing)
            if (line.rfind(" time spent on ", 0) == 0) timings.push_back(line);
        ASSERT_EQ(timings.size(), 3u);
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(timings[k].rfind(" " + labels[k] + " ", 0), 0u) << timings[k];
            EXPECT_GE(std::stod(timings[k].substr(labels[k].size() + 2)), 0.0);
        }
    }
}

// The parallel panel loop adds every column block in panel order: the files are the same
// bytes whatever the thread count.  17 threads make blocks of 34 panels instead of 32 and
// share the 600 rows of the whole sphere out in two chunks; the half body exercises the
// antisymmetric system and getic2b's path.
TEST(seteqn1_journals, files_do_not_depend_on_the_thread_count)
{
#ifdef _OPENMP
    const int before = omp_get_max_threads();
    for (const auto& [model, infmeth, threads] : {std::tuple{sphere(8, false, 3.0), -1, 17},
                                                   std::tuple{sphere(4, true, 3.0), 0, 3}}) {
        omp_set_num_threads(1);
        const Journals one = run_case(model, {Assembly::panel_wise, infmeth, 1, -1, 5.0f});
        omp_set_num_threads(threads);
        const Journals many = run_case(model, {Assembly::panel_wise, infmeth, 1, -1, 5.0f});
        omp_set_num_threads(before);
        ASSERT_FALSE(one.stopped);
        EXPECT_EQ(one.rhs[0], many.rhs[0]);
        EXPECT_EQ(one.rhs[1], many.rhs[1]);
        EXPECT_EQ(one.jou2, many.jou2);
        EXPECT_EQ(one.jou4, many.jou4);
    }
#else
    GTEST_SKIP() << "built without OpenMP: one thread only";
#endif
}

// ---- the quadrature-based column against independent integrals -----------------------------

// The six density integrals of flat panel p (0-based) at the field point f, by brute force:
// 8 x 8 sub-squares of 4 x 4 Gauss points on the parallelogram in the panel's own plane
// (xi, eta about its reference point c), f expressed in the same frame.  Columns as vquadr's:
// sources of 1, xi, eta, xi^2, eta^2, xi eta, then dipoles  zeta_f / R^3  of the same.
std::array<double, 12> density_integrals(const PanelModel& m, int p, const std::array<double, 3>& f)
{
    static const double g[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563, 0.8611363115940526};
    static const double gw[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461, 0.3478548451374538};
    const float* R = &m.frame[9 * std::size_t(p)];
    const double d[3] = {f[0] - m.colloc[3 * p], f[1] - m.colloc[3 * p + 1], f[2] - m.colloc[3 * p + 2]};
    const double xf = R[0] * d[0] + R[3] * d[1] + R[6] * d[2];
    const double yf = R[1] * d[0] + R[4] * d[1] + R[7] * d[2];
    const double zf = R[2] * d[0] + R[5] * d[1] + R[8] * d[2];
    // Local corners P1..P4 (stored order); P3 = (0, 0), P2 = (1, 0), P1 = (1, 1), P4 = (0, 1)
    // of the unit square, bilinear (affine for a parallelogram).
    const float* xi = &m.xi[4 * std::size_t(p)];
    const float* eta = &m.eta[4 * std::size_t(p)];
    std::array<double, 12> out{};
    constexpr int kSub = 8;
    for (int ia = 0; ia < kSub; ++ia)
        for (int ib = 0; ib < kSub; ++ib)
            for (int qa = 0; qa < 4; ++qa)
                for (int qb = 0; qb < 4; ++qb) {
                    const double sg = (ia + 0.5 + 0.5 * g[qa]) / kSub, tg = (ib + 0.5 + 0.5 * g[qb]) / kSub;
                    auto at = [&](const float* v) {
                        return (1 - sg) * (1 - tg) * v[2] + sg * (1 - tg) * v[1] + sg * tg * v[0] + (1 - sg) * tg * v[3];
                    };
                    const double x = at(xi), y = at(eta);
                    const double xs = (1 - tg) * (xi[1] - xi[2]) + tg * (xi[0] - xi[3]);
                    const double ys = (1 - tg) * (eta[1] - eta[2]) + tg * (eta[0] - eta[3]);
                    const double xt = (1 - sg) * (xi[3] - xi[2]) + sg * (xi[0] - xi[1]);
                    const double yt = (1 - sg) * (eta[3] - eta[2]) + sg * (eta[0] - eta[1]);
                    const double w = gw[qa] * gw[qb] * 0.25 / (kSub * kSub) * std::abs(xs * yt - ys * xt);
                    const double r = std::sqrt((xf - x) * (xf - x) + (yf - y) * (yf - y) + zf * zf);
                    const double dens[6] = {1, x, y, x * x, y * y, x * y};
                    for (int k = 0; k < 6; ++k) {
                        out[k] += w * dens[k] / r;
                        out[6 + k] += w * dens[k] * zf / (r * r * r);
                    }
                }
    return out;
}

// A plane sheet, tilted against every axis, of parallelogram panels: every panel is flat, so
// vquadr's flat panel is the panel itself.  The quadrature column of each panel, direct and
// bottom image, sum and difference of the y-mirror, matches the six density integrals at the
// true field points: x_j, its bottom image (x, y, -z - 2h), and their y-mirrors.  The bottom
// lies close under the sheet, so image points fall in all three regimes.  The own row of the
// direct pass (singular) is left to the kernel's own tests.
// Tolerance, against the largest value of each column: the brute-force rule is good to 1e-7
// even for the neighbour panels (the nearest sub-square is 4 sub-square widths away); the
// far expansion stops after the second-order moments, an error of (size / r)^3 <= 150^-1.5 =
// 5e-4 of the local value at r^2 = 150 S, which is below the column's largest: 1e-3.
// The adaptive getic2a column of the constant density is the third witness.
TEST(seteqn1_influence, quadrature_columns_are_the_panel_and_its_bottom_image)
{
    mt::Sheet sheet;
    sheet.np1 = 5;
    sheet.np2 = 4;
    sheet.kind = mt::kKindBody;
    sheet.flag = 1;
    const mt::Vec3 origin{-1.0, 0.05, -0.6}, u{0.42, 0.08, -0.12}, v{0.15, 0.36, 0.21};
    for (int b = 0; b <= sheet.np2; ++b)
        for (int a = 0; a <= sheet.np1; ++a) sheet.nodes.push_back(origin + double(a) * u + double(b) * v);
    const PanelModel model = panel_model_from({sheet}, 1);
    const int n = model.n_panels;
    const double h = 1.6;   // the sheet spans z = -1.2 .. 0.24
    for (const auto& [pass, depth] : {std::pair{ColumnPass::direct, -1.0f}, std::pair{ColumnPass::bottom_image, float(h)}}) {
        const ColumnInfluenceRoutine quadrature = routine(model, -1, depth);
        const ColumnInfluenceRoutine adaptive = routine(model, 3, depth);
        for (const int p : active_panel_numbers(model)) {
            const int i = to_panel_index(p);
            ColumnInfluenceArrays q(n), g(n);
            quadrature.fill(p, pass, q);
            adaptive.fill(p, pass, g);
            std::vector<std::array<double, 12>> sum(n), diff(n);
            for (int j = 0; j < n; ++j) {
                if (!model.active[j] || (j == i && pass == ColumnPass::direct)) continue;
                std::array<double, 3> f = {model.colloc[3 * j], model.colloc[3 * j + 1], model.colloc[3 * j + 2]};
                if (pass == ColumnPass::bottom_image) f[2] = -f[2] - 2.0 * h;
                const auto direct = density_integrals(model, i, f);
                const auto mirror = density_integrals(model, i, {f[0], -f[1], f[2]});
                for (int k = 0; k < 12; ++k) {
                    sum[j][k] = direct[k] + mirror[k];
                    diff[j][k] = direct[k] - mirror[k];
                }
            }
            for (int k = 0; k < 12; ++k)
                for (const auto& [mine, adaptive_column, truth, what] :
                     {std::tuple{&q.panel_sum, &g.panel_sum, &sum, "sum"},
                      std::tuple{&q.panel_diff, &g.panel_diff, &diff, "difference"}}) {
                    double scale = 0, worst = 0;
                    for (int j = 0; j < n; ++j) {
                        if (!model.active[j] || (j == i && pass == ColumnPass::direct)) continue;
                        const double t = (*truth)[j][k];
                        const std::size_t at = j + std::size_t(k) * n;
                        scale = std::max(scale, std::abs(t));
                        worst = std::max(worst, std::abs((*mine)[at] - t));
                        if (k == 0 || k == 6)   // constant density: getic2a integrates it too
                            worst = std::max(worst, std::abs((*adaptive_column)[at] - t));
                    }
                    EXPECT_LT(worst, 1e-3 * scale) << what << " column " << k + 1 << " panel " << p
                                                   << (pass == ColumnPass::direct ? " direct" : " image");
                }
        }
    }
}

// ---- the journals as the solver's Fortran reads them --------------------------------------

const char* kJournalReader = R"(program read_journals
  implicit none
  integer :: n, nsys, infinvs, s, r, i, j, ios, bad, nrec, k
  real, allocatable :: row(:), a(:, :)
  integer, allocatable :: ipiv(:)
  integer(4) :: lead, trail
  integer(8) :: pos
  integer :: sizes(4)
  double precision :: total
  character(len=8) :: names(2) = ['s.jou1  ', 's.jou1a ']
  open(20, file='case.txt', status='old')
  read(20, *) n, nsys, infinvs
  close(20)
  allocate(row(n), a(n, n), ipiv(n))
  bad = 0
  do s = 1, nsys
    open(21, file=trim(names(s)), form='unformatted', access='sequential', status='old')
    total = 0d0
    do r = 1, n
      read(21) row
      do j = 1, n
        total = total + dble(row(j)) * dble(r + 3 * j)
      end do
    end do
    read(21, iostat=ios) row(1)
    if (ios >= 0) bad = bad + 1
    close(21)
    ! every record framed by two 4-byte counts of 4 n bytes
    open(22, file=trim(names(s)), access='stream', form='unformatted', status='old')
    do r = 1, n
      pos = 1_8 + int(r - 1, 8) * int(4 * n + 8, 8)
      read(22, pos=pos) lead
      read(22, pos=pos + 4 + 4 * n) trail
      if (lead /= 4 * n .or. trail /= 4 * n) bad = bad + 1
    end do
    close(22)
    write(*, '(a, i1, a, es25.17)') 'rhs ', s, ' ', total
  end do
  open(23, file='s.jou2', form='unformatted', access='sequential', status='old')
  do s = 1, nsys
    read(23) a
    total = 0d0
    do j = 1, n
      do i = 1, n
        total = total + dble(a(i, j)) * dble(i + 3 * j)
      end do
    end do
    write(*, '(a, i1, a, es25.17)') 'jou2 ', s, ' ', total
    if (infinvs > 0) then
      read(23) ipiv
      if (any(ipiv < 1) .or. any(ipiv > n)) bad = bad + 1
      write(*, '(a, i1, a, i0)') 'ipiv ', s, ' ', sum(ipiv)
    end if
  end do
  read(23, iostat=ios) a(1, 1)
  if (ios >= 0) bad = bad + 1
  close(23)
  ! .jou2 framing: per system the matrix (4 n^2 bytes), then with LU factors the pivots (4 n)
  nrec = 0
  do s = 1, nsys
    nrec = nrec + 1
    sizes(nrec) = 4 * n * n
    if (infinvs > 0) then
      nrec = nrec + 1
      sizes(nrec) = 4 * n
    end if
  end do
  open(24, file='s.jou2', access='stream', form='unformatted', status='old')
  pos = 1
  do k = 1, nrec
    read(24, pos=pos) lead
    read(24, pos=pos + 4 + sizes(k)) trail
    if (lead /= sizes(k) .or. trail /= sizes(k)) bad = bad + 1
    pos = pos + 8 + sizes(k)
  end do
  close(24)
  write(*, '(a, i0)') 'bad ', bad
end program
)";

// gfortran reads .jou1, .jou1a and .jou2 with the record lengths of the system: N records of
// N reals per right-hand-side file, and per system the N x N matrix (then the N pivots with
// LU factors).  It checks the framing byte counts itself and prints weighted sums, which must
// be those of our own reading (the same sums of the same doubles in the same order).
TEST(seteqn1_journals, gfortran_reads_the_records_with_their_lengths)
{
    const PanelModel model = sphere(4, true);
    const int n = model.n_panels;
    for (const int infinvs : {1, -1}) {
        TempDir dir("seteqn1_fortran");
        const Journals j = run_case_in(dir, model, {Assembly::panel_wise, -1, 1, infinvs});
        ASSERT_FALSE(j.stopped);
        write_text(dir.file("case.txt"), std::to_string(n) + " 2 " + std::to_string(infinvs) + "\n");
        const FortranRun run = compile_and_run_fortran(dir, kJournalReader);
        ASSERT_EQ(run.exit_code, 0) << run.output;
        std::istringstream out(run.output);
        std::map<std::string, std::string> printed;
        for (std::string key, index, value; out >> key >> index;) {
            if (key == "bad") {
                printed[key] = index;
                continue;
            }
            out >> value;
            printed[key + index] = value;
        }
        EXPECT_EQ(printed["bad"], "0") << run.output;
        const std::size_t per_system = infinvs > 0 ? 2 : 1;
        ASSERT_EQ(j.jou2.size(), 2 * per_system);
        for (int s = 0; s < 2; ++s) {
            double rhs = 0;
            for (int r = 0; r < n; ++r)
                for (int c = 0; c < n; ++c) rhs += double(j.rhs[s][r][c]) * double((r + 1) + 3 * (c + 1));
            const std::vector<float> a = record_floats(j.jou2[per_system * s]);
            double mat = 0;
            for (int c = 0; c < n; ++c)
                for (int r = 0; r < n; ++r) mat += double(a[r + std::size_t(c) * n]) * double((r + 1) + 3 * (c + 1));
            const std::string sys = std::to_string(s + 1);
            ASSERT_TRUE(printed.count("rhs" + sys) && printed.count("jou2" + sys)) << run.output;
            // %es25.17 prints the double to its last bit; the two sums are the same operations.
            EXPECT_NEAR(std::stod(printed["rhs" + sys]), rhs, 1e-14 * std::abs(rhs) + 1e-300);
            EXPECT_NEAR(std::stod(printed["jou2" + sys]), mat, 1e-14 * std::abs(mat) + 1e-300);
            if (infinvs > 0) {
                std::vector<int> ipiv(n);
                std::memcpy(ipiv.data(), j.jou2[per_system * s + 1].data(), n * sizeof(int));
                long long sum = 0;
                for (const int v : ipiv) sum += v;
                EXPECT_EQ(printed["ipiv" + sys], std::to_string(sum));
            }
        }
    }
}

}  // namespace
