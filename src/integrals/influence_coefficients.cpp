// Influence coefficients getic2, getic2a, getic2b; equations (1)-(6) are given in
// influence_coefficients.hpp.
#include "integrals/influence_coefficients.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "frame/list_directed.hpp"

namespace torva {

namespace {

// Class thresholds and reference-point offsets of (3): single-precision constants widened,
// so that the classes (and hence the results) do not depend on how a compiler would round
// the decimal literal.
constexpr double kClass1Factor = static_cast<double>(0.1f);
constexpr double kClass2Factor = static_cast<double>(0.2f);
constexpr double kClass3Factor = static_cast<double>(0.6f);
constexpr double kClass4Factor = 2.0;
constexpr double kDiagonalOffset = static_cast<double>(0.7f);
constexpr double kTwistOffset = static_cast<double>(0.49f);
constexpr double kAxisOffset = static_cast<double>(0.6f);

// (6): a quadrature point with a smaller area element is a degenerate (collapsed) corner of
// the panel and adds nothing.
constexpr double kDegenerateNormal = 1.0e-8;

// The 20 coefficients of one field point: source and dipole of weight 0, sources of
// weights 1..9, dipoles of weights 1..9.
constexpr int kValueCount = 2 + 2 * kSplineWeights;
using Values = std::array<double, kValueCount>;
constexpr int kSource0 = 0;
constexpr int kDipole0 = 1;
constexpr int kSourceW = 2;                    // + k - 1
constexpr int kDipoleW = 2 + kSplineWeights;   // + k - 1

// A column-major n x columns float matrix over caller storage; rows 0-based, columns
// 1-based as the equation systems number them.
class ColumnMatrix {
public:
    ColumnMatrix(std::span<float> data, int rows, int columns) : data_(data), rows_(rows)
    {
        assert(data.size() >= static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
        (void)columns;
    }
    float& at(int row, int column) const
    {
        return data_[static_cast<std::size_t>(row) +
                     static_cast<std::size_t>(column - 1) * static_cast<std::size_t>(rows_)];
    }
    void clear() const { std::fill(data_.begin(), data_.end(), 0.0f); }

private:
    std::span<float> data_;
    int rows_;
};

// Storing narrows the double coefficient once.
void store(float& cell, double value) { cell = static_cast<float>(value); }
// Adding widens the stored float, adds in double and rounds back.
void add_to(float& cell, double value)
{
    cell = static_cast<float>(static_cast<double>(cell) + value);
}

Vec3d widen(const float* p) noexcept
{
    return {static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2])};
}

Vec3d mirror_y(const Vec3d& f) noexcept { return {f[0], -f[1], f[2]}; }

// The image in the bottom z = -depth.
Vec3d bottom_image(const Vec3d& f, double depth) noexcept
{
    return {f[0], f[1], -f[2] - 2.0 * depth};
}

std::array<Vec3d, 4> corners_of(const PanelTables& panels, int index)
{
    return integration_corners(panels.corners.subspan(static_cast<std::size_t>(index) * 12, 12));
}

PanelIntegrals weight0(bool own, int method, const Vec3d& f, const std::array<Vec3d, 4>& p)
{
    return own ? self_panel_integrals(method, f, p[0], p[1], p[2], p[3])
               : panel_integrals(method, f, p[0], p[1], p[2], p[3]);
}

PanelIntegralsW9 weights9(bool own, int method, const Vec3d& f, const std::array<Vec3d, 4>& p)
{
    return own ? self_panel_integrals_w9(method, f, p[0], p[1], p[2], p[3])
               : panel_integrals_w9(method, f, p[0], p[1], p[2], p[3]);
}

}  // namespace

PanelTables panel_tables(const PanelModel& model)
{
    return PanelTables{model.corners, model.colloc, model.node_table, model.active, model.sides};
}

