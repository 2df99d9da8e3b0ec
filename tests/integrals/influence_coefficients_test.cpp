// The influence operations on whole meshes: solid-angle identities of a closed surface,
// images, symmetry, inactive panels, the node gathering of getic2 against the columns of
// getic2a, getic2b against getic2a, and the failure paths.
#include "integrals/influence_coefficients.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "support/ellipsoid_added_mass.hpp"
#include "support/panel_models.hpp"

namespace torva {
namespace {

constexpr double kPi = std::numbers::pi;
// Accuracy of one adaptive panel integral against the truth: the rules stop at tol = 1e-4
// of the value and near singular points the accepted value errs by about as much again
// (integrators_2d_test), so three tol of the integral of the absolute integrand.
constexpr double kRuleAccuracy = 3.0e-4;

// ---- panel models -------------------------------------------------------------------------

// Panel models as a run reads them: padded sheets with their ghost rings and 3 x 3 node
// tables.  One sheet over the nodes node(a, b), a = 0..np1, b = 0..np2.
PanelModel sheet_model(int np1, int np2, const std::function<mesh_tool::Vec3(int, int)>& node)
{
    return testing::panel_model_from({mesh_tool::make_sheet(np1, np2, mesh_tool::kKindBody, node)}, 0);
}

// Flat 2 x 2 sheets of unit squares over [0.5, 2.5] x [1.5, 3.5] at the heights z: panel
// 6 + 16 k is the square [0.5, 1.5] x [1.5, 2.5] of sheet k.
PanelModel squares_at(std::initializer_list<double> heights)
{
    std::vector<mesh_tool::Sheet> sheets;
    for (const double z : heights)
        sheets.push_back(mesh_tool::make_sheet(2, 2, mesh_tool::kKindBody,
                                               [z](int a, int b) { return mesh_tool::Vec3{0.5 + a, 1.5 + b, z}; }));
    return testing::panel_model_from(sheets, 0);
}

// Result arrays of one operation.
struct Arrays {
    std::vector<float> psum, wsum, pdiff, wdiff;   // wsum / wdiff: node arrays for getic2
    Arrays(int n, int weighted_columns, float fill = 0.0f)
        : psum(n * 12, fill), wsum(n * weighted_columns, fill), pdiff(n * 12, fill), wdiff(n * weighted_columns, fill) {}
};
float at(const std::vector<float>& a, int n, int row, int column) { return a[row + (column - 1) * n]; }

Arrays run_getic2(const PanelModel& m, int symmetry, int method, int own, std::array<float, 3> f)
{
    Arrays r(m.n_panels, 12);
    EXPECT_FALSE(getic2(m, symmetry, method, own, f, m.n_panels, r.psum, r.wsum, r.pdiff, r.wdiff));
    return r;
}

Arrays run_getic2a(const PanelModel& m, int symmetry, int method, int panel, float depth)
{
    Arrays r(m.n_panels, 18);
    EXPECT_FALSE(getic2a(m, symmetry, method, panel, m.n_panels, r.psum, r.wsum, r.pdiff, r.wdiff, depth));
    return r;
}

struct Getic2bRun {
    Arrays arrays;
    std::array<std::vector<int>, 4> lists;
    int failures = 0;
};

Getic2bRun run_getic2b(const PanelModel& m, int symmetry, int panel, float depth,
                       const DiagnosticSink& sink = {})
{
    const int n = m.n_panels;
    Getic2bRun run{Arrays(n, 18, std::nanf("")), {}, 0};
    std::array<std::span<int>, 4> lists;
    for (int c = 0; c < 4; ++c) lists[c] = run.lists[c] = std::vector<int>(n, 0);
    run.failures = getic2b(panel_tables(m), sink, symmetry, panel, n, lists, run.arrays.psum,
                           run.arrays.wsum, run.arrays.pdiff, run.arrays.wdiff, depth);
    return run;
}

std::array<float, 3> colloc_of(const PanelModel& m, int panel)
{
    const int i = to_panel_index(panel) * 3;
    return {m.colloc[i], m.colloc[i + 1], m.colloc[i + 2]};
}

double column_sum(const std::vector<float>& a, int n, int column, bool absolute = false)
{
    double s = 0.0;
    for (int row = 0; row < n; ++row)
        s += absolute ? std::fabs(at(a, n, row, column)) : at(a, n, row, column);
    return s;
}

// ---- getic2 -------------------------------------------------------------------------------

// For a closed surface the dipole integrals of all panels add up to the solid angle, its sign
// reversed for outward N: -2 pi at a smooth surface point (a panel's centre, with the
// own-panel rule), -4 pi inside, 0 outside.  The cubed sphere's normals point into the body,
// which the test reads off its own panel.  Each panel errs by up to kRuleAccuracy of its
// |value|, so the sum by kRuleAccuracy of the sum of |values|.  The nine pieces add up to
// 64 on every panel, so the node sums add up to 64 times as much.
TEST(getic2, closed_surface_dipole_row_gives_the_solid_angle)
{
    const PanelModel sphere = testing::ellipsoid_model({1.3, 1.3, {3, 3, 3}, 0.0});
    const int n = sphere.n_panels;
    int own = 30;
    while (sphere.active[to_panel_index(own)] == 0) ++own;
    const auto c = colloc_of(sphere, own);
    const float* nv = &sphere.frame[static_cast<std::size_t>(to_panel_index(own)) * 9];
    const double outward = nv[2] * c[0] + nv[5] * c[1] + nv[8] * c[2] > 0.0 ? 1.0 : -1.0;
    for (const int method : {1, 2, 3}) {
        const Arrays on = run_getic2(sphere, 0, method, own, c);
        const double budget = kRuleAccuracy * column_sum(on.psum, n, kDipoleColumn, true);
        EXPECT_NEAR(column_sum(on.psum, n, kDipoleColumn), -2.0 * kPi * outward, budget) << "method " << method;
        EXPECT_NEAR(column_sum(on.wsum, n, kDipoleColumn), -128.0 * kPi * outward, 64.0 * 2.0 * budget);
    }
    const Arrays inside = run_getic2(sphere, 0, 3, 0, {0.1f, -0.2f, 0.05f});
    EXPECT_NEAR(column_sum(inside.psum, n, kDipoleColumn), -4.0 * kPi * outward,
                kRuleAccuracy * column_sum(inside.psum, n, kDipoleColumn, true));
    const Arrays outside = run_getic2(sphere, 0, 3, 0, {2.0f, 0.7f, -0.4f});
    EXPECT_NEAR(column_sum(outside.psum, n, kDipoleColumn), 0.0,
                kRuleAccuracy * column_sum(outside.psum, n, kDipoleColumn, true));
    EXPECT_GT(column_sum(outside.psum, n, kDipoleColumn, true), 1.0);   // not trivially zero
}

// Method 2 cannot integrate at a panel's own centre unless the own-panel rule is used: a
// field point exactly at the centre of a panel that is not named as the own panel fails,
// and getic2 hands back the failure, whose report names the corners and the point.
TEST(getic2, failed_integral_is_returned_with_the_corner_report)
{
    const PanelModel m = squares_at({0.0});
    Arrays r(m.n_panels, 12);
    const auto row = getic2(m, 0, 2, 0, {1.0f, 2.0f, 0.0f}, m.n_panels, r.psum, r.wsum, r.pdiff, r.wdiff);
    ASSERT_TRUE(row);
    const std::vector<std::string> report = integration_failure_report(*row);
    ASSERT_EQ(report.size(), 6u);
    EXPECT_EQ(report[0], "ERROR: Error in panel integration detected in getic2:");
    EXPECT_EQ(report[1], "x1 =  0.5 1.5 0.0");
    EXPECT_EQ(report[4], "x4 =  0.5 2.5 0.0");
    EXPECT_EQ(report[5], "xf =  1.0 2.0 0.0");
    // Named as the own panel, the same point is integrated (method 2 becomes 3).
    EXPECT_FALSE(getic2(m, 0, 2, 6, {1.0f, 2.0f, 0.0f}, m.n_panels, r.psum, r.wsum, r.pdiff, r.wdiff));
    EXPECT_NEAR(at(r.psum, m.n_panels, 5, kSourceColumn), 4.0 * std::log(1.0 + std::sqrt(2.0)), kRuleAccuracy * 3.6);
}

// ---- getic2a ------------------------------------------------------------------------------

// getic2a's column i at row j and getic2's row j (F = collocation point j) at column i
// are the same integral; for i != j by the same rule at the same point, so bit for bit.
// getic2's node sums must equal the weighted columns gathered through the node table:
// node_sum_j(m) = sum over panels i and pieces k with node_k(i) = m of w_k-integral(i, j),
// up to the float rounding of the up to 9 x 9 additions (2^-24 each of the row's scale).
TEST(getic2a, columns_are_the_rows_of_getic2_and_gather_into_its_nodes)
{
    const PanelModel sheet = sheet_model(4, 3, [](int a, int b) {   // gently curved
        return mesh_tool::Vec3{0.4 * a, 0.5 + 0.35 * b, -0.6 + 0.05 * a * b - 0.03 * a * a};
    });
    const int n = sheet.n_panels;
    std::vector<Arrays> columns;
    for (int i = 1; i <= n; ++i)
        columns.push_back(run_getic2a(sheet, 0, 3, i, -1.0f));
    for (int j = 1; j <= n; ++j) {
        if (sheet.active[to_panel_index(j)] == 0)
            continue;
        const Arrays row = run_getic2(sheet, 0, 3, j, colloc_of(sheet, j));
        std::vector<double> gathered_source(n, 0.0), gathered_dipole(n, 0.0);
        double scale = 0.0;
        for (int i = 1; i <= n; ++i) {
            const int ii = to_panel_index(i), jj = to_panel_index(j);
            if (sheet.active[ii] == 0)
                continue;
            if (i != j) {
                EXPECT_EQ(at(columns[ii].psum, n, jj, kSourceColumn), at(row.psum, n, ii, kSourceColumn));
                EXPECT_EQ(at(columns[ii].psum, n, jj, kDipoleColumn), at(row.psum, n, ii, kDipoleColumn));
            }
            for (int k = 0; k < 9; ++k) {
                const int m = to_panel_index(sheet.node_table[ii * 9 + k]);
                gathered_source[m] += at(columns[ii].wsum, n, jj, 1 + k);
                gathered_dipole[m] += at(columns[ii].wsum, n, jj, 10 + k);
                scale = std::max(scale, std::fabs(double(at(columns[ii].wsum, n, jj, 1 + k))));
            }
        }
        // The own panel: getic2 integrates at the float collocation point, getic2a at the
        // double centre; they differ by ~1e-8 of the panel size, far below kRuleAccuracy.
        for (int m = 0; m < n; ++m) {
            EXPECT_NEAR(at(row.wsum, n, m, kSourceColumn), gathered_source[m], 1e-5 * scale + 81 * 0x1p-24 * scale);
            EXPECT_NEAR(at(row.wsum, n, m, kDipoleColumn), gathered_dipole[m], 1e-5 * scale + 81 * 0x1p-24 * scale);
        }
    }
}

// ---- getic2b ------------------------------------------------------------------------------

// The fixed point sets integrate polynomials over [-1, 1]^2 exactly: the squares are
// 4 x 4 Gauss rules (degree 7), and on the triangles the Jacobian rho makes a polynomial
// of degree p in (sigma, tau) one of degree p + 1 in rho, exact up to p = 6.
TEST(getic2b_rules, point_sets_integrate_polynomials_over_the_square)
{
    const auto exact = [](int p, int q) {
        const auto one = [](int e) { return e % 2 ? 0.0 : 2.0 / (e + 1); };
        return one(p) * one(q);
    };
    std::vector<std::span<const ParamPoint>> rules = {graded_own_panel_points()};
    for (int c = 1; c <= 4; ++c)
        rules.push_back(class_rule_points(c));
    EXPECT_EQ(graded_own_panel_points().size(), 512u);
    EXPECT_EQ(class_rule_points(1).size(), 1024u);
    EXPECT_EQ(class_rule_points(4).size(), 16u);
    for (const auto& rule : rules) {
        for (int p = 0; p <= 6; ++p)
            for (int q = 0; p + q <= 6; ++q) {
                double sum = 0.0;
                for (const ParamPoint& pt : rule)
                    sum += pt.weight * std::pow(pt.sigma, p) * std::pow(pt.tau, q);
                EXPECT_NEAR(sum, exact(p, q), 1e-13) << p << " " << q;
            }
    }
}

// getic2b must reproduce getic2a's column (direct + mirror with symmetry, plus the bottom
// image that getic2a gives as a separate column) within the accuracy of its fixed rules.
// The class rules are sized so that every sub-square is seen from at least ~1.6 of its
// half-side; the 4 x 4 Gauss error of 1/r there is below ~1e-3 of the sub-square's share,
// and only the few nearest sub-squares are that close: 1e-3 of the column's scale.
TEST(getic2b, agrees_with_getic2a_within_its_rule_accuracy)
{
    const PanelModel sheet = sheet_model(5, 4, [](int a, int b) {
        return mesh_tool::Vec3{0.3 * a, 0.2 + 0.3 * b + 0.02 * a * a, -0.8 + 0.04 * a * b - 0.02 * b * b};
    });
    const int n = sheet.n_panels;
    const float depth = 1.5f;
    for (const int panel : {9, 17, 26}) {
        ASSERT_EQ(sheet.active[to_panel_index(panel)], 1);
        const Getic2bRun b = run_getic2b(sheet, 1, panel, depth);
        EXPECT_EQ(b.failures, 0);
        const Arrays direct = run_getic2a(sheet, 1, 3, panel, -1.0f);
        const Arrays bottom = run_getic2a(sheet, 1, 3, panel, depth);
        const auto compare = [&](const std::vector<float>& got, const std::vector<float>& a1,
                                 const std::vector<float>& a2, int column) {
            double scale = 0.0;
            for (int row = 0; row < n; ++row)
                scale = std::max(scale, std::fabs(double(at(a1, n, row, column))));
            for (int row = 0; row < n; ++row) {
                const double expected = double(at(a1, n, row, column)) + at(a2, n, row, column);
                EXPECT_NEAR(at(got, n, row, column), expected, 1e-3 * scale)
                    << "panel " << panel << " row " << row << " column " << column;
            }
        };
        for (const int column : {kSourceColumn, kDipoleColumn}) {
            compare(b.arrays.psum, direct.psum, bottom.psum, column);
            compare(b.arrays.pdiff, direct.pdiff, bottom.pdiff, column);
        }
        for (int column = 1; column <= 18; ++column) {
            compare(b.arrays.wsum, direct.wsum, bottom.wsum, column);
            compare(b.arrays.wdiff, direct.wdiff, bottom.wdiff, column);
        }
        // Every class was used on this sheet, and the lists hold active points only.
        int listed = 0;
        for (int c = 0; c < 4; ++c)
            for (int m = 0; m < n && b.lists[c][m] != 0; ++m) {
                ++listed;
                EXPECT_NE(b.lists[c][m], panel);
                EXPECT_EQ(sheet.active[to_panel_index(b.lists[c][m])], 1);
            }
        EXPECT_GT(listed, 0);
    }
}

// A field point on the panel's own centre (a duplicate panel) makes the 5-point rule sample
// r = 0: the adaptive integrals fail, each failure sends the warning line to the sink, and
// the column is still produced.
TEST(getic2b, failures_are_reported_and_the_column_goes_on)
{
    const PanelModel m = squares_at({0.0, 0.0, 3.0});
    std::vector<std::string> lines;
    const Getic2bRun run = run_getic2b(m, 0, 6, -1.0f, [&lines](std::string_view line) { lines.emplace_back(line); });
    EXPECT_GT(run.failures, 0);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(run.failures));
    for (const auto& line : lines)
        EXPECT_EQ(line, " influence matrix fail in getic2b");
    EXPECT_GT(at(run.arrays.psum, m.n_panels, 37, kSourceColumn), 0.0f);   // the far panel's row was done
}

}  // namespace
}  // namespace torva
