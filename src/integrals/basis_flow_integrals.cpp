// Basis-flow integrals (see the header for the equations (1)-(5)).
#include "integrals/basis_flow_integrals.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#include "frame/lowest_failure.hpp"
#include "frame/threads.hpp"


namespace torva {

namespace {

constexpr double kHalf = 0.5;
// A quadrature point whose area element |N~| is below this contributes nothing (a collapsed
// corner of a degenerate panel), as in getic2b's fixed rules.
constexpr double kDegenerateAreaElement = 1.0e-8;

[[nodiscard]] std::size_t at(int index, int stride) noexcept
{ return static_cast<std::size_t>(index) * static_cast<std::size_t>(stride); }

// Threads that share `tasks` independent pieces of work (at least 1), and the calling
// thread's slot among them inside the parallel region.
[[nodiscard]] int worker_count(int tasks) noexcept { return std::max(1, std::min(team_threads(), tasks)); }

[[nodiscard]] std::size_t worker_slot() noexcept { return static_cast<std::size_t>(team_member()); }

// The work of one thread: scratch, the four class lists and (matrix) a column buffer, sized
// before the parallel region so that nothing inside it allocates.  Each on its own cache
// lines: the threads move their scratch vectors' ends at every point they add.
struct alignas(64) ThreadWork {
    BasisFlowScratch scratch;
    std::array<std::vector<int>, 4> lists;
    std::vector<double> column;

    [[nodiscard]] std::array<std::span<int>, 4> class_lists() noexcept
    { return {lists[0], lists[1], lists[2], lists[3]}; }
};


[[nodiscard]] Vec3d widen3(const float* p) noexcept
{ return {static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2])}; }

// The panel's unit normal from its frame (third row of the rotation: entries 2, 5, 8).
[[nodiscard]] Vec3d frame_normal(const BasisFlowGeometry& g, int panel_index) noexcept
{
    const float* f = &g.frame[at(panel_index, 9)];
    return {static_cast<double>(f[2]), static_cast<double>(f[5]), static_cast<double>(f[8])};
}

[[nodiscard]] Vec3d collocation_point(const BasisFlowGeometry& g, int panel_index) noexcept
{ return widen3(&g.colloc[at(panel_index, 3)]); }

// (V . R) |N| / r^3 and the four potential / velocity integrands at (s, t).
[[nodiscard]] double directed_integrand(const BilinearPanel& panel, const Vec3d& f, const Vec3d& v,
                                        double s, double t) noexcept
{
    const Vec3d r = vec3::sub(f, panel.point(s, t));
    const double area = vec3::norm(panel.normal(s, t));
    const double r2 = vec3::dot(r, r);
    return vec3::dot(v, r) * area / (r2 * std::sqrt(r2));
}

[[nodiscard]] double potential_integrand(const BilinearPanel& panel, const Vec3d& f, int component,
                                         double s, double t) noexcept
{
    const Vec3d r = vec3::sub(f, panel.point(s, t));
    const double area = vec3::norm(panel.normal(s, t));
    const double r2 = vec3::dot(r, r);
    const double dist = std::sqrt(r2);
    if (component == 0)
        return area / dist;
    return r[static_cast<std::size_t>(component - 1)] * area / (r2 * dist);
}

}  // namespace

// ---- images ---------------------------------------------------------------------------------

std::vector<FieldImage> basis_flow_images(int symmetry, int n_kernel, double depth)
{
    std::vector<FieldImage> images;
    // Bottom images need a bottom: the driver makes K 0 when there is none, and a K given
    // with a depth that is not positive would place the "bottom" at or above the surface.
    const int bottom_images = depth > 0.0 ? std::max(n_kernel, 0) : 0;
    for (const double y_sign : {1.0, -1.0}) {
        if (y_sign < 0.0 && symmetry <= 0)
            break;
        images.push_back({y_sign, 1.0, 0.0});
        images.push_back({y_sign, -1.0, 0.0});
        for (int k = 0; k < bottom_images; ++k) {
            const double shift = 2.0 * static_cast<double>(k + 1) * depth;
            images.push_back({y_sign, 1.0, shift});     // (x, y, z + 2(k+1) depth)
            images.push_back({y_sign, -1.0, -shift});   // its surface image
            images.push_back({y_sign, 1.0, -shift});    // (x, y, z - 2(k+1) depth)
            images.push_back({y_sign, -1.0, shift});    // its surface image
        }
    }
    return images;
}