std::vector<std::string> integration_failure_report(std::string_view routine,
                                                    const std::array<Vec3d, 4>& corners,
                                                    const Vec3d& field)
{
    std::vector<std::string> lines;
    lines.push_back("ERROR: Error in panel integration detected in " + std::string(routine) + ":");
    const char* labels[4] = {"x1 = ", "x2 = ", "x3 = ", "x4 = "};
    for (int k = 0; k < 4; ++k)
        lines.push_back(labels[k] + list_directed(corners[k][0], corners[k][1], corners[k][2]));
    lines.push_back("xf = " + list_directed(field[0], field[1], field[2]));
    return lines;
}

// ---- getic2b geometry -------------------------------------------------------------------

BilinearPanel sigma_panel(const BilinearPanel& panel) noexcept
{
    BilinearPanel sigma;
    sigma.c = panel.c;
    sigma.a = vec3::scale(panel.a, 0.5);
    sigma.b = vec3::scale(panel.b, 0.5);
    sigma.d = vec3::scale(panel.d, 0.25);
    return sigma;
}

double size_measure(const std::array<Vec3d, 4>& corners, std::span<const float> sides) noexcept
{
    double size = vec3::norm(vec3::sub(corners[0], corners[2]));
    size = std::max(size, vec3::norm(vec3::sub(corners[1], corners[3])));
    for (int k = 0; k < 4; ++k)
        size = std::max(size, static_cast<double>(sides[static_cast<std::size_t>(k)]));
    return size;
}

std::array<Vec3d, 9> reference_points(const BilinearPanel& sigma) noexcept
{
    std::array<Vec3d, 9> refs;
    refs[0] = sigma.c;
    int k = 1;
    for (const double sa : {-1.0, 1.0}) {
        for (const double sb : {-1.0, 1.0}) {
            Vec3d p;
            for (int m = 0; m < 3; ++m)
                p[m] = sigma.c[m] + sa * kDiagonalOffset * sigma.a[m] +
                       sb * kDiagonalOffset * sigma.b[m] + sa * sb * kTwistOffset * sigma.d[m];
            refs[k++] = p;
        }
    }
    for (const double sb : {-1.0, 1.0})
        refs[k++] = vec3::add(sigma.c, vec3::scale(sigma.b, sb * kAxisOffset));
    for (const double sa : {-1.0, 1.0})
        refs[k++] = vec3::add(sigma.c, vec3::scale(sigma.a, sa * kAxisOffset));
    return refs;
}

double reference_distance(const std::array<Vec3d, 9>& refs, const Vec3d& f) noexcept
{
    double d = std::numeric_limits<double>::infinity();
    for (const Vec3d& p : refs)
        d = std::min(d, vec3::norm(vec3::sub(f, p)));
    return d;
}

int distance_class(double d, double size) noexcept
{
    if (d < kClass1Factor * size)
        return 0;
    if (d < kClass2Factor * size)
        return 1;
    if (d < kClass3Factor * size)
        return 2;
    if (d < kClass4Factor * size)
        return 3;
    return 4;
}

namespace {

// 4 x 4 Gauss points of the square [x0, x0 + h] x [y0, y0 + h], weight w_i w_j (h/2)^2.
void append_square(std::vector<ParamPoint>& points, double x0, double y0, double h)
{
    const double half = 0.5 * h;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            points.push_back(ParamPoint{x0 + half * (1.0 + kGauss4Nodes[i]),
                                        y0 + half * (1.0 + kGauss4Nodes[j]),
                                        kGauss4Weights[i] * kGauss4Weights[j] * half * half});
        }
    }
}

