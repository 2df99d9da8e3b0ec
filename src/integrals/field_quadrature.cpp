// Field quadrature (formulas (1)-(5) in field_quadrature.hpp).
//
// The batching: each routine first expresses every pair in the panel's frame, then sorts
// the pairs by regime and evaluates each regime in its own pass, so that only the near
// pairs pay for logarithms and arctangents.  vquadr (one panel, all points) works in
// double precision on index lists.  The row variant (one point, all panels) sweeps the far
// expansion over all panels on contiguous structure-of-arrays data, which the compiler
// turns into vector code; the few near and intermediate panels are then evaluated again
// from their lists and overwrite their rows, and inactive panels are zeroed.

#include "integrals/field_quadrature.hpp"

#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "integrals/field_quadrature_series.hpp"
#include "integrals/panel_twist.hpp"

namespace torva {

using namespace field_series;

// ---- the three regimes ------------------------------------------------------------------------

namespace {

// The twist of panel i (0-based), 0 when the panels come without their corner record.
double lift_of(const QuadraturePanels& panels, std::size_t i) noexcept
{
    if (panels.corners.empty()) return 0.0;
    const std::array<double, 3> normal = {panels.frame[9 * i + 2], panels.frame[9 * i + 5], panels.frame[9 * i + 8]};
    return panel_lift(panels.corners.data() + 12 * i, normal);
}

}  // namespace

template <class Real>
DensityIntegrals<Real> near_density_integrals(Real xi, Real eta, Real zeta,
                                              const PanelPolygon<Real>& polygon, Real lift) noexcept
{
    const PolygonIntegrals<Real> p = polygon_integrals(xi, eta, zeta, polygon, kPolygonMoments);
    // xi' = xi + u, eta' = eta + v about the foot (xi, eta).
    const Real x = xi;
    const Real y = eta;
    DensityIntegrals<Real> out;
    out.source[0] = p.source;
    out.source[1] = x * p.source + p.source_u;
    out.source[2] = y * p.source + p.source_v;
    out.source[3] = x * x * p.source + Real(2) * x * p.source_u + p.source_uu;
    out.source[4] = y * y * p.source + Real(2) * y * p.source_v + p.source_vv;
    out.source[5] = x * y * p.source + x * p.source_v + y * p.source_u + p.source_uv;
    out.dipole[0] = lift == Real(0) ? p.dipole
                                    : twisted_panel_dipole(xi, eta, zeta, polygon.xi, polygon.eta, lift, polygon.area);
    out.dipole[1] = x * p.dipole + p.dipole_u;
    out.dipole[2] = y * p.dipole + p.dipole_v;
    out.dipole[3] = x * x * p.dipole + Real(2) * x * p.dipole_u + p.dipole_uu;
    out.dipole[4] = y * y * p.dipole + Real(2) * y * p.dipole_v + p.dipole_vv;
    out.dipole[5] = x * y * p.dipole + x * p.dipole_v + y * p.dipole_u + p.dipole_uv;
    return out;
}

namespace {

template <int Order, class Real>
DensityIntegrals<Real> expand(Real xi, Real eta, Real zeta, const std::array<Real, kMomentCount>& moments,
                              bool intermediate, const TwistMoments<Real>& twist) noexcept
{
    const InverseDistanceTaylor<Real, Order, 1> a(xi, eta, zeta);
    DensityIntegrals<Real> out;
    for (int d = 0; d < kDensityModes; ++d) {
        const int da = kDensityA[d];
        const int db = kDensityB[d];
        const int top = intermediate ? 4 - da - db : 2;
        Real source = 0;
        Real dipole = 0;
        // Highest order first: the small terms are added before the large ones.
        for (int order = top; order >= 0; --order) {
            for (int n = 0; n <= order; ++n) {
                const int m = order - n;
                const Real moment = moments[static_cast<std::size_t>(moment_slot(m + da, n + db))];
                source += moment * a(m, n, 0);
                dipole += moment * a(m, n, 1);
            }
        }
        if (d == 0) dipole += (twist.w20 * a(2, 0, 0) + twist.w11 * a(1, 1, 0)) + twist.w02 * a(0, 2, 0);
        out.source[static_cast<std::size_t>(d)] = source;
        out.dipole[static_cast<std::size_t>(d)] = dipole;
    }
    return out;
}

}  // namespace

template <class Real>
DensityIntegrals<Real> expansion_density_integrals(Real xi, Real eta, Real zeta,
                                                   const std::array<Real, kMomentCount>& moments,
                                                   bool intermediate, const TwistMoments<Real>& twist) noexcept
{
    // Taylor orders: 4 (or 2) for the sources, one more for the dipoles' k3 = 1.
    return intermediate ? expand<5>(xi, eta, zeta, moments, true, twist)
                        : expand<3>(xi, eta, zeta, moments, false, twist);
}

template DensityIntegrals<float> near_density_integrals<float>(float, float, float, const PanelPolygon<float>&,
                                                               float) noexcept;
template DensityIntegrals<double> near_density_integrals<double>(double, double, double,
                                                                 const PanelPolygon<double>&, double) noexcept;
template DensityIntegrals<float> expansion_density_integrals<float>(
    float, float, float, const std::array<float, kMomentCount>&, bool, const TwistMoments<float>&) noexcept;
template DensityIntegrals<double> expansion_density_integrals<double>(
    double, double, double, const std::array<double, kMomentCount>&, bool, const TwistMoments<double>&) noexcept;

// ---- vquadr ---------------------------------------------------------------------------------

QuadraturePanels quadrature_panels(const PanelModel& model)
{
    return {model.colloc, model.frame, model.xi, model.eta, model.moments, model.active, model.corners};
}

void vquadr(int panel_number, int n, const QuadraturePanels& panels,
            std::span<float> result, float depth)
{
    const bool mirrored = panel_number < 0;
    const auto i = static_cast<std::size_t>(to_panel_index(std::abs(panel_number)));
    const double cx = panels.colloc[3 * i];
    const double cy = panels.colloc[3 * i + 1];
    const double cz = panels.colloc[3 * i + 2];
    std::array<double, 9> frame{};
    for (std::size_t k = 0; k < 9; ++k) frame[k] = panels.frame[9 * i + k];
    std::array<double, kMomentCount> moments{};
    for (std::size_t k = 0; k < kMomentCount; ++k) moments[k] = panels.moments[kMomentCount * i + k];
    PanelPolygon<double> polygon;
    for (std::size_t k = 0; k < 4; ++k) {
        polygon.xi[k] = panels.xi[4 * i + k];
        polygon.eta[k] = panels.eta[4 * i + k];
    }
    for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t e = (k + 1) % 4;
        polygon.sides[k] = std::hypot(polygon.xi[e] - polygon.xi[k], polygon.eta[e] - polygon.eta[k]);
    }
    const double area = moments[0];
    polygon.area = area;
    const double lift = lift_of(panels, i);
    const TwistMoments<double> twist = twist_moments(polygon.xi, polygon.eta, lift);

