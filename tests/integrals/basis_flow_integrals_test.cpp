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

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

using namespace torva;

// Stored corner record (x1..x4, y1..y4, z1..z4) of four corners given in stored order.
std::array<float, 12> record_of(const std::array<Vec3d, 4>& p)
{
    std::array<float, 12> r{};
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 3; ++c)
            r[static_cast<std::size_t>(4 * c + k)] = static_cast<float>(p[static_cast<std::size_t>(k)][static_cast<std::size_t>(c)]);
    return r;
}

// Axis-parallel square of side h in the plane z = z0 with lower corner (x0, y0); the stored
// order P1 = (x1, y1), P2 = (x1, y0), P3 = (x0, y0), P4 = (x0, y1) gives the normal +z.
std::array<float, 12> square(double x0, double y0, double z0, double h)
{
    return record_of({Vec3d{x0 + h, y0 + h, z0}, Vec3d{x0 + h, y0, z0}, Vec3d{x0, y0, z0}, Vec3d{x0, y0 + h, z0}});
}

// A trapezoid tilted about the x and y axes, so that no component of anything vanishes.
std::array<float, 12> tilted_trapezoid(const Vec3d& centre)
{
    const std::array<std::array<double, 2>, 4> local = {{{0.55, 0.35}, {0.45, -0.3}, {-0.5, -0.4}, {-0.4, 0.45}}};
    const double a = 0.4, b = -0.3;   // rotations about x, then y
    std::array<Vec3d, 4> p;
    for (int k = 0; k < 4; ++k) {
        const double x = local[static_cast<std::size_t>(k)][0], y = local[static_cast<std::size_t>(k)][1];
        const double y1 = std::cos(a) * y, z1 = std::sin(a) * y;
        const double x2 = std::cos(b) * x + std::sin(b) * z1, z2 = -std::sin(b) * x + std::cos(b) * z1;
        p[static_cast<std::size_t>(k)] = {centre[0] + x2, centre[1] + y1, centre[2] + z2};
    }
    return record_of(p);
}

// The source kernel's view of the same flat panel (closed form near it).
KernelPanel kernel_of(const std::array<float, 12>& corners)
{
    const PanelGeometry g = panel_geometry(std::span<const float, 12>(corners));
    KernelPanel k;
    k.frame = g.frame;
    k.xi = g.xi;
    k.eta = g.eta;
    k.centre = g.colloc;
    k.sides = g.sides;
    constexpr int kKept[13] = {0, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14};
    for (int m = 0; m < 13; ++m)
        k.moments[static_cast<std::size_t>(m)] = g.moments[static_cast<std::size_t>(kKept[m])];
    k.area = g.moments[0];
    return k;
}

BilinearPanel bilinear_of(const std::array<float, 12>& corners)
{
    const auto p = integration_corners(corners);
    return make_bilinear_panel(p[0], p[1], p[2], p[3]);
}

std::array<float, 4> sides_of(const std::array<float, 12>& corners)
{
    return panel_geometry(std::span<const float, 12>(corners)).sides;
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
    EXPECT_EQ(basis_flow_images(0, 0, -1.0).size(), 2u);
    EXPECT_EQ(basis_flow_images(1, 0, -1.0).size(), 4u);
    // N_KERNEL without a bottom (depth <= 0) adds nothing.
    EXPECT_EQ(basis_flow_images(0, 3, -1.0).size(), 2u);
    EXPECT_EQ(basis_flow_images(0, 3, 0.0).size(), 2u);

    // A source at z0 between z = 0 and z = -h has its images at +-z0 + 2 m h, |m| <= K;
    // seen from the field point, the image positions are F_z -> q_z F_z + shift.  Compare
    // the multiset of (q_z, shift) with that set for K = 2.
    const double h = 3.0;
    const auto images = basis_flow_images(0, 2, h);
    ASSERT_EQ(images.size(), 10u);
    std::vector<std::pair<double, double>> got, want;
    for (const auto& im : images) {
        EXPECT_EQ(im.y_sign, 1.0);
        got.push_back({im.z_sign, im.z_shift});
    }
    for (int m = -2; m <= 2; ++m) {
        want.push_back({1.0, 2.0 * m * h});
        want.push_back({-1.0, 2.0 * m * h});
    }
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    // The first image is the direct point itself.
    EXPECT_EQ(images[0].z_sign, 1.0);
    EXPECT_EQ(images[0].z_shift, 0.0);

    // With symmetry every one of them also appears mirrored in y = 0.
    const auto sym = basis_flow_images(1, 2, h);
    ASSERT_EQ(sym.size(), 20u);
    for (std::size_t k = 0; k < 10; ++k) {
        EXPECT_EQ(sym[k].y_sign, 1.0);
        EXPECT_EQ(sym[k + 10].y_sign, -1.0);
        EXPECT_EQ(sym[k + 10].z_sign, sym[k].z_sign);
        EXPECT_EQ(sym[k + 10].z_shift, sym[k].z_shift);
    }
}