std::vector<ParamPoint> make_graded_points()
{
    // Lower-left corners of the ring squares around [-1/2, 1/2]^2 (side 1/2); the inner ring
    // uses the same corners halved (side 1/4).
    constexpr double kRing[12][2] = {{-1.0, -1.0}, {-0.5, -1.0}, {0.0, -1.0}, {0.5, -1.0},
                                     {-1.0, -0.5}, {0.5, -0.5},  {-1.0, 0.0}, {0.5, 0.0},
                                     {-1.0, 0.5},  {-0.5, 0.5},  {0.0, 0.5},  {0.5, 0.5}};
    // (5): the centre triangles (a, b, c, d), each based on half a side of [-1/4, 1/4]^2.
    constexpr double kTriangles[8][4] = {
        {0.0625, 0.0625, 0.125, 0.0},      // upper side, right half
        {0.125, 0.0, 0.0625, -0.0625},     // right side, upper half
        {0.125, 0.0, -0.0625, -0.0625},    // right side, lower half
        {0.0625, -0.0625, -0.125, 0.0},    // lower side, right half
        {-0.0625, -0.0625, -0.125, 0.0},   // lower side, left half
        {-0.125, 0.0, -0.0625, 0.0625},    // left side, lower half
        {-0.125, 0.0, 0.0625, 0.0625},     // left side, upper half
        {-0.0625, 0.0625, 0.125, 0.0}};    // upper side, left half

    std::vector<ParamPoint> points;
    for (const auto& corner : kRing)
        append_square(points, corner[0], corner[1], 0.5);
    for (const auto& corner : kRing)
        append_square(points, 0.5 * corner[0], 0.5 * corner[1], 0.25);
    for (const auto& tri : kTriangles) {
        const double jacobian = std::fabs(tri[0] * tri[3] - tri[1] * tri[2]);
        for (int i = 0; i < 4; ++i) {
            const double rho = 1.0 + kGauss4Nodes[i];   // [0, 2]
            for (int j = 0; j < 4; ++j) {
                const double eta = kGauss4Nodes[j];
                points.push_back(ParamPoint{rho * (tri[0] + tri[1] * eta),
                                            rho * (tri[2] + tri[3] * eta),
                                            kGauss4Weights[i] * kGauss4Weights[j] * rho * jacobian});
            }
        }
    }
    return points;
}

std::vector<ParamPoint> make_class_points(int per_side)
{
    std::vector<ParamPoint> points;
    const double h = 2.0 / per_side;
    for (int row = 0; row < per_side; ++row)
        for (int col = 0; col < per_side; ++col)
            append_square(points, -1.0 + col * h, -1.0 + row * h, h);
    return points;
}

}  // namespace

std::span<const ParamPoint> graded_own_panel_points()
{
    static const std::vector<ParamPoint> points = make_graded_points();
    return points;
}

std::span<const ParamPoint> class_rule_points(int distance_class)
{
    static const std::array<std::vector<ParamPoint>, 4> rules = {
        make_class_points(8), make_class_points(4), make_class_points(2), make_class_points(1)};
    assert(distance_class >= 1 && distance_class <= 4);
    return rules[static_cast<std::size_t>(distance_class - 1)];
}

// ---- getic2 -------------------------------------------------------------------------------