    const auto count = static_cast<std::size_t>(n);
    std::vector<double> xi, eta, zeta;
    std::vector<int> near, intermediate, far;
    with_work_memory([&] {
        xi.resize(count);
        eta.resize(count);
        zeta.resize(count);
        near.reserve(count);
        intermediate.reserve(count);
        far.reserve(count);
    });

    // The image of the panel in the bottom: c -> (c_x, c_y, -c_z - 2 depth), and the frame
    // reflected with it, which amounts to negating d_z; the y-mirror likewise negates y.
    const double bottom = 2.0 * static_cast<double>(depth);
    for (int j = 0; j < n; ++j) {
        const auto jj = static_cast<std::size_t>(j);
        if (panels.active[jj] == 0) {
            zero_row(result, n, j, kDensityColumns);
            continue;
        }
        const double y = panels.colloc[3 * jj + 1];
        const double dx = static_cast<double>(panels.colloc[3 * jj]) - cx;
        const double dy = (mirrored ? -y : y) - cy;
        const double dz = static_cast<double>(panels.colloc[3 * jj + 2]) + cz + bottom;
        xi[jj] = frame[0] * dx + frame[3] * dy + frame[6] * dz;
        eta[jj] = frame[1] * dx + frame[4] * dy + frame[7] * dz;
        zeta[jj] = frame[2] * dx + frame[5] * dy + frame[8] * dz;
        const double r2 = xi[jj] * xi[jj] + eta[jj] * eta[jj] + zeta[jj] * zeta[jj];
        switch (field_regime(r2, area)) {
        case FieldRegime::near: near.push_back(j); break;
        case FieldRegime::intermediate: intermediate.push_back(j); break;
        case FieldRegime::far: far.push_back(j); break;
        }
    }
    for (const int j : near) {
        const auto jj = static_cast<std::size_t>(j);
        store_row(result, n, j, near_density_integrals(xi[jj], eta[jj], zeta[jj], polygon, lift));
    }
    for (const int j : intermediate) {
        const auto jj = static_cast<std::size_t>(j);
        store_row(result, n, j, expansion_density_integrals(xi[jj], eta[jj], zeta[jj], moments, true, twist));
    }
    for (const int j : far) {
        const auto jj = static_cast<std::size_t>(j);
        store_row(result, n, j, expansion_density_integrals(xi[jj], eta[jj], zeta[jj], moments, false, twist));
    }
}