// ---- panel drivers --------------------------------------------------------------------------

DirectedVelocityIntegral directed_velocity_integral(int method, const Vec3d& f, const Vec3d& v,
                                                    const BilinearPanel& panel)
{
    if (method < kBasisFlowRomberg || method > kBasisFlowAdaptiveTworule)
        return {};
    const IntegrationContext ctx{panel, f, 0};
    const auto integrand = [&](double s, double t) { return directed_integrand(panel, f, v, s, t); };
    const Integral2d q = integrate_with_method(method + 1, integrand, ctx, -kHalf, kHalf, -kHalf, kHalf);
    return {q.value, q.error_flag};
}

PotentialVelocityIntegrals potential_velocity_integrals(int method, const Vec3d& f,
                                                        const BilinearPanel& panel)
{
    PotentialVelocityIntegrals result;
    if (method < kBasisFlowRomberg || method > kBasisFlowAdaptiveTworule)
        return result;
    const IntegrationContext ctx{panel, f, 0};
    for (int component = 0; component < 4; ++component) {
        const auto integrand = [&](double s, double t) {
            return potential_integrand(panel, f, component, s, t);
        };
        const Integral2d q =
            integrate_with_method(method + 1, integrand, ctx, -kHalf, kHalf, -kHalf, kHalf);
        result.values[static_cast<std::size_t>(component)] = q.value;
        if (result.error_flag == 0)
            result.error_flag = q.error_flag;
    }
    return result;
}

// ---- geometry -------------------------------------------------------------------------------

BasisFlowSource basis_flow_source(std::span<const float> corners, std::span<const float> sides)
{
    const std::array<Vec3d, 4> p = integration_corners(corners);
    BasisFlowSource source;
    source.panel = make_bilinear_panel(p[0], p[1], p[2], p[3]);
    source.sigma = sigma_panel(source.panel);
    source.refs = reference_points(source.sigma);
    source.size = size_measure(p, sides);
    const Vec3d n = vec3::cross(source.sigma.a, source.sigma.b);
    const double length = vec3::norm(n);
    if (length > 0.0)
        source.unit_normal = vec3::scale(n, 1.0 / length);
    return source;
}

BasisFlowGeometry basis_flow_geometry(const PanelModel& model)
{
    return {model.corners, model.colloc, model.frame, model.sides};
}

// ---- fixed rules ----------------------------------------------------------------------------

void fixed_rule_directed(const BilinearPanel& sigma, std::span<const ParamPoint> rule,
                         std::span<const Vec3d> points, std::span<const Vec3d> directions,
                         std::span<double> out)
{
    assert(directions.size() == points.size() && out.size() >= points.size());
    for (const ParamPoint& q : rule) {
        const Vec3d x = sigma.point(q.sigma, q.tau);
        const double area = vec3::norm(sigma.normal(q.sigma, q.tau));
        if (area < kDegenerateAreaElement)
            continue;
        const double weight = q.weight * area;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const Vec3d r = vec3::sub(points[k], x);
            const double r2 = vec3::dot(r, r);
            out[k] += weight * vec3::dot(directions[k], r) / (r2 * std::sqrt(r2));
        }
    }
}