std::optional<IntegrationFailure> getic2(const PanelTables& panels, int symmetry, int method, int own_panel,
            const std::array<float, 3>& field, int n, std::span<float> panel_sum,
            std::span<float> node_sum, std::span<float> panel_diff, std::span<float> node_diff)
{
    const ColumnMatrix psum(panel_sum, n, kPanelColumns);
    const ColumnMatrix nsum(node_sum, n, kPanelColumns);
    const ColumnMatrix pdiff(panel_diff, n, kPanelColumns);
    const ColumnMatrix ndiff(node_diff, n, kPanelColumns);
    psum.clear();
    nsum.clear();
    pdiff.clear();
    ndiff.clear();

    const Vec3d f = widen(field.data());
    const Vec3d f_image = mirror_y(f);
    const bool mirrored = symmetry > 0;

    for (int j = 0; j < n; ++j) {
        if (panels.active[static_cast<std::size_t>(j)] == 0)
            continue;
        const std::array<Vec3d, 4> p = corners_of(panels, j);
        const bool own = to_panel_number(j) == own_panel;

        const PanelIntegrals direct = weight0(own, method, f, p);
        if (direct.error_flag != 0)
            return IntegrationFailure{"getic2", p, f};
        store(psum.at(j, kSourceColumn), direct.source);
        store(psum.at(j, kDipoleColumn), direct.dipole);
        if (mirrored) {
            // The image point is off the panel, so the regular rule serves the own panel too.
            const PanelIntegrals image = panel_integrals(method, f_image, p[0], p[1], p[2], p[3]);
            if (image.error_flag != 0)
            return IntegrationFailure{"getic2", p, f_image};
            store(psum.at(j, kSourceColumn), direct.source + image.source);
            store(psum.at(j, kDipoleColumn), direct.dipole + image.dipole);
            store(pdiff.at(j, kSourceColumn), direct.source - image.source);
            store(pdiff.at(j, kDipoleColumn), direct.dipole - image.dipole);
        }

        // Node k of panel j carries B-spline piece k: its coefficient collects the weight-k
        // integrals of every panel on which it lives.
        std::array<int, kSplineWeights> node{};
        for (int k = 0; k < kSplineWeights; ++k) {
            node[k] = panels.node_table[static_cast<std::size_t>(j) * 9 + k];
            assert(node[k] >= 0 && node[k] <= n && "node number outside the panel range");
        }
        const PanelIntegralsW9 direct9 = weights9(own, method, f, p);
        if (direct9.error_flag != 0)
            return IntegrationFailure{"getic2", p, f};
        for (int k = 0; k < kSplineWeights; ++k) {
            if (node[k] == 0)
                continue;   // no node there: the piece has no unknown to feed
            const int m = to_panel_index(node[k]);
            add_to(nsum.at(m, kSourceColumn), direct9.source[k]);
            add_to(nsum.at(m, kDipoleColumn), direct9.dipole[k]);
        }
        if (mirrored) {
            const PanelIntegralsW9 image9 = panel_integrals_w9(method, f_image, p[0], p[1], p[2], p[3]);
            if (image9.error_flag != 0)
            return IntegrationFailure{"getic2", p, f_image};
            for (int k = 0; k < kSplineWeights; ++k) {
                if (node[k] == 0)
                    continue;
                const int m = to_panel_index(node[k]);
                add_to(nsum.at(m, kSourceColumn), image9.source[k]);
                add_to(nsum.at(m, kDipoleColumn), image9.dipole[k]);
                add_to(ndiff.at(m, kSourceColumn), direct9.source[k] - image9.source[k]);
                add_to(ndiff.at(m, kDipoleColumn), direct9.dipole[k] - image9.dipole[k]);
            }
        }
    }
    return std::nullopt;
}

std::optional<IntegrationFailure> getic2(const PanelModel& model, int symmetry, int method, int own_panel,
            const std::array<float, 3>& field, int n, std::span<float> panel_sum,
            std::span<float> node_sum, std::span<float> panel_diff, std::span<float> node_diff)
{
    return getic2(panel_tables(model), symmetry, method, own_panel, field, n, panel_sum,
           node_sum, panel_diff, node_diff);
}

// ---- getic2a ------------------------------------------------------------------------------