void vquadr(int panel_number, int n, const PanelModel& model,
            std::span<float> result, float depth)
{
    vquadr(panel_number, n, quadrature_panels(model), result, depth);
}

// ---- row variant ----------------------------------------------------------------------------

RowPanels make_row_panels(const QuadraturePanels& panels, int n)
{
    RowPanels rows;
    const auto count = static_cast<std::size_t>(n);
    with_work_memory([&] {
        for (auto& v : rows.centre) v.resize(count);
        for (auto& v : rows.frame) v.resize(count);
        for (auto& v : rows.moment) v.resize(count);
        rows.active.resize(count);
        rows.polygon.resize(count);
        rows.lift.resize(count);
        for (auto& v : rows.twist) v.resize(count);
    });
    rows.n = n;
    for (std::size_t j = 0; j < count; ++j) {
        for (std::size_t k = 0; k < 3; ++k) rows.centre[k][j] = panels.colloc[3 * j + k];
        for (std::size_t k = 0; k < 9; ++k) rows.frame[k][j] = panels.frame[9 * j + k];
        for (std::size_t k = 0; k < kMomentCount; ++k) rows.moment[k][j] = panels.moments[kMomentCount * j + k];
        rows.active[j] = panels.active[j];
        PanelPolygon<float>& polygon = rows.polygon[j];
        for (std::size_t k = 0; k < 4; ++k) {
            polygon.xi[k] = panels.xi[4 * j + k];
            polygon.eta[k] = panels.eta[4 * j + k];
        }
        for (std::size_t k = 0; k < 4; ++k) {
            const std::size_t e = (k + 1) % 4;
            const float dx = polygon.xi[e] - polygon.xi[k];
            const float dy = polygon.eta[e] - polygon.eta[k];
            polygon.sides[k] = std::sqrt(dx * dx + dy * dy);
        }
        polygon.area = rows.moment[0][j];
        const double lift = lift_of(panels, j);
        rows.lift[j] = static_cast<float>(lift);
        const TwistMoments<float> w = twist_moments(polygon.xi, polygon.eta, lift);
        rows.twist[0][j] = w.w20;
        rows.twist[1][j] = w.w11;
        rows.twist[2][j] = w.w02;
    }
    return rows;
}

RowPanels make_row_panels(const PanelModel& model)
{
    return make_row_panels(quadrature_panels(model), model.n_panels);
}

// ---- B-spline pieces -------------------------------------------------------------------------

PieceGeometry piece_geometry(const PanelModel& model, int panel_number)
{
    const auto i = static_cast<std::size_t>(to_panel_index(panel_number));
    PieceGeometry g;
    g.a = model.midline_len1[i];
    g.b = model.midline_len2[i];
    g.m = -static_cast<double>(model.midline_slope[i]);
    g.c = model.midline_cos[i];
    return g;
}

