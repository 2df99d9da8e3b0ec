// Basis-flow integrals, checked against truths computed another way: the closed-form
// potential and gradient of a flat polygon (the source kernel, an edge-by-edge formula), the
// classic value 4 a ln(1 + sqrt 2) of a square seen from its centre, the jump of a single
// layer's normal derivative, and the exact cancellations of the wall and symmetry images.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "integrals/basis_flow_integrals.hpp"
#include "integrals/panel_integrals.hpp"
#include "integrals/source_kernel.hpp"
#include "mesh/panel_geometry.hpp"
#include "support/panel_models.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

using namespace torva;

// Stored corner record (x1..x4, y1..y4, z1..z4) of four corners given in stored order.
std::array<float, 12> record_of(const std::array<Vec3d, 4>& p)
{
    std::array<float, 12> r{};
    for (int k = 0; k < 12; ++k) r[k] = static_cast<float>(p[k % 4][k / 4]);
    return r;
}

// A trapezoid tilted about the x and y axes, so that no component of anything vanishes.
std::array<float, 12> tilted_trapezoid(const Vec3d& centre)
{
    const std::array<std::array<double, 2>, 4> local = {{{0.55, 0.35}, {0.45, -0.3}, {-0.5, -0.4}, {-0.4, 0.45}}};
    const double a = 0.4, b = -0.3;   // rotations about x, then y
    std::array<Vec3d, 4> p;
    for (int k = 0; k < 4; ++k) {
        const double x = local[k][0], y = local[k][1];
        const double y1 = std::cos(a) * y, z1 = std::sin(a) * y;
        const double x2 = std::cos(b) * x + std::sin(b) * z1, z2 = -std::sin(b) * x + std::cos(b) * z1;
        p[k] = {centre[0] + x2, centre[1] + y1, centre[2] + z2};
    }
    return record_of(p);
}