std::optional<IntegrationFailure> getic2a(const PanelTables& panels, int symmetry, int method, int panel,
             int n, std::span<float> panel_sum, std::span<float> weighted_sum,
             std::span<float> panel_diff, std::span<float> weighted_diff, float depth)
{
    const ColumnMatrix psum(panel_sum, n, kPanelColumns);
    const ColumnMatrix wsum(weighted_sum, n, kWeightedColumns);
    const bool mirrored = symmetry > 0;
    // The difference arrays are only touched with symmetry; callers without it may pass
    // empty spans.
    const ColumnMatrix pdiff(mirrored ? panel_diff : panel_sum, n, kPanelColumns);
    const ColumnMatrix wdiff(mirrored ? weighted_diff : weighted_sum, n, kWeightedColumns);

    const int i = to_panel_index(panel);
    const std::array<Vec3d, 4> p = corners_of(panels, i);
    const Vec3d centre = make_bilinear_panel(p[0], p[1], p[2], p[3]).c;
    // The depth test is strict: a bottom at z = 0 (depth 0) is no bottom for this routine.
    const bool bottom = depth > 0.0f;

    for (int j = 0; j < n; ++j) {
        if (panels.active[static_cast<std::size_t>(j)] == 0) {
            const auto zero_row = [&](const ColumnMatrix& pm, const ColumnMatrix& wm) {
                pm.at(j, kSourceColumn) = 0.0f;
                pm.at(j, kDipoleColumn) = 0.0f;
                for (int col = 1; col <= kWeightedColumns; ++col)
                    wm.at(j, col) = 0.0f;
            };
            zero_row(psum, wsum);
            if (mirrored)
                zero_row(pdiff, wdiff);
            continue;
        }
        const bool own = j == i;
        Vec3d f = own ? centre : widen(&panels.colloc[static_cast<std::size_t>(j) * 3]);
        if (bottom)
            f = bottom_image(f, static_cast<double>(depth));
        const Vec3d f_image = mirror_y(f);

        const PanelIntegrals direct = weight0(own, method, f, p);
        if (direct.error_flag != 0)
            return IntegrationFailure{"getic2a", p, f};
        store(psum.at(j, kSourceColumn), direct.source);
        store(psum.at(j, kDipoleColumn), direct.dipole);
        if (mirrored) {
            const PanelIntegrals image = panel_integrals(method, f_image, p[0], p[1], p[2], p[3]);
            if (image.error_flag != 0)
            return IntegrationFailure{"getic2a", p, f_image};
            store(psum.at(j, kSourceColumn), direct.source + image.source);
            store(psum.at(j, kDipoleColumn), direct.dipole + image.dipole);
            store(pdiff.at(j, kSourceColumn), direct.source - image.source);
            store(pdiff.at(j, kDipoleColumn), direct.dipole - image.dipole);
        }

        const PanelIntegralsW9 direct9 = weights9(own, method, f, p);
        if (direct9.error_flag != 0)
            return IntegrationFailure{"getic2a", p, f};
        for (int k = 0; k < kSplineWeights; ++k) {
            store(wsum.at(j, 1 + k), direct9.source[k]);
            store(wsum.at(j, 1 + kSplineWeights + k), direct9.dipole[k]);
        }
        if (mirrored) {
            const PanelIntegralsW9 image9 = panel_integrals_w9(method, f_image, p[0], p[1], p[2], p[3]);
            if (image9.error_flag != 0)
            return IntegrationFailure{"getic2a", p, f_image};
            for (int k = 0; k < kSplineWeights; ++k) {
                store(wsum.at(j, 1 + k), direct9.source[k] + image9.source[k]);
                store(wsum.at(j, 1 + kSplineWeights + k), direct9.dipole[k] + image9.dipole[k]);
                store(wdiff.at(j, 1 + k), direct9.source[k] - image9.source[k]);
                store(wdiff.at(j, 1 + kSplineWeights + k), direct9.dipole[k] - image9.dipole[k]);
            }
        }
    }
    return std::nullopt;
}

std::optional<IntegrationFailure> getic2a(const PanelModel& model, int symmetry, int method, int panel,
             int n, std::span<float> panel_sum, std::span<float> weighted_sum,
             std::span<float> panel_diff, std::span<float> weighted_diff, float depth)
{
    return getic2a(panel_tables(model), symmetry, method, panel, n, panel_sum,
            weighted_sum, panel_diff, weighted_diff, depth);
}

// ---- getic2b ------------------------------------------------------------------------------

namespace {

// The field points that one true field point stands for: the point itself, its y-mirror
// (symmetry), its bottom image and that image's y-mirror (depth >= 0), in this order.
struct ImageSet {
    bool mirrored = false;
    bool bottom = false;
    double depth = 0.0;

    [[nodiscard]] int count() const { return (1 + (bottom ? 1 : 0)) * (mirrored ? 2 : 1); }