// The adaptive integrals of a flat panel against the closed-form polygon kernel: a different
// method entirely.  The integrals are accurate to their relative tolerance 1e-4 (the
// two-rule estimate is conservative for these smooth integrands) and the kernel to float
// rounding, a few 1e-7; 5e-4 of the magnitude leaves room for both.
TEST(basis_flow_integrals, drivers_match_the_closed_form_flat_panel)
{
    const auto corners = tilted_trapezoid({0.3, -0.2, -2.0});
    const BilinearPanel panel = bilinear_of(corners);
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
        for (int c = 0; c < 3; ++c)   // the velocity integrals are minus the gradient, (2)
            EXPECT_NEAR(-q.values[static_cast<std::size_t>(c + 1)], k.grad_phi_s[static_cast<std::size_t>(c)], 5.0e-4 * grad_scale);
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
    t.add(square(0.9, -0.3, -0.5, 0.6));
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
        const BasisFlowSource src = basis_flow_source(rec, sides_of(rec));
        // Right-hand side (2 pi-free): weight n_x - q.
        EXPECT_FLOAT_EQ(vector[static_cast<std::size_t>(i)],
                        static_cast<float>(weight[static_cast<std::size_t>(i)] * src.unit_normal[0] - flux[static_cast<std::size_t>(i)]));
        const int j = 1 - i;
        const Vec3d nj = {t.frame[9 * j + 2], t.frame[9 * j + 5], t.frame[9 * j + 8]};
        const KernelPanel kp = kernel_of(rec);
        double want = 0.0;
        for (const double zs : {1.0, -1.0}) {
            const SourceKernelResult r =
                source_kernel({t.colloc[3 * j], t.colloc[3 * j + 1], static_cast<float>(zs * t.colloc[3 * j + 2])}, 0, kp, 1);
            want += nj[0] * r.grad_phi_s[0] + nj[1] * r.grad_phi_s[1] + zs * nj[2] * r.grad_phi_s[2];
        }
        EXPECT_NEAR(matrix[static_cast<std::size_t>(j + 2 * i)], want, 5.0e-4 * norm3(source_kernel(
            {t.colloc[3 * j], t.colloc[3 * j + 1], t.colloc[3 * j + 2]}, 0, kp, 1).grad_phi_s)) << "a(" << j << "," << i << ")";

        const Vec3d ni = {t.frame[9 * i + 2], t.frame[9 * i + 5], t.frame[9 * i + 8]};
        const FieldImage surface{1.0, -1.0, 0.0};
        const DirectedVelocityIntegral image = directed_velocity_integral(
            kBasisFlowNearMethod, image_point(surface, src.panel.c), image_direction(surface, ni), src.panel);
        EXPECT_NEAR(matrix[static_cast<std::size_t>(3 * i)], kBasisFlowFreeTerm - image.value,
                    1.0e-5 * std::fabs(image.value) + 1.0e-6) << "a(" << i << "," << i << ")";
        EXPECT_NE(image.value, 0.0);
    }
}

// ---- the parallel builders ------------------------------------------------------------------