// The source kernel's view of the same flat panel (closed form near it).
KernelPanel kernel_of(const std::array<float, 12>& corners)
{
    const PanelGeometry g = panel_geometry(std::span<const float, 12>(corners));
    KernelPanel k{g.frame, g.xi, g.eta, g.colloc, g.sides, {}, g.moments[0]};
    constexpr int kKept[13] = {0, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    for (int m = 0; m < 13; ++m) k.moments[m] = g.moments[kKept[m]];
    return k;
}

// Panel tables of a few hand-made panels, as the builders read them.
struct Tables {
    std::vector<float> corners, colloc, frame, sides;
    void add(const std::array<float, 12>& record)
    {
        const PanelGeometry g = panel_geometry(std::span<const float, 12>(record));
        corners.insert(corners.end(), record.begin(), record.end());
        colloc.insert(colloc.end(), g.colloc.begin(), g.colloc.end());
        frame.insert(frame.end(), g.frame.begin(), g.frame.end());
        sides.insert(sides.end(), g.sides.begin(), g.sides.end());
    }
    [[nodiscard]] BasisFlowGeometry geometry() const { return {corners, colloc, frame, sides}; }
};

double norm3(const std::array<float, 3>& v)
{
    return std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
}

TEST(basis_flow_images, cover_the_reflections_in_both_walls_and_nothing_else)
{
    // Without a bottom (depth <= 0) N_KERNEL adds nothing.
    EXPECT_EQ(basis_flow_images(0, 0, -1.0).size(), 2u);
    EXPECT_EQ(basis_flow_images(1, 0, -1.0).size(), 4u);
    EXPECT_EQ(basis_flow_images(0, 3, -1.0).size(), 2u);
    EXPECT_EQ(basis_flow_images(0, 3, 0.0).size(), 2u);
    // A source at z0 between z = 0 and z = -h has its images at +-z0 + 2 m h, |m| <= K; seen
    // from the field point, F_z -> q_z F_z + shift.  The first image is the direct point;
    // with symmetry the second half repeats the first mirrored in y = 0.
    const double h = 3.0;
    const auto images = basis_flow_images(1, 2, h);
    ASSERT_EQ(images.size(), 20u);
    std::vector<std::array<double, 3>> got, want;
    for (const auto& im : images) got.push_back({im.y_sign, im.z_sign, im.z_shift});
    for (const double y : {1.0, -1.0})
        for (int m = -2; m <= 2; ++m)
            for (const double q : {1.0, -1.0}) want.push_back({y, q, 2.0 * m * h});
    EXPECT_EQ(got[0], (std::array<double, 3>{1.0, 1.0, 0.0}));
    for (std::size_t k = 0; k < 10; ++k)
        EXPECT_EQ(got[k + 10], (std::array<double, 3>{-1.0, got[k][1], got[k][2]}));
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

// The adaptive integrals of a flat panel against the closed-form polygon kernel: a different
// method entirely.  The integrals are accurate to their relative tolerance 1e-4 (the
// two-rule estimate is conservative for these smooth integrands) and the kernel to float
// rounding, a few 1e-7; 5e-4 of the magnitude leaves room for both.
TEST(basis_flow_integrals, drivers_match_the_closed_form_flat_panel)
{
    const auto corners = tilted_trapezoid({0.3, -0.2, -2.0});
    const auto [p1, p2, p3, p4] = integration_corners(corners);
    const BilinearPanel panel = make_bilinear_panel(p1, p2, p3, p4);
    const KernelPanel kernel = kernel_of(corners);
    const Vec3d n = vec3::scale(vec3::cross(panel.a, panel.b), 1.0 / vec3::norm(vec3::cross(panel.a, panel.b)));
    const std::vector<Vec3d> points = {
        vec3::add(panel.c, vec3::scale(n, 0.05)),           // just off the centre
        vec3::add(panel.point(0.45, -0.1), vec3::scale(n, -0.08)),   // below, near an edge
        {1.1, 0.4, -1.6},                                    // about a panel size away
        {2.5, -2.0, -4.0},                                   // 3.5 panel sizes away
    };
    const Vec3d direction = {0.48, -0.6, 0.64};
    for (const Vec3d& f : points) {
        // Keep to the kernel's closed-form regime: its far-field expansion is about the
        // corner mean, which for a trapezoid is not the area centroid.
        const Vec3d offset = vec3::sub(f, panel.c);
        ASSERT_EQ(kernel_regime(static_cast<float>(vec3::dot(offset, offset)), kernel.area), KernelRegime::near);
        const SourceKernelResult k = source_kernel(
            {static_cast<float>(f[0]), static_cast<float>(f[1]), static_cast<float>(f[2])}, 0, kernel, 1);
        const PotentialVelocityIntegrals q = potential_velocity_integrals(kBasisFlowNearMethod, f, panel);
        EXPECT_EQ(q.error_flag, 0);
        EXPECT_NEAR(q.values[0], k.phi_s, 5.0e-4 * std::fabs(k.phi_s));
        const double grad_scale = norm3(k.grad_phi_s);
        for (int c = 0; c < 3; ++c)   // the velocity integrals are minus the gradient
            EXPECT_NEAR(-q.values[c + 1], k.grad_phi_s[c], 5.0e-4 * grad_scale);
        const DirectedVelocityIntegral d = directed_velocity_integral(kBasisFlowNearMethod, f, direction, panel);
        EXPECT_EQ(d.error_flag, 0);
        const double v_dot_grad = direction[0] * k.grad_phi_s[0] + direction[1] * k.grad_phi_s[1] + direction[2] * k.grad_phi_s[2];
        EXPECT_NEAR(-d.value, v_dot_grad, 5.0e-4 * grad_scale);
    }
}

// The matrix of two panels: off-diagonal elements are n_j . grad G_i at c_j with the surface
// image (closed form, 5e-4), the diagonal is 2 pi minus the image term (a flat panel's own
// principal value along its normal is 0), computed here by the adaptive driver at the image
// of the centre (the matrix uses a class rule there: 1e-5 of the value covers both), and
// the right-hand side is weight n_x - q.
TEST(basis_flow_matrix, elements_are_normal_velocities_with_the_free_term_on_the_diagonal)
{
    Tables t;
    t.add(tilted_trapezoid({0.0, 0.0, -0.8}));
    // A square of side 0.6 in z = -0.5, stored so that its normal is +z.
    t.add(record_of({Vec3d{1.5, 0.3, -0.5}, Vec3d{1.5, -0.3, -0.5}, Vec3d{0.9, -0.3, -0.5}, Vec3d{0.9, 0.3, -0.5}}));
    const std::vector<int> list = {1, 2};
    const std::vector<float> weight = {0.5f, 2.0f};
    const std::vector<float> flux = {0.0f, 0.25f};
    std::vector<float> matrix(4, 99.0f), vector(2, 99.0f);
    std::vector<int> l0(2), l1(2), l2(2), l3(2);
    int lines = 0;
    const int failures = basis_flow_matrix(t.geometry(), [&](std::string_view) { ++lines; }, 0, weight, flux, 2,
                                           list, matrix, vector, {l0, l1, l2, l3}, 0, -1.0f);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(lines, 0);

    for (int i = 0; i < 2; ++i) {
        std::array<float, 12> rec;
        std::copy_n(t.corners.begin() + 12 * i, 12, rec.begin());
        const BasisFlowSource src = basis_flow_source(rec, panel_geometry(std::span<const float, 12>(rec)).sides);
        // Right-hand side (2 pi-free): weight n_x - q.
        EXPECT_FLOAT_EQ(vector[i],
                        static_cast<float>(weight[i] * src.unit_normal[0] - flux[i]));
        const int j = 1 - i;
        const Vec3d nj = {t.frame[9 * j + 2], t.frame[9 * j + 5], t.frame[9 * j + 8]};
        const KernelPanel kp = kernel_of(rec);
        double want = 0.0;
        for (const double zs : {1.0, -1.0}) {
            const SourceKernelResult r =
                source_kernel({t.colloc[3 * j], t.colloc[3 * j + 1], static_cast<float>(zs * t.colloc[3 * j + 2])}, 0, kp, 1);
            want += nj[0] * r.grad_phi_s[0] + nj[1] * r.grad_phi_s[1] + zs * nj[2] * r.grad_phi_s[2];
        }
        EXPECT_NEAR(matrix[j + 2 * i], want, 5.0e-4 * norm3(source_kernel(
            {t.colloc[3 * j], t.colloc[3 * j + 1], t.colloc[3 * j + 2]}, 0, kp, 1).grad_phi_s)) << "a(" << j << "," << i << ")";

        const Vec3d ni = {t.frame[9 * i + 2], t.frame[9 * i + 5], t.frame[9 * i + 8]};
        const FieldImage surface{1.0, -1.0, 0.0};
        const DirectedVelocityIntegral image = directed_velocity_integral(
            kBasisFlowNearMethod, image_point(surface, src.panel.c), image_direction(surface, ni), src.panel);
        EXPECT_NEAR(matrix[3 * i], kBasisFlowFreeTerm - image.value,
                    1.0e-5 * std::fabs(image.value) + 1.0e-6) << "a(" << i << "," << i << ")";
        EXPECT_NE(image.value, 0.0);
    }
}

// ---- the parallel builders ------------------------------------------------------------------

// The box hull of torva-mesh, x in [-1, 1], |y| <= 0.01, z in [-1, 0], 12 x 6 panels on each
// side, 12 x 2 on the bottom, 2 x 6 on each end, normals into the body: a fin, whose two
// sides face each other across 0.02, which puts collocation points of one side in every
// distance class of the panels of the other.  Two doubler plates (squares of side 1/6 in
// y = +-(0.01 + 1e-6)) overlap side panels and see their centres too close for the adaptive
// integrator's tolerance, so there are failures to count too.
Tables fin_with_doublers()
{
    const PanelModel m = torva::testing::panel_model_from(mesh_tool::box_hull({2.0, 0.02, 1.0, 12, 2, 6}, false), 0);
    Tables tables;
    for (int i = 0; i < m.n_panels; ++i) {
        std::array<float, 12> rec;
        std::copy_n(m.corners.begin() + 12 * i, 12, rec.begin());
        if (m.active[i] != 0) tables.add(rec);
    }
    for (const auto& [x0, y0, z0] : {std::array<double, 3>{-0.55, 0.01 + 1.0e-6, -0.6}, {0.23, -0.01 - 1.0e-6, -0.45}}) {
        const double h = 1.0 / 6.0;
        tables.add(record_of({Vec3d{x0, y0, z0}, Vec3d{x0 + h, y0, z0}, Vec3d{x0 + h, y0, z0 + h}, Vec3d{x0, y0, z0 + h}}));
    }
    return tables;
}

struct BuilderRun {
    std::array<std::vector<float>, 6> out;   // matrix, right-hand side, phi, u, v, w
    int matrix_failures = 0, matrix_lines = 0, field_failures = 0, field_lines = 0;
};

// The matrix and right-hand side, then the flow of the sources b(i) (any strengths serve)
// at the collocation points and at `extra` field points, with a bottom of one image pair.
BuilderRun run_builders(const Tables& t, const std::vector<float>& extra)
{
    BuilderRun r;
    auto& [matrix, vector, phi, u, v, w] = r.out;
    const int n = static_cast<int>(t.sides.size() / 4);
    std::vector<int> list(n);
    for (int i = 0; i < n; ++i) list[i] = i + 1;
    matrix.assign(n * n, 0.0f);
    vector.assign(n, 0.0f);
    std::array<std::vector<int>, 4> lists;
    for (auto& l : lists) l.assign(n, 0);
    r.matrix_failures = basis_flow_matrix(t.geometry(), [&](std::string_view line) {
        r.matrix_lines += line == kBasisFlowMatrixFailLine; }, 0, std::vector<float>(n, 1.0f), {}, n, list, matrix,
        vector, {lists[0], lists[1], lists[2], lists[3]}, 1, 2.5f);
    std::vector<float> points = t.colloc;
    points.insert(points.end(), extra.begin(), extra.end());
    const int np = static_cast<int>(points.size() / 3);
    for (auto* a : {&phi, &u, &v, &w}) a->assign(np, 0.0f);
    r.field_failures = fstgrd1(t.geometry(), [&](std::string_view line) {
        r.field_lines += line == kBasisFlowIntegralFailLine; }, points, np, list, vector, phi, u, v, w, 0, 1, 2.5f);
    return r;
}

// Columns and blocks of field points go to separate threads; each element is still the same
// sum, so the matrix, the right-hand side, the field and the failure counts are the same bits
// for 1 and 3 threads (that the sums are the right ones is held by the closed-form tests above
// and the sphere flows of basefl_test.cpp).  The fin gives 194 columns and 253 field points
// (four blocks with 1 thread, eight with 3).
TEST(basis_flow_parallel, results_are_the_same_bits_whatever_the_thread_count)
{
    const Tables t = fin_with_doublers();
    const int n = static_cast<int>(t.sides.size() / 4);
    ASSERT_EQ(n, 194);
    // The test is only as strong as its mix of work: every class occurs among the columns.
    std::array<int, 5> class_count{};
    for (int i = 0; i < n; ++i) {
        const BasisFlowSource src = basis_flow_source(std::span(t.corners).subspan(12 * i, 12),
                                                      std::span(t.sides).subspan(4 * i, 4));
        for (int j = 0; j < n; ++j)
            if (j != i)
                ++class_count[distance_class(reference_distance(src.refs, {t.colloc[3 * j], t.colloc[3 * j + 1],
                                                                           t.colloc[3 * j + 2]}), src.size)];
    }
    for (int c = 0; c < 5; ++c) EXPECT_GT(class_count[c], 0) << "class " << c;

    // Field points off the hull along the fin: 1e-6 off a side (failures again), 3e-3 off
    // it, and further out.
    std::vector<float> extra;
    for (int k = 0; k < 59; ++k)
        extra.insert(extra.end(), {-1.1f + 2.2f * static_cast<float>(k) / 58.0f,
                                   std::array<float, 3>{0.010001f, 0.013f, 0.4f}[k % 3], -0.37f - 0.01f * (k % 5)});
#ifdef _OPENMP
    const int before = omp_get_max_threads();
    omp_set_num_threads(1);
    const BuilderRun one = run_builders(t, extra);
    omp_set_num_threads(3);
    const BuilderRun three = run_builders(t, extra);
    omp_set_num_threads(before);
#else
    const BuilderRun one = run_builders(t, extra), three = one;
#endif
    ASSERT_EQ(one.out[2].size(), 253u);
    // The doublers and the points beside the sides make failures to count, one line each.
    EXPECT_GT(one.matrix_failures, 0);
    EXPECT_GT(one.field_failures, 0);
    for (const BuilderRun* r : {&one, &three}) {
        EXPECT_EQ(r->matrix_lines, r->matrix_failures);
        EXPECT_EQ(r->field_lines, r->field_failures);
    }
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(std::memcmp(three.out[k].data(), one.out[k].data(), one.out[k].size() * sizeof(float)), 0) << k;
    EXPECT_EQ(three.matrix_failures, one.matrix_failures);
    EXPECT_EQ(three.field_failures, one.field_failures);
}

}  // namespace