    // Appends the points of f to `out`.
    void expand(const Vec3d& f, std::vector<Vec3d>& out) const
    {
        out.push_back(f);
        if (mirrored)
            out.push_back(mirror_y(f));
        if (bottom) {
            const Vec3d fb = bottom_image(f, depth);
            out.push_back(fb);
            if (mirrored)
                out.push_back(mirror_y(fb));
        }
    }
};

struct ColumnArrays {
    ColumnMatrix psum, wsum, pdiff, wdiff;
};

// Adds one pair of values to one coefficient: with symmetry the pair is (point, its
// y-mirror) and gives sum += a + b, difference += a - b; without it the sum gains a.
void deposit_pair(const ColumnArrays& out, bool mirrored, int row, int value, double a, double b)
{
    const bool weighted = value >= kSourceW;
    const int column = value == kSource0 ? kSourceColumn
                       : value == kDipole0 ? kDipoleColumn
                                           : value - kSourceW + 1;
    const ColumnMatrix& sum = weighted ? out.wsum : out.psum;
    const ColumnMatrix& diff = weighted ? out.wdiff : out.pdiff;
    if (mirrored) {
        add_to(sum.at(row, column), a + b);
        add_to(diff.at(row, column), a - b);
    } else {
        add_to(sum.at(row, column), a);
    }
}

// Adds the values of all images of one field point (laid out as ImageSet::expand does).
void deposit(const ColumnArrays& out, const ImageSet& images, int row, const Values* values)
{
    const int per_pair = images.mirrored ? 2 : 1;
    const int pairs = images.bottom ? 2 : 1;
    for (int pair = 0; pair < pairs; ++pair) {
        const Values& a = values[pair * per_pair];
        const Values& b = images.mirrored ? values[pair * per_pair + 1] : a;
        for (int v = 0; v < kValueCount; ++v)
            deposit_pair(out, images.mirrored, row, v, a[v], b[v]);
    }
}

// (6) for a fixed point set over the sigma panel, accumulated in double for each field
// point; quadrature points outer, field points inner, so the geometry of a point (X~, N~,
// the nine weights) is formed once for all field points.
void apply_fixed_rule(const BilinearPanel& sigma, std::span<const ParamPoint> rule,
                      std::span<const Vec3d> fields, std::span<Values> sums)
{
    for (const ParamPoint& q : rule) {
        const Vec3d x = sigma.point(q.sigma, q.tau);
        const Vec3d normal = sigma.normal(q.sigma, q.tau);
        const double area = vec3::norm(normal);
        if (area < kDegenerateNormal)
            continue;
        const double w = q.weight * area;
        const Vec3d n = vec3::scale(normal, 1.0 / area);
        const std::array<double, 3> ps = spline_pieces_sigma(q.sigma);
        const std::array<double, 3> pt = spline_pieces_sigma(q.tau);
        std::array<double, kSplineWeights> wk;
        for (int k = 0; k < kSplineWeights; ++k)
            wk[k] = w * ps[k % 3] * pt[k / 3];
        for (std::size_t m = 0; m < fields.size(); ++m) {
            const Vec3d r_vec = vec3::sub(fields[m], x);
            const double r = vec3::norm(r_vec);
            const double inv_r = 1.0 / r;
            const double normal_term = vec3::dot(n, r_vec) / (r * r * r);
            Values& acc = sums[m];
            acc[kSource0] += w * inv_r;
            acc[kDipole0] += w * normal_term;
            for (int k = 0; k < kSplineWeights; ++k) {
                acc[kSourceW + k] += wk[k] * inv_r;
                acc[kDipoleW + k] += wk[k] * normal_term;
            }
        }
    }
}

// Adaptive (method 3) coefficients of the panel at one point; failures go to the sink.
Values adaptive_values(const std::array<Vec3d, 4>& p, const Vec3d& f, const DiagnosticSink& sink,
                       int& failures)
{
    Values values{};
    const PanelIntegrals w0 = panel_integrals(kMethodAdaptiveTworule, f, p[0], p[1], p[2], p[3]);
    if (w0.error_flag != 0) {
        ++failures;
        if (sink)
            sink(kGetic2bFailLine);
    }
    values[kSource0] = w0.source;
    values[kDipole0] = w0.dipole;
    const PanelIntegralsW9 w9 = panel_integrals_w9(kMethodAdaptiveTworule, f, p[0], p[1], p[2], p[3]);
    if (w9.error_flag != 0) {
        ++failures;
        if (sink)
            sink(kGetic2bFailLine);
    }
    for (int k = 0; k < kSplineWeights; ++k) {
        values[kSourceW + k] = w9.source[k];
        values[kDipoleW + k] = w9.dipole[k];
    }
    return values;
}

}  // namespace