// A box hull x in [-1, 1], y in [-t/2, t/2], z in [-1, 0]: nx x nz panels on each side, one
// row of nx on the bottom, nz on each end, normals into the body.  A thin box is a fin: the
// two sides' panels face each other across t, which puts collocation points of one side in
// every distance class of the panels of the other, down to the adaptive class for t small
// beside the panel size.
Tables box_hull(double t, int nx, int nz)
{
    Tables tables;
    const double hx = 2.0 / nx, hz = 1.0 / nz, y0 = -0.5 * t;
    // Four corners in cyclic order, stored so that the panel's normal has a positive
    // component along `inward`.
    const auto add = [&](const std::array<Vec3d, 4>& p, const Vec3d& inward) {
        std::array<float, 12> rec = record_of(p);
        const PanelGeometry g = panel_geometry(std::span<const float, 12>(rec));
        if (g.frame[2] * inward[0] + g.frame[5] * inward[1] + g.frame[8] * inward[2] < 0.0)
            rec = record_of({p[0], p[3], p[2], p[1]});
        tables.add(rec);
    };
    for (int i = 0; i < nx; ++i) {
        const double xa = -1.0 + i * hx, xb = xa + hx;
        for (int k = 0; k < nz; ++k) {
            const double za = -1.0 + k * hz, zb = za + hz;
            for (const double y : {y0, -y0})
                add({Vec3d{xa, y, za}, Vec3d{xb, y, za}, Vec3d{xb, y, zb}, Vec3d{xa, y, zb}}, {0.0, -y, 0.0});
        }
        add({Vec3d{xa, y0, -1.0}, Vec3d{xb, y0, -1.0}, Vec3d{xb, -y0, -1.0}, Vec3d{xa, -y0, -1.0}}, {0.0, 0.0, 1.0});
    }
    for (int k = 0; k < nz; ++k) {
        const double za = -1.0 + k * hz, zb = za + hz;
        for (const double x : {-1.0, 1.0})
            add({Vec3d{x, y0, za}, Vec3d{x, -y0, za}, Vec3d{x, -y0, zb}, Vec3d{x, y0, zb}}, {-x, 0.0, 0.0});
    }
    return tables;
}

// Square of side h in the plane y = y0, lower corner (x0, z0), normal -y.
std::array<float, 12> square_xz(double x0, double y0, double z0, double h)
{
    return record_of({Vec3d{x0, y0, z0}, Vec3d{x0 + h, y0, z0}, Vec3d{x0 + h, y0, z0 + h}, Vec3d{x0, y0, z0 + h}});
}

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b)
{ return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0; }

struct BuilderRun {
    std::vector<float> matrix, vector, phi, u, v, w;
    std::array<std::vector<int>, 4> lists;
    int matrix_failures = 0, matrix_lines = 0, field_failures = 0, field_lines = 0;
};

// The matrix and right-hand side of the fin, then the flow of the sources b(i) (any
// strengths serve) at the collocation points and at `extra` field points.
BuilderRun run_builders(const Tables& t, const std::vector<float>& extra, int n_kernel, float depth)
{
    BuilderRun r;
    const int n = static_cast<int>(t.sides.size() / 4);
    const auto nn = static_cast<std::size_t>(n);
    std::vector<int> list(nn);
    for (int i = 0; i < n; ++i)
        list[static_cast<std::size_t>(i)] = i + 1;
    const std::vector<float> weight(nn, 1.0f);
    r.matrix.assign(nn * nn, 0.0f);
    r.vector.assign(nn, 0.0f);
    for (auto& l : r.lists)
        l.assign(nn, 0);
    r.matrix_failures = basis_flow_matrix(t.geometry(), [&](std::string_view line) {
        r.matrix_lines += line == kBasisFlowMatrixFailLine; }, 0, weight, {}, n, list, r.matrix, r.vector,
        {r.lists[0], r.lists[1], r.lists[2], r.lists[3]}, n_kernel, depth);

    std::vector<float> points = t.colloc;
    points.insert(points.end(), extra.begin(), extra.end());
    const int np = static_cast<int>(points.size() / 3);
    for (auto* a : {&r.phi, &r.u, &r.v, &r.w})
        a->assign(static_cast<std::size_t>(np), 0.0f);
    r.field_failures = fstgrd1(t.geometry(), [&](std::string_view line) {
        r.field_lines += line == kBasisFlowIntegralFailLine; }, points, np, list, r.vector, r.phi, r.u, r.v,
        r.w, 0, n_kernel, depth);
    return r;
}

