// Basis-flow integrals: the influence of constant-strength sources on the hull panels on the
// steady flow around the hull, the still water surface z = 0 being a rigid wall.
//
// Symbols.  A source panel is the bilinear panel X(s, t) = C + A s + B t + D s t of
// panel_integrals.hpp ((s, t) in [-1/2, 1/2]^2, N = X_s x X_t, |N| ds dt the area element), or
// in sigma = 2 s, tau = 2 t the panel X~ = C + A~ sigma + B~ tau + D~ sigma tau of getic2b.  For
// a field point F, R = F - X and r = |R|.  With a unit source density on the panel,
//
//     G(F)      = integral of |N| / r ds dt                 ("potential" integral)   (1)
//     grad G(F) = -integral of R |N| / r^3 ds dt            ("velocity" integrals)   (2)
//     V . grad G(F) = -integral of (V . R) |N| / r^3 ds dt  (directed velocity)      (3)
//
// The integrands of (1), (2) without the minus sign and of (3) without it are the ones the
// panel drivers below integrate; the minus signs are applied by the callers.
//
// Images.  The wall z = 0 is represented by the image of every source panel in it, the
// symmetry plane y = 0 (symmetry flag > 0) by the image in y = 0, and a flat bottom z = -depth
// (image count K = N_KERNEL >= 1) by the infinite set of reflections in both walls, cut at
// |k| <= K.  The influence of an image panel Q X + b seen from F equals the influence of the
// panel itself seen from the image point F' = Q (F - b), Q = diag(1, q_y, q_z) a reflection;
// gradients transform with Q:  grad_F G_image(F) = Q grad G(F').  So each image is a field
// point and direction transform
//     F' = (x, q_y y, q_z z + shift),   V' = (V_x, q_y V_y, q_z V_z),                 (4)
// in the order: for q_y = 1 (and then q_y = -1 with symmetry): the direct point, its surface
// image (q_z = -1), and for k = 0 .. K-1 the points shifted by +2(k+1) depth and by
// -2(k+1) depth, each followed by its surface image.  These are exactly the source positions
// z' = +-z_0 + 2 m depth, |m| <= K, of a source at z_0 between the two walls.
//
// Integration (per source panel; geometry, reference points, size measure L and distance
// classes as getic2b's): a field point nearer than 0.1 L to the panel is integrated
// adaptively (method code 2 of the drivers below, the two-rule adaptive integrator) for the
// direct point and all its images; the others are collected in four class lists and
// integrated, all points of a class together, with the composite 4 x 4 Gauss class rules.
// The images of a point share its class: every image lies at least as far from a panel in the
// fluid as the point itself (|F' - X|^2 = |F - X|^2 + 4 |F_z X_z| for the surface image of
// two points below z = 0, and likewise for the other reflections), so the class rule chosen
// for the direct point is accurate enough for them.
//
// Own panel.  At the panel's own centre C the kernels (2), (3) are singular.  The graded
// own-panel rule of getic2b (rings of squares and eight collapsed triangles about the centre,
// point-symmetric, so the odd 1/r^2 part of (2) cancels pair by pair) gives the principal
// value of (2) and (3) and the weakly singular (1).  The images of the centre are ordinary
// points and are classified one by one (a panel touching z = 0 has its surface image of the
// centre within a panel size).  The single layer's normal derivative jumps across the
// surface:  n . grad G  ->  PV -+ 2 pi  on the side n points to / away from.  The panel model
// orients hull normals out of the fluid (into the body), so the fluid side is the side n
// points away from and
//     grad G on the fluid side = PV grad G + 2 pi n   (unit density).                 (5)
//
// Basis flow matrix (what basefl solves).  For source panels i and field panels j of the
// hull list, with n_j the unit normal of panel j's frame:
//     a(j, i) = n_j . grad G_i(c_j) = -sum over images of (3),   j != i,
//     a(i, i) = -(graded own-panel sum of (3) at C_i with V = n_i, plus its images) + 2 pi,
// so that  sum_i a(j, i) sigma_i = n_j . grad phi(c_j) on the fluid side, phi = sum sigma_i
// G_i.  The right-hand side  b(i) = value(i) n_x(i) (+ a prescribed flux, below), n(i) =
// (A~ x B~)/|A~ x B~| at the centre, makes phi the disturbance potential of the hull moving
// with unit speed along +x (dphi/dn = n_x with n into the body): in the ship's frame the
// steady flow is  -x + phi.  The own-panel sum takes the same sign as the off-diagonal
// elements, being the principal value of the same integral, and includes the images.
//
// fstgrd1 evaluates the same phi and its gradient at given points:
//     phi(F) = sum_i sigma_i G_i(F),   (u, v, w)(F) = sum_i sigma_i grad G_i(F),
// (1) and minus (2) with all images; a field point within 1e-3 L of a panel's centre C is
// taken as that centre, integrated by the graded rule, and given the fluid-side gradient (5).
// So n . (u, v, w) at a hull collocation point reproduces the row of the matrix, and
// (u, v, w) is the gradient of phi (the potential and velocity of one and the same flow).
//
// Everything is computed in double precision per panel and field point and narrowed to float
// once.  Nothing here keeps state between calls: the per-column and per-point work lives in
// explicit work structures, and basis_flow_matrix gives columns, fstgrd1 blocks of field
// points, to the OpenMP threads, each with its own scratch and class lists.  Every sum is
// taken in a fixed order (panels ascending, images in the order (4)), independent of how the
// work is divided, so the results are the same bits whatever the thread count.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "integrals/influence_coefficients.hpp"
#include "integrals/integrators_2d.hpp"
#include "integrals/panel_integrals.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