int getic2b(const PanelTables& panels, const DiagnosticSink& sink, int symmetry, int panel, int n,
            const std::array<std::span<int>, 4>& class_lists, std::span<float> panel_sum,
            std::span<float> weighted_sum, std::span<float> panel_diff,
            std::span<float> weighted_diff, float depth)
{
    const ColumnArrays out{ColumnMatrix(panel_sum, n, kPanelColumns),
                           ColumnMatrix(weighted_sum, n, kWeightedColumns),
                           ColumnMatrix(panel_diff, n, kPanelColumns),
                           ColumnMatrix(weighted_diff, n, kWeightedColumns)};
    out.psum.clear();
    out.wsum.clear();
    out.pdiff.clear();
    out.wdiff.clear();

    // Unlike getic2a, a bottom at depth 0 (the plane z = 0) is taken: the test is >= 0, and
    // the default "no bottom" is a negative depth.
    const ImageSet images{symmetry > 0, depth >= 0.0f, static_cast<double>(depth)};

    const int i = to_panel_index(panel);
    const std::array<Vec3d, 4> p = corners_of(panels, i);
    const BilinearPanel bilinear = make_bilinear_panel(p[0], p[1], p[2], p[3]);
    const BilinearPanel sigma = sigma_panel(bilinear);
    const double size = size_measure(p, panels.sides.subspan(static_cast<std::size_t>(i) * 4, 4));
    const std::array<Vec3d, 9> refs = reference_points(sigma);

    int failures = 0;
    std::array<int, 4> list_size{};
    std::vector<Vec3d> points;
    std::vector<Values> values;

    for (int j = 0; j < n; ++j) {
        if (j == i || panels.active[static_cast<std::size_t>(j)] == 0)
            continue;
        const Vec3d f = widen(&panels.colloc[static_cast<std::size_t>(j) * 3]);
        const int cls = distance_class(reference_distance(refs, f), size);
        if (cls > 0) {
            const std::span<int> list = class_lists[static_cast<std::size_t>(cls - 1)];
            list[static_cast<std::size_t>(list_size[cls - 1]++)] = to_panel_number(j);
            continue;
        }
        points.clear();
        images.expand(f, points);
        values.assign(points.size(), Values{});
        for (std::size_t m = 0; m < points.size(); ++m)
            values[m] = adaptive_values(p, points[m], sink, failures);
        deposit(out, images, j, values.data());
    }

    // Own panel: the graded rule about its centre, for the centre and its images.
    points.clear();
    images.expand(bilinear.c, points);
    values.assign(points.size(), Values{});
    apply_fixed_rule(sigma, graded_own_panel_points(), points, values);
    deposit(out, images, i, values.data());

    // Distance classes: every listed point with all its images at once.
    const int per_point = images.count();
    for (int cls = 1; cls <= 4; ++cls) {
        const int count = list_size[cls - 1];
        if (count == 0)
            continue;
        const std::span<int> list = class_lists[static_cast<std::size_t>(cls - 1)];
        points.clear();
        for (int m = 0; m < count; ++m) {
            const auto j = static_cast<std::size_t>(to_panel_index(list[m]));
            images.expand(widen(&panels.colloc[j * 3]), points);
        }
        values.assign(points.size(), Values{});
        apply_fixed_rule(sigma, class_rule_points(cls), points, values);
        for (int m = 0; m < count; ++m)
            deposit(out, images, to_panel_index(list[m]),
                    values.data() + static_cast<std::ptrdiff_t>(m) * per_point);
    }
    return failures;
}

int getic2b(const PanelModel& model, const DiagnosticSink& sink, int symmetry, int panel, int n,
            const std::array<std::span<int>, 4>& class_lists, std::span<float> panel_sum,
            std::span<float> weighted_sum, std::span<float> panel_diff,
            std::span<float> weighted_diff, float depth)
{
    return getic2b(panel_tables(model), sink, symmetry, panel, n, class_lists, panel_sum,
                   weighted_sum, panel_diff, weighted_diff, depth);
}

}  // namespace torva
