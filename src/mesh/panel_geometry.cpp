// Panel geometry, node table, active flags and surface metric (equations in the header).
#include "mesh/panel_geometry.hpp"

#include <cmath>

#include "linalg/dense_linear_algebra.hpp"

namespace torva {

namespace {

using Vec3 = std::array<double, 3>;

// Smallest normal float: below it |e1 x u|^2 says the two midlines are parallel to within
// what single precision could ever resolve, so the panel has no normal.
constexpr double kSmallestNormalFloat = 1.1754944e-38;

[[nodiscard]] Vec3 add(const Vec3& a, const Vec3& b) noexcept { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
[[nodiscard]] Vec3 sub(const Vec3& a, const Vec3& b) noexcept { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
[[nodiscard]] Vec3 scale(const Vec3& a, double s) noexcept { return {a[0] * s, a[1] * s, a[2] * s}; }
[[nodiscard]] double dot(const Vec3& a, const Vec3& b) noexcept { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
[[nodiscard]] Vec3 cross(const Vec3& a, const Vec3& b) noexcept
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Binomial coefficients C(m, p) for m <= 4.
constexpr double kBinomial[5][5] = {
    {1, 0, 0, 0, 0}, {1, 1, 0, 0, 0}, {1, 2, 1, 0, 0}, {1, 3, 3, 1, 0}, {1, 4, 6, 4, 1}};

[[nodiscard]] float narrow(double v) noexcept { return static_cast<float>(v); }

[[nodiscard]] std::size_t at(int panel, int stride) noexcept
{ return static_cast<std::size_t>(panel) * static_cast<std::size_t>(stride); }

}  // namespace

std::array<double, kMomentCount> quadrilateral_moments(const std::array<double, 4>& xi,
                                                       const std::array<double, 4>& eta) noexcept
{
    std::array<double, kMomentCount> moments{};
    for (int k = 0; k < 4; ++k) {
        const int next = (k + 1) % 4;
        const double x0 = xi[k], y0 = eta[k];
        const double dx = xi[next] - x0, dy = eta[next] - y0;
        const double weight = y0 * dx - x0 * dy;          // (4), clockwise orientation
        // Powers of the edge start and of the edge increment.
        double px[5], pdx[5], py[5], pdy[5];
        px[0] = pdx[0] = py[0] = pdy[0] = 1.0;
        for (int e = 1; e < 5; ++e) {
            px[e] = px[e - 1] * x0;
            pdx[e] = pdx[e - 1] * dx;
            py[e] = py[e - 1] * y0;
            pdy[e] = pdy[e - 1] * dy;
        }
        for (int n = 0; n <= 4; ++n) {
            for (int m = 0; m + n <= 4; ++m) {
                double integral = 0.0;                    // (5)
                for (int p = 0; p <= m; ++p)
                    for (int q = 0; q <= n; ++q)
                        integral += kBinomial[m][p] * kBinomial[n][q] * px[m - p] * pdx[p]
                                    * py[n - q] * pdy[q] / static_cast<double>(p + q + 1);
                moments[moment_index(m, n)] += weight * integral;
            }
        }
    }
    for (int n = 0; n <= 4; ++n)
        for (int m = 0; m + n <= 4; ++m)
            moments[moment_index(m, n)] /= static_cast<double>(m + n + 2);
    return moments;
}

PanelGeometry panel_geometry(std::span<const float, kCornerStride> corners) noexcept
{
    PanelGeometry g;
    std::array<Vec3, 4> P;
    for (int k = 0; k < 4; ++k)
        P[k] = {corners[k], corners[4 + k], corners[8 + k]};

    const Vec3 c = scale(add(add(add(P[0], P[1]), P[2]), P[3]), 0.25);            // (1)
    const Vec3 t1 = scale(sub(add(P[0], P[1]), add(P[2], P[3])), 0.5);             // (2)
    const Vec3 t2 = scale(sub(add(P[0], P[3]), add(P[1], P[2])), 0.5);

    Vec3 e1{}, e2{}, n{};
    const double t1_sq = dot(t1, t1), t2_sq = dot(t2, t2);
    g.degenerate = !(t1_sq > 0.0) || !(t2_sq > 0.0);
    if (!g.degenerate) {
        e1 = scale(t1, 1.0 / std::sqrt(t1_sq));                                   // (3)
        const Vec3 u = scale(t2, 1.0 / std::sqrt(t2_sq));
        const Vec3 n_raw = cross(e1, u);
        const double n_sq = dot(n_raw, n_raw);
        if (n_sq < kSmallestNormalFloat) {
            g.degenerate = true;
            e1 = {};
        } else {
            n = scale(n_raw, 1.0 / std::sqrt(n_sq));
            e2 = cross(n, e1);
        }
    }

    std::array<double, 4> xi{}, eta{};
    for (int k = 0; k < 4; ++k) {
        const Vec3 d = sub(P[k], c);
        xi[k] = dot(e1, d);
        eta[k] = dot(e2, d);
    }

    for (int r = 0; r < 3; ++r) {
        g.colloc[r] = narrow(c[r]);
        // rows e1, e2, n of the rotation, column by column
        g.frame[3 * r + 0] = narrow(e1[r]);
        g.frame[3 * r + 1] = narrow(e2[r]);
        g.frame[3 * r + 2] = narrow(n[r]);
        g.midline_frame[3 * r + 0] = narrow(t1[r]);
        g.midline_frame[3 * r + 1] = narrow(t2[r]);
        g.midline_frame[3 * r + 2] = narrow(n[r]);
    }
    for (int k = 0; k < 4; ++k) {
        const int next = (k + 1) % 4;
        g.xi[k] = narrow(xi[k]);
        g.eta[k] = narrow(eta[k]);
        g.sides[k] = narrow(std::hypot(xi[next] - xi[k], eta[next] - eta[k]));
    }
    const std::array<double, kMomentCount> moments = quadrilateral_moments(xi, eta);
    for (int k = 0; k < kMomentCount; ++k)
        g.moments[k] = narrow(moments[k]);

    const Vec3 c_cross_n = cross(c, n);
    for (int r = 0; r < 3; ++r) {
        g.gnormal[r] = narrow(n[r]);
        g.gnormal[3 + r] = narrow(c_cross_n[r]);
    }

    const double dxi1 = 0.5 * ((xi[0] + xi[1]) - (xi[2] + xi[3]));
    const double deta1 = 0.5 * ((eta[0] + eta[1]) - (eta[2] + eta[3]));
    const double dxi2 = 0.5 * ((xi[0] + xi[3]) - (xi[1] + xi[2]));
    const double deta2 = 0.5 * ((eta[0] + eta[3]) - (eta[1] + eta[2]));
    g.midline_len1 = narrow(std::hypot(dxi1, deta1));
    g.midline_len2 = narrow(std::hypot(dxi2, deta2));
    // (6).  deta2 = |t2| sin(angle(t1, t2)) is positive on every panel with a normal; only a
    // degenerate panel (all local corners 0) has deta2 = 0, and there the slope is left 0
    // rather than 0/0: such a panel stops the run at its frame inversion anyway.
    const double s = deta2 != 0.0 ? -dxi2 / deta2 : 0.0;
    g.midline_slope = narrow(s);
    g.midline_cos = narrow(1.0 / std::sqrt(1.0 + s * s));
    return g;
}

void fill_node_table(PanelModel& model, int first_sheet)
{
    int offset = sheet_first_panel(model, first_sheet);
    for (int s = first_sheet; s < model.n_sheets; ++s) {
        const int np1 = model.np1[s], np2 = model.np2[s];
        for (int j = 0; j < np2; ++j) {
            for (int i = 0; i < np1; ++i) {
                int* row = &model.node_table[at(offset + i + j * np1, kNodeTableStride)];
                int entry = 0;
                for (int dj = -1; dj <= 1; ++dj) {
                    for (int di = -1; di <= 1; ++di, ++entry) {
                        const int ii = i + di, jj = j + dj;
                        const bool inside = ii >= 0 && ii < np1 && jj >= 0 && jj < np2;
                        row[entry] = inside ? to_panel_number(offset + ii + jj * np1) : 0;
                    }
                }
            }
        }
        offset += model.np[s];
    }
}

void set_active_flags(PanelModel& model, int first_sheet)
{
    int offset = sheet_first_panel(model, first_sheet);
    for (int s = first_sheet; s < model.n_sheets; ++s) {
        const int np1 = model.np1[s], np2 = model.np2[s];
        for (int j = 0; j < np2; ++j)
            for (int i = 0; i < np1; ++i)
                model.active[offset + i + j * np1] =
                    (i >= 1 && i <= np1 - 2 && j >= 1 && j <= np2 - 2) ? 1 : 0;
        offset += model.np[s];
    }
}

void compute_panel_geometry(PanelModel& model, int first, int last)
{
    for (int p = first; p < last; ++p) {
        const std::size_t p3 = at(p, 3), p4 = at(p, 4), p9 = at(p, 9);
        if (model.active[p] != 1) {
            for (int r = 0; r < 3; ++r)
                model.colloc[p3 + r] = 0.0f;
            for (int r = 0; r < 9; ++r)
                model.frame[p9 + r] = model.midline_frame[p9 + r] = 0.0f;
            for (int k = 0; k < 4; ++k)
                model.xi[p4 + k] = model.eta[p4 + k] = model.sides[p4 + k] = 0.0f;
            for (int k = 0; k < kMomentCount; ++k)
                model.moments[at(p, kMomentCount) + k] = 0.0f;
            for (int k = 0; k < kModeCount; ++k)
                model.gnormal[at(p, kModeCount) + k] = 0.0f;
            model.midline_len1[p] = 1.0f;
            model.midline_len2[p] = 1.0f;
            model.midline_slope[p] = 0.0f;
            model.midline_cos[p] = 0.0f;
            continue;
        }
        const PanelGeometry g = panel_geometry(
            std::span<const float, kCornerStride>(&model.corners[at(p, kCornerStride)], kCornerStride));
        for (int r = 0; r < 3; ++r)
            model.colloc[p3 + r] = g.colloc[r];
        for (int r = 0; r < 9; ++r) {
            model.frame[p9 + r] = g.frame[r];
            model.midline_frame[p9 + r] = g.midline_frame[r];
        }
        for (int k = 0; k < 4; ++k) {
            model.xi[p4 + k] = g.xi[k];
            model.eta[p4 + k] = g.eta[k];
            model.sides[p4 + k] = g.sides[k];
        }
        for (int k = 0; k < kMomentCount; ++k)
            model.moments[at(p, kMomentCount) + k] = g.moments[k];
        for (int k = 0; k < kModeCount; ++k)
            model.gnormal[at(p, kModeCount) + k] = g.gnormal[k];
        model.midline_len1[p] = g.midline_len1;
        model.midline_len2[p] = g.midline_len2;
        model.midline_slope[p] = g.midline_slope;
        model.midline_cos[p] = g.midline_cos;

        // Inverse of the midline frame (rows t1, t2, n), in place in its table.
        float* inverse = &model.inv_midline_frame[p9];
        for (int r = 0; r < 9; ++r)
            inverse[r] = g.midline_frame[r];
        float unused_rhs[1] = {0.0f};
        gauss_jordan_solve(inverse, 3, 3, unused_rhs, 0, 1);
    }
}

void compute_surface_metric(PanelModel& model, int first_sheet)
{
    const int n_read = model.n_panels;
    // Centroid of panel index q; indices past the panels read hold zeros, as the tables
    // beyond them do (a one-panel-wide sheet reaches past its last ghost row).
    const auto centroid = [&model, n_read](int q, int r) -> float {
        return (q >= 0 && q < n_read) ? model.colloc[at(q, 3) + r] : 0.0f;
    };
    // Second-order difference of the centroids at index p along a direction whose
    // neighbours are `step` apart; `pos` is the panel's position along it (1 .. last).
    const auto difference = [&centroid](int p, int step, int pos, int last, int r) -> float {
        if (pos == 1)
            return (-3.0f * centroid(p, r) + 4.0f * centroid(p + step, r) - centroid(p + 2 * step, r)) / 2.0f;
        if (pos == last)
            return (centroid(p - 2 * step, r) - 4.0f * centroid(p - step, r) + 3.0f * centroid(p, r)) / 2.0f;
        return (centroid(p + step, r) - centroid(p - step, r)) / 2.0f;
    };

    int offset = sheet_first_panel(model, first_sheet);
    for (int s = first_sheet; s < model.n_sheets; ++s) {
        const int np1 = model.np1[s], np2 = model.np2[s];
        for (int j = 1; j <= np2 - 2; ++j) {
            for (int i = 1; i <= np1 - 2; ++i) {
                const int p = offset + i + j * np1;
                float* m = &model.metric_inv[at(p, 9)];
                // rows dc/di, dc/dj, n stored column by column: m[row + 3 * column]
                for (int r = 0; r < 3; ++r) {
                    m[0 + 3 * r] = difference(p, 1, i, np1 - 2, r);
                    m[1 + 3 * r] = difference(p, np1, j, np2 - 2, r);
                    m[2 + 3 * r] = model.gnormal[at(p, kModeCount) + r];
                }
                float unused_rhs[1] = {0.0f};
                gauss_jordan_solve(m, 3, 3, unused_rhs, 0, 1);
            }
        }
        offset += model.np[s];
    }
}

}  // namespace torva