// 2 pi as the single-precision constant 6.2831855 widened to double: the free term of the
// basis-flow matrix's diagonal.
inline constexpr double kBasisFlowFreeTerm = 6.2831854820251465;

// Method codes of the basis-flow panel drivers: one lower than those of the influence
// coefficients' integrators (0 Romberg, 1 adaptive with size criterion, 2 adaptive with two Gauss rules).
inline constexpr int kBasisFlowRomberg = 0;
inline constexpr int kBasisFlowAdaptiveSize = 1;
inline constexpr int kBasisFlowAdaptiveTworule = 2;
// The code both operations use for near points.
inline constexpr int kBasisFlowNearMethod = kBasisFlowAdaptiveTworule;

// A field point within this fraction of the size measure L of a panel's centre is taken as
// that centre (the collocation point of the panel itself: it equals C up to the rounding of
// the float collocation table, ~1e-7 |C|, far below; any other point of a mesh lies at least
// about L/2 away).
inline constexpr double kOwnCentreFraction = 1.0e-3;

// Warning lines (leading blank included) of a failed adaptive integral.
inline constexpr std::string_view kBasisFlowMatrixFailLine = " basis flow matrix fail";
inline constexpr std::string_view kBasisFlowIntegralFailLine = " basis flow integral fail";

// ---- images (4) -----------------------------------------------------------------------------

struct FieldImage {
    double y_sign = 1.0;    // q_y
    double z_sign = 1.0;    // q_z
    double z_shift = 0.0;   // added after the sign
};

// The image transforms for a symmetry flag, image count K (bottom images only for K >= 1)
// and depth, in the order of (4); the first is the identity.  2 (1 + 2K) transforms, twice
// that with symmetry.
[[nodiscard]] std::vector<FieldImage> basis_flow_images(int symmetry, int n_kernel, double depth);

[[nodiscard]] inline Vec3d image_point(const FieldImage& image, const Vec3d& f) noexcept
{ return {f[0], image.y_sign * f[1], image.z_sign * f[2] + image.z_shift}; }
// Also maps a gradient at the image point back to the field point (Q is its own inverse).
[[nodiscard]] inline Vec3d image_direction(const FieldImage& image, const Vec3d& v) noexcept
{ return {v[0], image.y_sign * v[1], image.z_sign * v[2]}; }

// ---- panel integral drivers (one panel, one field point) -------------------------------------

struct DirectedVelocityIntegral {
    double value = 0.0;      // integral of (V . R) |N| / r^3 over [-1/2, 1/2]^2
    int error_flag = 0;
};

struct PotentialVelocityIntegrals {
    // integrals of |N|/r, R_x |N|/r^3, R_y |N|/r^3, R_z |N|/r^3, in this order
    std::array<double, 4> values{};
    int error_flag = 0;      // the first non-zero flag of the four (all four are computed)
};

// `method` 0, 1, 2 select romberg_2d, adaptive_2d_size, adaptive_2d_tworule (tolerance 1e-4);
// any other code gives zeros and flag 0.
[[nodiscard]] DirectedVelocityIntegral directed_velocity_integral(int method, const Vec3d& f,
                                                                  const Vec3d& v,
                                                                  const BilinearPanel& panel);
[[nodiscard]] PotentialVelocityIntegrals potential_velocity_integrals(int method, const Vec3d& f,
                                                                      const BilinearPanel& panel);

// ---- per-panel geometry ---------------------------------------------------------------------

struct BasisFlowSource {
    BilinearPanel panel;              // in (s, t), for the adaptive drivers
    BilinearPanel sigma;              // in (sigma, tau), for the fixed rules
    std::array<Vec3d, 9> refs{};      // getic2b's reference points
    double size = 0.0;                // size measure L
    Vec3d unit_normal{};              // (A~ x B~)/|A~ x B~| at the centre (0 for a degenerate panel)
};

// From a stored corner record (12 floats) and the panel's four side lengths.
[[nodiscard]] BasisFlowSource basis_flow_source(std::span<const float> corners,
                                                std::span<const float> sides);

// Fixed-rule sums over the quadrature points q of `rule` (weights w_q; |N~| < 1e-8 skipped):
//   directed:  out[k] += sum_q w_q |N~| (V_k . R) / r^3      (points and directions paired)
//   potential: out[k] += sum_q w_q |N~| (1/r, R_x/r^3, R_y/r^3, R_z/r^3)
// The field points are innermost, so each quadrature point's geometry is formed once.
void fixed_rule_directed(const BilinearPanel& sigma, std::span<const ParamPoint> rule,
                         std::span<const Vec3d> points, std::span<const Vec3d> directions,
                         std::span<double> out);