// Columns and blocks of field points go to separate threads; each element is still the same
// sum, so the matrix, the right-hand side, the field and the failure counts are the same bits
// for 1 and 3 threads (that the sums are the right ones is held by the closed-form tests above
// and the sphere flows of basefl_test.cpp).  The fin gives 170 columns with points of every
// distance class and 229 field points (four blocks with 1 thread, seven with 3); a bottom
// with one image pair adds the shifted images.
TEST(basis_flow_parallel, results_are_the_same_bits_whatever_the_thread_count)
{
    Tables t = box_hull(0.02, 12, 6);
    // Doubler plates 1e-6 off the sides, each overlapping side panels: they see each other's
    // centres too close for the adaptive integrator's tolerance, so failures are counted too.
    t.add(square_xz(-0.55, 0.01 + 1.0e-6, -0.6, 1.0 / 6.0));
    t.add(square_xz(0.23, -0.01 - 1.0e-6, -0.45, 1.0 / 6.0));
    const int n = static_cast<int>(t.sides.size() / 4);
    ASSERT_EQ(n, 170);
    const int n_kernel = 1;
    const float depth = 2.5f;
    std::vector<BasisFlowSource> sources;
    for (int i = 0; i < n; ++i)
        sources.push_back(basis_flow_source(std::span(t.corners).subspan(12 * static_cast<std::size_t>(i), 12),
                                            std::span(t.sides).subspan(4 * static_cast<std::size_t>(i), 4)));

    // The test is only as strong as its mix of work: every class occurs among the columns.
    std::array<int, 5> class_count{};
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            if (j != i) {
                const Vec3d f = {t.colloc[3 * j], t.colloc[3 * j + 1], t.colloc[3 * j + 2]};
                const auto& src = sources[static_cast<std::size_t>(i)];
                ++class_count[static_cast<std::size_t>(distance_class(reference_distance(src.refs, f), src.size))];
            }
    for (int c = 0; c < 5; ++c)
        EXPECT_GT(class_count[static_cast<std::size_t>(c)], 0) << "class " << c;

    // Field points off the hull along the fin: 1e-6 off a side (failures again), 3e-3 off
    // it, and further out.
    std::vector<float> extra;
    const std::array<float, 3> ys = {0.010001f, 0.013f, 0.4f};
    for (int k = 0; k < 59; ++k) {
        const float x = -1.1f + 2.2f * static_cast<float>(k) / 58.0f;
        extra.insert(extra.end(), {x, ys[static_cast<std::size_t>(k % 3)], -0.37f - 0.01f * static_cast<float>(k % 5)});
    }

#ifdef _OPENMP
    const int before = omp_get_max_threads();
    omp_set_num_threads(1);
    const BuilderRun one = run_builders(t, extra, n_kernel, depth);
    omp_set_num_threads(3);
    const BuilderRun three = run_builders(t, extra, n_kernel, depth);
    omp_set_num_threads(before);
#else
    const BuilderRun one = run_builders(t, extra, n_kernel, depth);
    const BuilderRun three = one;
#endif
    const std::size_t np = one.phi.size();
    ASSERT_EQ(np, 229u);

    // The doublers and the points beside the sides make failures to count, one line each.
    EXPECT_GT(one.matrix_failures, 0);
    EXPECT_GT(one.field_failures, 0);
    for (const BuilderRun* r : {&one, &three}) {
        EXPECT_EQ(r->matrix_lines, r->matrix_failures);
        EXPECT_EQ(r->field_lines, r->field_failures);
    }
    EXPECT_TRUE(same_bits(three.matrix, one.matrix));
    EXPECT_TRUE(same_bits(three.vector, one.vector));
    EXPECT_TRUE(same_bits(three.phi, one.phi));
    EXPECT_TRUE(same_bits(three.u, one.u));
    EXPECT_TRUE(same_bits(three.v, one.v));
    EXPECT_TRUE(same_bits(three.w, one.w));
    EXPECT_EQ(three.matrix_failures, one.matrix_failures);
    EXPECT_EQ(three.field_failures, one.field_failures);
}

}  // namespace