void fixed_rule_potential_velocity(const BilinearPanel& sigma, std::span<const ParamPoint> rule,
                                   std::span<const Vec3d> points,
                                   std::span<std::array<double, 4>> out)
{
    assert(out.size() >= points.size());
    for (const ParamPoint& q : rule) {
        const Vec3d x = sigma.point(q.sigma, q.tau);
        const double area = vec3::norm(sigma.normal(q.sigma, q.tau));
        if (area < kDegenerateAreaElement)
            continue;
        const double weight = q.weight * area;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const Vec3d r = vec3::sub(points[k], x);
            const double r2 = vec3::dot(r, r);
            const double dist = std::sqrt(r2);
            const double w_r3 = weight / (r2 * dist);
            out[k][0] += weight / dist;
            out[k][1] += r[0] * w_r3;
            out[k][2] += r[1] * w_r3;
            out[k][3] += r[2] * w_r3;
        }
    }
}

// ---- the basis flow matrix ------------------------------------------------------------------

namespace {

// Sum over the images of the directed-velocity integral (3) for one point and direction, by
// the rule of distance class `cls` (0: adaptive).  Images are taken from `first_image` on.
double directed_over_images(const BasisFlowSource& src, const Vec3d& f, const Vec3d& v,
                            std::span<const FieldImage> images, std::size_t first_image,
                            bool classify_each, int cls, BasisFlowScratch& scratch, int& failures)
{
    double sum = 0.0;
    for (std::size_t m = first_image; m < images.size(); ++m) {
        const Vec3d fi = image_point(images[m], f);
        const Vec3d vi = image_direction(images[m], v);
        const int rule = classify_each ? distance_class(reference_distance(src.refs, fi), src.size) : cls;
        if (rule == 0) {
            const DirectedVelocityIntegral q = directed_velocity_integral(kBasisFlowNearMethod, fi, vi, src.panel);
            if (q.error_flag != 0)
                ++failures;
            sum += q.value;
        } else {
            scratch.points.assign(1, fi);
            scratch.directions.assign(1, vi);
            scratch.values.assign(1, 0.0);
            fixed_rule_directed(src.sigma, class_rule_points(rule), scratch.points,
                                scratch.directions, scratch.values);
            sum += scratch.values[0];
        }
    }
    return sum;
}

}  // namespace

int basis_flow_column(const BasisFlowGeometry& geometry, std::span<const BasisFlowSource> sources,
                      std::span<const int> panel_list, int i, std::span<const FieldImage> images,
                      const std::array<std::span<int>, 4>& class_lists, BasisFlowScratch& scratch,
                      std::span<double> column)
{
    const int n = static_cast<int>(panel_list.size());
    const BasisFlowSource& src = sources[static_cast<std::size_t>(i)];
    const std::size_t per_point = images.size();
    std::array<int, 4> list_size{};
    int failures = 0;

    for (int j = 0; j < n; ++j) {
        column[static_cast<std::size_t>(j)] = 0.0;
        if (j == i)
            continue;
        const int pj = to_panel_index(panel_list[static_cast<std::size_t>(j)]);
        const Vec3d f = collocation_point(geometry, pj);
        const int cls = distance_class(reference_distance(src.refs, f), src.size);
        if (cls > 0) {
            class_lists[static_cast<std::size_t>(cls - 1)][static_cast<std::size_t>(list_size[cls - 1]++)] = j + 1;
            continue;
        }
        column[static_cast<std::size_t>(j)] =
            -directed_over_images(src, f, frame_normal(geometry, pj), images, 0, false, 0, scratch, failures);
    }

    // Own panel: the principal value at the centre by the graded rule, its images classified
    // one by one, then the free term of the fluid side (5).
    {
        const int pi = to_panel_index(panel_list[static_cast<std::size_t>(i)]);
        const Vec3d v = frame_normal(geometry, pi);
        scratch.points.assign(1, src.panel.c);
        scratch.directions.assign(1, v);
        scratch.values.assign(1, 0.0);
        fixed_rule_directed(src.sigma, graded_own_panel_points(), scratch.points, scratch.directions,
                            scratch.values);
        double own = scratch.values[0];
        own += directed_over_images(src, src.panel.c, v, images, 1, true, 0, scratch, failures);
        column[static_cast<std::size_t>(i)] = -own + kBasisFlowFreeTerm;
    }

    // Distance classes: all listed points with all their images in one sweep of the rule.
    for (int cls = 1; cls <= 4; ++cls) {
        const int count = list_size[cls - 1];
        if (count == 0)
            continue;
        const std::span<int> list = class_lists[static_cast<std::size_t>(cls - 1)];
        scratch.points.clear();
        scratch.directions.clear();
        for (int m = 0; m < count; ++m) {
            const int pj = to_panel_index(panel_list[static_cast<std::size_t>(list[static_cast<std::size_t>(m)] - 1)]);
            const Vec3d f = collocation_point(geometry, pj);
            const Vec3d v = frame_normal(geometry, pj);
            for (const FieldImage& image : images) {
                scratch.points.push_back(image_point(image, f));
                scratch.directions.push_back(image_direction(image, v));
            }
        }
        scratch.values.assign(scratch.points.size(), 0.0);
        fixed_rule_directed(src.sigma, class_rule_points(cls), scratch.points, scratch.directions,
                            scratch.values);
        for (int m = 0; m < count; ++m) {
            double sum = 0.0;
            for (std::size_t k = 0; k < per_point; ++k)
                sum += scratch.values[static_cast<std::size_t>(m) * per_point + k];
            column[static_cast<std::size_t>(list[static_cast<std::size_t>(m)] - 1)] = -sum;
        }
    }
    return failures;
}