std::array<double, 9> spline_piece_values(const std::array<double, kDensityModes>& density,
                                          const PieceGeometry& geometry,
                                          const std::array<int, 3>& switches,
                                          const std::array<float, 9>& weights) noexcept
{
    // (4): b_i = C_i + L_i u + Q_i u^2.
    constexpr double kC[3] = {0.125, 0.75, 0.125};
    constexpr double kL[3] = {-0.5, 0.0, 0.5};
    constexpr double kQ[3] = {0.5, -1.0, 0.5};
    const double a = geometry.a;
    const double bc = geometry.b * geometry.c;
    const double m = geometry.m;
    const double i_xi = density[1], i_eta = density[2];
    const double i_xixi = density[3], i_etaeta = density[4], i_xieta = density[5];
    const double i_s = (i_xi - m * i_eta) / a;
    const double i_t = i_eta / bc;
    const double i_ss = (i_xixi - 2.0 * m * i_xieta + m * m * i_etaeta) / (a * a);
    const double i_tt = i_etaeta / (bc * bc);
    const double i_st = (i_xieta - m * i_etaeta) / (a * bc);

    std::array<double, 9> piece{};
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            const auto k = static_cast<std::size_t>(i + 3 * j);
            double value = 0.0;
            if (switches[0] == 1) value = static_cast<double>(weights[k]) * density[0];
            if (switches[1] == 1) value += 64.0 * (kL[i] * kC[j] * i_s + kC[i] * kL[j] * i_t);
            if (switches[2] == 1)
                value += 64.0 * (kQ[i] * kC[j] * i_ss + kC[i] * kQ[j] * i_tt + kL[i] * kL[j] * i_st);
            piece[k] = value;
        }
    }
    return piece;
}

namespace {

// Row j of an n x 18 array from row j of an n x 12 array.
void weighted_row(std::span<const float> panel, std::span<float> weighted, int n, std::size_t j,
                  const PieceGeometry& geometry, const std::array<int, 3>& switches,
                  const std::array<float, 9>& weights) noexcept
{
    const auto rows = static_cast<std::size_t>(n);
    std::array<double, kDensityModes> source{}, dipole{};
    for (std::size_t d = 0; d < kDensityModes; ++d) {
        source[d] = panel[j + d * rows];
        dipole[d] = panel[j + (d + kDensityModes) * rows];
    }
    const std::array<double, 9> s = spline_piece_values(source, geometry, switches, weights);
    const std::array<double, 9> q = spline_piece_values(dipole, geometry, switches, weights);
    for (std::size_t k = 0; k < 9; ++k) {
        weighted[j + k * rows] = static_cast<float>(s[k]);
        weighted[j + (k + 9) * rows] = static_cast<float>(q[k]);
    }
}

}  // namespace

void vquadr_spline(int symmetry, int panel_number, int n,
                   const QuadraturePanels& panels, const PieceGeometry& geometry,
                   std::span<float> panel_sum, std::span<float> weighted_sum,
                   std::span<float> panel_diff, std::span<float> weighted_diff,
                   const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                   float depth)
{
    const auto count = static_cast<std::size_t>(n);
    vquadr(panel_number, n, panels, panel_sum, depth);
    if (symmetry == 1) {
        std::span<float> image = weighted_sum.first(count * kDensityColumns);
        vquadr(-panel_number, n, panels, image, depth);
        for (std::size_t k = 0; k < count * kDensityColumns; ++k) {
            const float direct = panel_sum[k];
            panel_diff[k] = direct - image[k];
            panel_sum[k] = direct + image[k];
        }
    }
    for (std::size_t j = 0; j < count; ++j) {
        if (panels.active[j] == 0) {
            zero_row(weighted_sum, n, static_cast<int>(j), kPieceColumns);
            if (symmetry == 1) zero_row(weighted_diff, n, static_cast<int>(j), kPieceColumns);
            continue;
        }
        weighted_row(panel_sum, weighted_sum, n, j, geometry, switches, weights);
        if (symmetry == 1) weighted_row(panel_diff, weighted_diff, n, j, geometry, switches, weights);
    }
}

void vquadr_spline(const PanelModel& model, int symmetry, int panel_number,
                   int n, std::span<float> panel_sum, std::span<float> weighted_sum,
                   std::span<float> panel_diff, std::span<float> weighted_diff,
                   const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                   float depth)
{
    vquadr_spline(symmetry, panel_number, n, quadrature_panels(model),
                  piece_geometry(model, panel_number), panel_sum, weighted_sum, panel_diff,
                  weighted_diff, switches, weights, depth);
}

}  // namespace torva