void fixed_rule_potential_velocity(const BilinearPanel& sigma, std::span<const ParamPoint> rule,
                                   std::span<const Vec3d> points,
                                   std::span<std::array<double, 4>> out);

// ---- the basis flow matrix ------------------------------------------------------------------

// Scratch buffers of one column (matrix) or one block of field points (fstgrd1): the image
// points and directions of the points being integrated and their values.  One per thread
// when the work runs in parallel.
struct BasisFlowScratch {
    std::vector<Vec3d> points;
    std::vector<Vec3d> directions;
    std::vector<double> values;
    std::vector<std::array<double, 4>> values4;
};

// What both operations read from the panel model.
struct BasisFlowGeometry {
    std::span<const float> corners;   // stride 12
    std::span<const float> colloc;    // stride 3
    std::span<const float> frame;     // stride 9 (normal at 2, 5, 8)
    std::span<const float> sides;     // stride 4
};
[[nodiscard]] BasisFlowGeometry basis_flow_geometry(const PanelModel& model);

// Column `i` (0-based position in `panel_list`) of the matrix: column[j] = a(j, i) for every
// position j of the list, in double.  `class_lists` (four lists of at least n entries)
// receive the 1-based list positions of the points of each distance class.  `sources` holds basis_flow_source of every listed
// panel, in list order.  Returns the number of failed adaptive integrals.
int basis_flow_column(const BasisFlowGeometry& geometry, std::span<const BasisFlowSource> sources,
                      std::span<const int> panel_list, int i,
                      std::span<const FieldImage> images,
                      const std::array<std::span<int>, 4>& class_lists, BasisFlowScratch& scratch,
                      std::span<double> column);

// The basis flow matrix (n x n, column-major, a(j, i) at matrix[j + i n]) and right-hand side
// (n) of the panels `panel_list` (1-based panel numbers, n of them); both are cleared first.
// vector(i) = input_value(p) n_x(i) - q(p), p the panel of list entry i and q =
// prescribed_flux when that is not empty (both indexed by 0-based panel index).  q is a
// normal velocity out of the hull into the water, in units of the forward speed: with
// dphi/dn = n_x - q the steady flow -x + phi leaves the hull through the panel at q.  `class_lists` are the four work lists
// of at least n entries; on return they hold the classes of the last column (1-based
// positions in the list).  Each failed adaptive integral writes kBasisFlowMatrixFailLine to
// `sink` (after the whole matrix, in column order) and its value is used.  Returns the number
// of failures.  The columns are computed in parallel; `sink` is called from the calling
// thread only.
int basis_flow_matrix(const BasisFlowGeometry& geometry, const DiagnosticSink& sink, int symmetry,
                      std::span<const float> input_value, std::span<const float> prescribed_flux,
                      int n, std::span<const int> panel_list, std::span<float> matrix,
                      std::span<float> vector, const std::array<std::span<int>, 4>& class_lists,
                      int n_kernel, float depth);

// ---- fstgrd1 --------------------------------------------------------------------------------

// Adds, for the field points [first, last) of `field_points` (stride 3), the contributions of
// all source panels (`sources`, strengths `strengths`, both in list order) to `sums` (one per
// point of the block, in double: phi, dphi/dx, dphi/dy, dphi/dz).  `class_lists` (four lists
// of at least last - first entries) receive block-relative point indices.  Returns the
// number of failed adaptive integrals.
int fstgrd1_block(std::span<const BasisFlowSource> sources, std::span<const float> strengths,
                  std::span<const float> field_points, int first, int last,
                  std::span<const FieldImage> images, const std::array<std::span<int>, 4>& class_lists,
                  BasisFlowScratch& scratch, std::span<std::array<double, 4>> sums);

// phi, u, v, w (n_points each, cleared first) of the flow of source strengths `strengths`
// (one per entry of `panel_list`) at `field_points` (stride 3), with the images of the
// symmetry flag, N_KERNEL and depth.  (u, v, w) = grad phi.  Each failed adaptive integral
// writes kBasisFlowIntegralFailLine to `sink` (after all points, from the calling thread).
// Blocks of points are computed in parallel; the work lists (per thread, sized to a block)
// are allocated here, before the parallel region; when they cannot be had std::bad_alloc
// leaves (the caller stops with kFstgrd1MemoryMessage).  Returns the number of failures.
inline constexpr const char* kFstgrd1MemoryMessage = "ERROR: Insufficient memory for arrays in fstgrd1.";
int fstgrd1(const BasisFlowGeometry& geometry, const DiagnosticSink& sink,
            std::span<const float> field_points, int n_points, std::span<const int> panel_list,
            std::span<const float> strengths, std::span<float> phi, std::span<float> u,
            std::span<float> v, std::span<float> w, int symmetry, int n_kernel, float depth);

}  // namespace torva