int basis_flow_matrix(const BasisFlowGeometry& geometry, const DiagnosticSink& sink, int symmetry,
                      std::span<const float> input_value, std::span<const float> prescribed_flux,
                      int n, std::span<const int> panel_list, std::span<float> matrix,
                      std::span<float> vector, const std::array<std::span<int>, 4>& class_lists,
                      int n_kernel, float depth)
{
    const auto nn = static_cast<std::size_t>(n);
    assert(matrix.size() >= nn * nn && vector.size() >= nn && panel_list.size() >= nn);
    std::fill(matrix.begin(), matrix.begin() + static_cast<std::ptrdiff_t>(nn * nn), 0.0f);
    std::fill(vector.begin(), vector.begin() + static_cast<std::ptrdiff_t>(nn), 0.0f);
    const std::span<const int> list = panel_list.first(nn);

    std::vector<BasisFlowSource> sources(nn);
    for (std::size_t i = 0; i < nn; ++i) {
        const int p = to_panel_index(list[i]);
        sources[i] = basis_flow_source(geometry.corners.subspan(at(p, kCornerStride), kCornerStride),
                                       geometry.sides.subspan(at(p, 4), 4));
        // Right-hand side: dphi/dn = value n_x - q (see the header).
        double rhs = static_cast<double>(input_value[static_cast<std::size_t>(p)]) * sources[i].unit_normal[0];
        if (!prescribed_flux.empty())
            rhs -= static_cast<double>(prescribed_flux[static_cast<std::size_t>(p)]);
        vector[i] = static_cast<float>(rhs);
    }

    const std::vector<FieldImage> images = basis_flow_images(symmetry, n_kernel, static_cast<double>(depth));

    // The columns are independent and each is computed whole by one thread, so every element
    // is the same sum whatever the thread count.  The last column is computed in the caller's
    // class lists, which therefore end holding its classes, as documented.  Each scratch
    // buffer gets the largest size a column asks for (all n points with all their images in
    // one class) before the region.
    const int threads = worker_count(n);
    std::vector<ThreadWork> work(static_cast<std::size_t>(threads));
    const std::size_t column_points = nn * images.size();
    for (ThreadWork& w : work) {
        for (std::vector<int>& l : w.lists)
            l.assign(nn, 0);
        w.column.assign(nn, 0.0);
        w.scratch.points.reserve(column_points);
        w.scratch.directions.reserve(column_points);
        w.scratch.values.reserve(column_points);
    }

    int failures = 0;
    LowestFailure failure;
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads) reduction(+ : failures)
    for (int i = 0; i < n; ++i) {
        ThreadWork& w = work[worker_slot()];
        try {
            const std::array<std::span<int>, 4> lists = i == n - 1 ? class_lists : w.class_lists();
            failures += basis_flow_column(geometry, sources, list, i, images, lists, w.scratch, w.column);
            for (std::size_t j = 0; j < nn; ++j)
                matrix[j + static_cast<std::size_t>(i) * nn] = static_cast<float>(w.column[j]);
        } catch (...) {
            failure.keep(i, std::current_exception());
        }
    }
    failure.raise();

    // Every failure writes the same line, so the lines of the columns in column order are
    // `failures` of them.
    for (int k = 0; k < failures; ++k)
        sink(kBasisFlowMatrixFailLine);
    return failures;
}

// ---- fstgrd1 --------------------------------------------------------------------------------

namespace {

// Field points per block of fstgrd1's parallel loop, most and fewest.  Each source sweeps
// its class rules over a block's points, forming the rule's geometry once per block: with
// 256 points (512 and more with images) that costs about 1 %, with 64 about 5 %.  The cost
// of a point varies along a hull (small panels at the ends have more near neighbours), so
// the last blocks are made small for the threads to finish together.
constexpr int kMostBlockPoints = 256;
constexpr int kFewestBlockPoints = 32;

// Block boundaries of `points` field points for `threads` threads (the blocks in order,
// block b being [starts[b], starts[b + 1])): each block takes a share 1 / (2 threads) of the
// points still left, within the bounds above.
std::vector<int> field_point_blocks(int points, int threads)
{
    std::vector<int> starts;
    int first = 0;
    while (first < points) {
        starts.push_back(first);
        const int share = (points - first + 2 * threads - 1) / (2 * threads);
        first += std::min(points - first, std::clamp(share, kFewestBlockPoints, kMostBlockPoints));
    }
    starts.push_back(points);
    return starts;
}

// phi and grad phi (in double) of a unit density on `src` at one point and all its images
// from `first_image` on; `classify_each` picks each image's rule from its own distance,
// otherwise every image uses class `cls`.
std::array<double, 4> potential_over_images(const BasisFlowSource& src, const Vec3d& f,
                                            std::span<const FieldImage> images,
                                            std::size_t first_image, bool classify_each, int cls,
                                            BasisFlowScratch& scratch, int& failures)
{
    std::array<double, 4> sum{};
    for (std::size_t m = first_image; m < images.size(); ++m) {
        const Vec3d fi = image_point(images[m], f);
        const int rule = classify_each ? distance_class(reference_distance(src.refs, fi), src.size) : cls;
        std::array<double, 4> raw{};
        if (rule == 0) {
            const PotentialVelocityIntegrals q = potential_velocity_integrals(kBasisFlowNearMethod, fi, src.panel);
            if (q.error_flag != 0)
                ++failures;
            raw = q.values;
        } else {
            scratch.points.assign(1, fi);
            scratch.values4.assign(1, std::array<double, 4>{});
            fixed_rule_potential_velocity(src.sigma, class_rule_points(rule), scratch.points, scratch.values4);
            raw = scratch.values4[0];
        }
        // (2) and the gradient's reflection back to the field point.
        const Vec3d grad = image_direction(images[m], {-raw[1], -raw[2], -raw[3]});
        sum[0] += raw[0];
        sum[1] += grad[0];
        sum[2] += grad[1];
        sum[3] += grad[2];
    }
    return sum;
}

void add_scaled(std::array<double, 4>& target, double strength, const std::array<double, 4>& unit)
{
    for (std::size_t c = 0; c < 4; ++c)
        target[c] += strength * unit[c];
}

}  // namespace

int fstgrd1_block(std::span<const BasisFlowSource> sources, std::span<const float> strengths,
                  std::span<const float> field_points, int first, int last,
                  std::span<const FieldImage> images, const std::array<std::span<int>, 4>& class_lists,
                  BasisFlowScratch& scratch, std::span<std::array<double, 4>> sums)
{
    const std::size_t per_point = images.size();
    int failures = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const BasisFlowSource& src = sources[i];
        const double strength = static_cast<double>(strengths[i]);
        const double own_radius = kOwnCentreFraction * src.size;
        std::array<int, 4> list_size{};

        for (int k = first; k < last; ++k) {
            const Vec3d f = widen3(&field_points[at(k, 3)]);
            std::array<double, 4>& target = sums[static_cast<std::size_t>(k - first)];
            if (vec3::norm(vec3::sub(f, src.panel.c)) <= own_radius) {
                // The panel's own centre: graded rule (principal value), images one by one,
                // and the fluid-side free term 2 pi n of (5).
                scratch.points.assign(1, src.panel.c);
                scratch.values4.assign(1, std::array<double, 4>{});
                fixed_rule_potential_velocity(src.sigma, graded_own_panel_points(), scratch.points,
                                              scratch.values4);
                const std::array<double, 4> raw = scratch.values4[0];
                std::array<double, 4> unit = {raw[0], -raw[1] + kBasisFlowFreeTerm * src.unit_normal[0],
                                              -raw[2] + kBasisFlowFreeTerm * src.unit_normal[1],
                                              -raw[3] + kBasisFlowFreeTerm * src.unit_normal[2]};
                const std::array<double, 4> imaged =
                    potential_over_images(src, src.panel.c, images, 1, true, 0, scratch, failures);
                for (std::size_t c = 0; c < 4; ++c)
                    unit[c] += imaged[c];
                add_scaled(target, strength, unit);
                continue;
            }
            const int cls = distance_class(reference_distance(src.refs, f), src.size);
            if (cls > 0) {
                class_lists[static_cast<std::size_t>(cls - 1)][static_cast<std::size_t>(list_size[cls - 1]++)] =
                    k - first + 1;
                continue;
            }
            add_scaled(target, strength, potential_over_images(src, f, images, 0, false, 0, scratch, failures));
        }

        for (int cls = 1; cls <= 4; ++cls) {
            const int count = list_size[cls - 1];
            if (count == 0)
                continue;
            const std::span<int> list = class_lists[static_cast<std::size_t>(cls - 1)];
            scratch.points.clear();
            for (int m = 0; m < count; ++m) {
                const int k = first + list[static_cast<std::size_t>(m)] - 1;
                const Vec3d f = widen3(&field_points[at(k, 3)]);
                for (const FieldImage& image : images)
                    scratch.points.push_back(image_point(image, f));
            }
            scratch.values4.assign(scratch.points.size(), std::array<double, 4>{});
            fixed_rule_potential_velocity(src.sigma, class_rule_points(cls), scratch.points, scratch.values4);
            for (int m = 0; m < count; ++m) {
                std::array<double, 4> unit{};
                for (std::size_t q = 0; q < per_point; ++q) {
                    const std::array<double, 4>& raw = scratch.values4[static_cast<std::size_t>(m) * per_point + q];
                    const Vec3d grad = image_direction(images[q], {-raw[1], -raw[2], -raw[3]});
                    unit[0] += raw[0];
                    unit[1] += grad[0];
                    unit[2] += grad[1];
                    unit[3] += grad[2];
                }
                add_scaled(sums[static_cast<std::size_t>(list[static_cast<std::size_t>(m)] - 1)], strength, unit);
            }
        }
    }
    return failures;
}

int fstgrd1(const BasisFlowGeometry& geometry, const DiagnosticSink& sink,
            std::span<const float> field_points, int n_points, std::span<const int> panel_list,
            std::span<const float> strengths, std::span<float> phi, std::span<float> u,
            std::span<float> v, std::span<float> w, int symmetry, int n_kernel, float depth)
{
    const auto np = static_cast<std::size_t>(std::max(n_points, 0));
    std::fill(phi.begin(), phi.begin() + static_cast<std::ptrdiff_t>(np), 0.0f);
    std::fill(u.begin(), u.begin() + static_cast<std::ptrdiff_t>(np), 0.0f);
    std::fill(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(np), 0.0f);
    std::fill(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(np), 0.0f);

    std::vector<BasisFlowSource> sources(panel_list.size());
    for (std::size_t i = 0; i < panel_list.size(); ++i) {
        const int p = to_panel_index(panel_list[i]);
        sources[i] = basis_flow_source(geometry.corners.subspan(at(p, kCornerStride), kCornerStride),
                                       geometry.sides.subspan(at(p, 4), 4));
    }
    const std::vector<FieldImage> images = basis_flow_images(symmetry, n_kernel, static_cast<double>(depth));

    // Blocks of field points go to the threads.  Within a block the sources are taken in
    // ascending order and each point of the block receives one term per source, so a
    // point's sum is the same whatever block it falls in and whatever the thread count: the
    // block boundaries are free, and are chosen for speed (field_point_blocks).  All work
    // arrays are sized here, outside the parallel region: the class lists to the largest
    // block, the scratch to its points with all their images.
    const int points = static_cast<int>(np);
    const int threads = worker_count(points);
    const std::vector<int> starts = field_point_blocks(points, threads);
    const int blocks = static_cast<int>(starts.size()) - 1;
    int largest = 0;
    for (int b = 0; b < blocks; ++b)
        largest = std::max(largest, starts[static_cast<std::size_t>(b + 1)] - starts[static_cast<std::size_t>(b)]);
    const auto block_points = static_cast<std::uint64_t>(largest);
    const std::uint64_t scratch_points = block_points * images.size();
    std::vector<std::array<double, 4>> sums(np);
    std::vector<ThreadWork> work(static_cast<std::size_t>(threads));
    for (ThreadWork& w : work) {
        for (std::vector<int>& l : w.lists)
            l.assign(static_cast<std::size_t>(block_points), 0);
        // Sized then emptied: the capacity stays, so the block's assign and push_back never
        // reallocate inside the region.
        w.scratch.points.assign(static_cast<std::size_t>(scratch_points), {});
        w.scratch.values4.assign(static_cast<std::size_t>(scratch_points), {});
        w.scratch.points.clear();
        w.scratch.values4.clear();
    }

    int failures = 0;
    LowestFailure failure;
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads) reduction(+ : failures)
    for (int b = 0; b < blocks; ++b) {
        ThreadWork& w = work[worker_slot()];
        try {
            const int first = starts[static_cast<std::size_t>(b)];
            const int last = starts[static_cast<std::size_t>(b + 1)];
            const std::span<std::array<double, 4>> block_sums =
                std::span(sums).subspan(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first));
            failures += fstgrd1_block(sources, strengths, field_points, first, last, images, w.class_lists(),
                                      w.scratch, block_sums);
        } catch (...) {
            failure.keep(b, std::current_exception());
        }
    }
    failure.raise();

    for (std::size_t k = 0; k < np; ++k) {
        phi[k] = static_cast<float>(sums[k][0]);
        u[k] = static_cast<float>(sums[k][1]);
        v[k] = static_cast<float>(sums[k][2]);
        w[k] = static_cast<float>(sums[k][3]);
    }
    for (int k = 0; k < failures; ++k)
        sink(kBasisFlowIntegralFailLine);
    return failures;
}

}  // namespace torva
