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

#include "frame/run_stop.hpp"
#include "integrals/panel_twist.hpp"
#include "integrals/vector_lanes.hpp"

namespace torva {

namespace {

// Slot of M(m, n) in the 15-value table (n outer, m inner, m + n <= 4).
[[nodiscard]] constexpr int moment_slot(int m, int n) noexcept
{
    constexpr int kBase[5] = {0, 5, 9, 12, 14};
    return kBase[n] + m;
}

// Exponents (a, b) of the six densities.
constexpr int kDensityA[kDensityModes] = {0, 1, 0, 2, 0, 1};
constexpr int kDensityB[kDensityModes] = {0, 0, 1, 0, 2, 1};

template <class Fn>
void with_work_memory(int listing_unit, Fn&& allocate)
{
    try {
        allocate();
    } catch (const std::bad_alloc&) {
        stop_run_on(listing_unit, {kVquadrMemoryMessage});
    } catch (const std::length_error&) {
        stop_run_on(listing_unit, {kVquadrMemoryMessage});
    }
}

template <class Real>
void store_row(std::span<float> result, int n, int j, const DensityIntegrals<Real>& d) noexcept
{
    const auto rows = static_cast<std::size_t>(n);
    const auto row = static_cast<std::size_t>(j);
    for (std::size_t i = 0; i < kDensityModes; ++i) {
        result[row + i * rows] = static_cast<float>(d.source[i]);
        result[row + (i + kDensityModes) * rows] = static_cast<float>(d.dipole[i]);
    }
}

// The twist of panel i (0-based), 0 when the panels come without their corner record.
double lift_of(const QuadraturePanels& panels, std::size_t i) noexcept
{
    if (panels.corners.empty()) return 0.0;
    const std::array<double, 3> normal = {panels.frame[9 * i + 2], panels.frame[9 * i + 5], panels.frame[9 * i + 8]};
    return panel_lift(panels.corners.data() + 12 * i, normal);
}

void zero_row(std::span<float> result, int n, int j, int columns) noexcept
{
    for (int c = 0; c < columns; ++c)
        result[static_cast<std::size_t>(j) + static_cast<std::size_t>(c) * static_cast<std::size_t>(n)] = 0.0f;
}

}  // namespace

// ---- the three regimes ------------------------------------------------------------------------

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

void vquadr(int listing_unit, int panel_number, int n, const QuadraturePanels& panels,
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
    with_work_memory(listing_unit, [&] {
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

void vquadr(int listing_unit, int panel_number, int n, const PanelModel& model,
            std::span<float> result, float depth)
{
    vquadr(listing_unit, panel_number, n, quadrature_panels(model), result, depth);
}

// ---- row variant ----------------------------------------------------------------------------

RowPanels make_row_panels(const QuadraturePanels& panels, int n, int listing_unit)
{
    RowPanels rows;
    const auto count = static_cast<std::size_t>(n);
    with_work_memory(listing_unit, [&] {
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

RowPanels make_row_panels(const PanelModel& model, int listing_unit)
{
    return make_row_panels(quadrature_panels(model), model.n_panels, listing_unit);
}

namespace {

// The far series (3) with m + n <= 2 for one density xi^A eta^B, from the explicit Taylor
// coefficients
//     a000 = 1/r,  a100 = xi/r^3,  a010 = eta/r^3,  a001 = zeta/r^3,
//     a200 = (3 xi^2 - r^2)/(2 r^5),  a110 = 3 xi eta/r^5,  a020 = (3 eta^2 - r^2)/(2 r^5),
//     a101 = 3 xi zeta/r^5,  a011 = 3 eta zeta/r^5,
//     a201 = zeta (15 xi^2 - 3 r^2)/(2 r^7),  a111 = 15 xi eta zeta/r^7,
//     a021 = zeta (15 eta^2 - 3 r^2)/(2 r^7)
// (the recurrence of source_kernel.hpp written out).
template <class T>
struct FarCoefficients {
    T a000, a100, a010, a200, a110, a020;
    T a001, a101, a011, a201, a111, a021;
};

// The coefficients at (x, y, z) with r^2 = x^2 + y^2 + z^2 and u = 1/r; T is float or a
// vector of 8 floats (the same operations lane by lane).
template <class T>
[[gnu::always_inline]] inline FarCoefficients<T> far_coefficients(const T& x, const T& y, const T& z,
                                                                  const T& r2, const T& u) noexcept
{
    const T u2 = u * u;
    const T u3 = u * u2;
    const T u5 = u3 * u2;
    const T u7 = u5 * u2;
    FarCoefficients<T> t;
    t.a000 = u;
    t.a100 = x * u3;
    t.a010 = y * u3;
    t.a200 = (1.5f * x * x - 0.5f * r2) * u5;
    t.a110 = 3.0f * x * y * u5;
    t.a020 = (1.5f * y * y - 0.5f * r2) * u5;
    t.a001 = z * u3;
    t.a101 = 3.0f * x * z * u5;
    t.a011 = 3.0f * y * z * u5;
    t.a201 = z * (7.5f * x * x - 1.5f * r2) * u7;
    t.a111 = 15.0f * x * y * z * u7;
    t.a021 = z * (7.5f * y * y - 1.5f * r2) * u7;
    return t;
}

template <int A, int B, class T>
[[gnu::always_inline]] inline void far_density(const FarCoefficients<T>& t, const T (&moment)[kMomentCount],
                                               T& source, T& dipole) noexcept
{
    const T m00 = moment[moment_slot(A, B)];
    const T m10 = moment[moment_slot(A + 1, B)];
    const T m01 = moment[moment_slot(A, B + 1)];
    const T m20 = moment[moment_slot(A + 2, B)];
    const T m11 = moment[moment_slot(A + 1, B + 1)];
    const T m02 = moment[moment_slot(A, B + 2)];
    source = ((m20 * t.a200 + m11 * t.a110 + m02 * t.a020) + (m10 * t.a100 + m01 * t.a010)) + m00 * t.a000;
    dipole = ((m20 * t.a201 + m11 * t.a111 + m02 * t.a021) + (m10 * t.a101 + m01 * t.a011)) + m00 * t.a001;
}

// The panel twist's share of the constant density's dipole (panel_twist.hpp, (4)), added to
// far_density<0, 0>'s; expand adds the same sum in the same order.
template <class T>
[[gnu::always_inline]] inline T far_twist(const FarCoefficients<T>& t, const T& w20, const T& w11, const T& w02) noexcept
{
    return (w20 * t.a200 + w11 * t.a110) + w02 * t.a020;
}

// The far sweep of vquadr_row.  Every array is named by its own restrict pointer, so that
// the compiler sees plain streams that do not alias.  The loop becomes vector code when
// the square root need not report to errno (-fno-math-errno); with errno semantics the
// compiler keeps a scalar branch around every root.
void far_sweep(float fx, float fy, float fz, std::size_t count, const RowPanels& panels,
               std::span<float> result, float* __restrict xi, float* __restrict eta,
               float* __restrict zeta) noexcept
{
    const float* __restrict cx = panels.centre[0].data();
    const float* __restrict cy = panels.centre[1].data();
    const float* __restrict cz = panels.centre[2].data();
    const float* __restrict r0 = panels.frame[0].data();
    const float* __restrict r1 = panels.frame[1].data();
    const float* __restrict r2p = panels.frame[2].data();
    const float* __restrict r3 = panels.frame[3].data();
    const float* __restrict r4 = panels.frame[4].data();
    const float* __restrict r5 = panels.frame[5].data();
    const float* __restrict r6 = panels.frame[6].data();
    const float* __restrict r7 = panels.frame[7].data();
    const float* __restrict r8 = panels.frame[8].data();
    const float* __restrict p0 = panels.moment[0].data();
    const float* __restrict p1 = panels.moment[1].data();
    const float* __restrict p2 = panels.moment[2].data();
    const float* __restrict p3 = panels.moment[3].data();
    const float* __restrict p4 = panels.moment[4].data();
    const float* __restrict p5 = panels.moment[5].data();
    const float* __restrict p6 = panels.moment[6].data();
    const float* __restrict p7 = panels.moment[7].data();
    const float* __restrict p8 = panels.moment[8].data();
    const float* __restrict p9 = panels.moment[9].data();
    const float* __restrict p10 = panels.moment[10].data();
    const float* __restrict p11 = panels.moment[11].data();
    const float* __restrict p12 = panels.moment[12].data();
    const float* __restrict p13 = panels.moment[13].data();
    const float* __restrict p14 = panels.moment[14].data();
    const float* __restrict w20 = panels.twist[0].data();
    const float* __restrict w11 = panels.twist[1].data();
    const float* __restrict w02 = panels.twist[2].data();
    float* __restrict s0 = result.data();
    float* __restrict s1 = s0 + count;
    float* __restrict s2 = s1 + count;
    float* __restrict s3 = s2 + count;
    float* __restrict s4 = s3 + count;
    float* __restrict s5 = s4 + count;
    float* __restrict d0 = s5 + count;
    float* __restrict d1 = d0 + count;
    float* __restrict d2 = d1 + count;
    float* __restrict d3 = d2 + count;
    float* __restrict d4 = d3 + count;
    float* __restrict d5 = d4 + count;
    // Near, intermediate or inactive panels get (possibly non-finite) values here that are
    // replaced afterwards.
    for (std::size_t j = 0; j < count; ++j) {
        const float dx = fx - cx[j];
        const float dy = fy - cy[j];
        const float dz = fz - cz[j];
        const float x = r0[j] * dx + r3[j] * dy + r6[j] * dz;
        const float y = r1[j] * dx + r4[j] * dy + r7[j] * dz;
        const float z = r2p[j] * dx + r5[j] * dy + r8[j] * dz;
        xi[j] = x;
        eta[j] = y;
        zeta[j] = z;
        const float r2 = x * x + y * y + z * z;
        const float u = 1.0f / std::sqrt(r2);
        const FarCoefficients<float> t = far_coefficients(x, y, z, r2, u);
        const float moment[kMomentCount] = {p0[j], p1[j], p2[j],  p3[j],  p4[j],
                                            p5[j], p6[j], p7[j],  p8[j],  p9[j],
                                            p10[j], p11[j], p12[j], p13[j], p14[j]};
        far_density<0, 0>(t, moment, s0[j], d0[j]);
        d0[j] += far_twist(t, w20[j], w11[j], w02[j]);
        far_density<1, 0>(t, moment, s1[j], d1[j]);
        far_density<0, 1>(t, moment, s2[j], d2[j]);
        far_density<2, 0>(t, moment, s3[j], d3[j]);
        far_density<0, 2>(t, moment, s4[j], d4[j]);
        far_density<1, 1>(t, moment, s5[j], d5[j]);
    }
}

}  // namespace

void vquadr_row(int listing_unit, const std::array<float, 3>& field, int n,
                const RowPanels& panels, std::span<float> result, RowWorkspace& work)
{
    const auto count = static_cast<std::size_t>(n);
    with_work_memory(listing_unit, [&] {
        work.xi.resize(count);
        work.eta.resize(count);
        work.zeta.resize(count);
        work.near.clear();
        work.intermediate.clear();
        work.near.reserve(count);
        work.intermediate.reserve(count);
    });

    const float fx = field[0];
    const float fy = field[1];
    const float fz = field[2];
    const float* moment[kMomentCount];
    for (std::size_t k = 0; k < kMomentCount; ++k) moment[k] = panels.moment[k].data();
    float* xi = work.xi.data();
    float* eta = work.eta.data();
    float* zeta = work.zeta.data();

    far_sweep(fx, fy, fz, count, panels, result, xi, eta, zeta);

    for (std::size_t j = 0; j < count; ++j) {
        if (panels.active[j] == 0) {
            zero_row(result, n, static_cast<int>(j), kDensityColumns);
            continue;
        }
        const float r2 = xi[j] * xi[j] + eta[j] * eta[j] + zeta[j] * zeta[j];
        switch (field_regime(r2, panels.moment[0][j])) {
        case FieldRegime::near: work.near.push_back(static_cast<int>(j)); break;
        case FieldRegime::intermediate: work.intermediate.push_back(static_cast<int>(j)); break;
        case FieldRegime::far: break;
        }
    }
    for (const int j : work.near) {
        const auto jj = static_cast<std::size_t>(j);
        store_row(result, n, j, near_density_integrals(xi[jj], eta[jj], zeta[jj], panels.polygon[jj], panels.lift[jj]));
    }
    for (const int j : work.intermediate) {
        const auto jj = static_cast<std::size_t>(j);
        std::array<float, kMomentCount> m{};
        for (std::size_t k = 0; k < kMomentCount; ++k) m[k] = moment[k][jj];
        const TwistMoments<float> w = {panels.twist[0][jj], panels.twist[1][jj], panels.twist[2][jj]};
        store_row(result, n, j, expansion_density_integrals(xi[jj], eta[jj], zeta[jj], m, true, w));
    }
}

void vquadr_row(int listing_unit, const std::array<float, 3>& field, int n,
                const RowPanels& panels, std::span<float> result)
{
    RowWorkspace work;
    vquadr_row(listing_unit, field, n, panels, result, work);
}

// ---- row variant, 8 panels at a time ---------------------------------------------------------
//
// vquadr_row_vectorised gives vquadr_row's result bit for bit: the far sweep runs the same
// far_coefficients / far_density operations on vectors of 8 panels, the intermediate list
// runs expand<5>'s recurrence and sums on vectors of 8 gathered pairs, and the near list
// calls near_density_integrals itself.  The sweep also notes which panels need more than the
// far series (inactive, or r^2 < 150 S), so the lists are formed without a second pass over
// all panels.

namespace {

using lanes::Floats;

[[gnu::always_inline]] inline void row_far_lanes_body(float fx, float fy, float fz, const RowPanels& panels,
                                                      float* result, float* xi, float* eta, float* zeta,
                                                      std::vector<int>& special) noexcept
{
    const std::size_t count = static_cast<std::size_t>(panels.n);
    float* s[kDensityModes];
    float* d[kDensityModes];
    for (std::size_t c = 0; c < kDensityModes; ++c) {
        s[c] = result + c * count;
        d[c] = result + (c + kDensityModes) * count;
    }
    const int* active = panels.active.data();
    std::size_t j = 0;
    for (; j + lanes::kWidth <= count; j += lanes::kWidth) {
        Floats f[9];
        for (std::size_t k = 0; k < 9; ++k) f[k] = lanes::load(panels.frame[k].data() + j);
        const Floats dx = fx - lanes::load(panels.centre[0].data() + j);
        const Floats dy = fy - lanes::load(panels.centre[1].data() + j);
        const Floats dz = fz - lanes::load(panels.centre[2].data() + j);
        const Floats x = f[0] * dx + f[3] * dy + f[6] * dz;
        const Floats y = f[1] * dx + f[4] * dy + f[7] * dz;
        const Floats z = f[2] * dx + f[5] * dy + f[8] * dz;
        lanes::store(xi + j, x);
        lanes::store(eta + j, y);
        lanes::store(zeta + j, z);
        const Floats r2 = x * x + y * y + z * z;
        const Floats u = 1.0f / lanes::sqrt(r2);
        const FarCoefficients<Floats> t = far_coefficients(x, y, z, r2, u);
        Floats moment[kMomentCount];
        for (std::size_t k = 0; k < kMomentCount; ++k) moment[k] = lanes::load(panels.moment[k].data() + j);
        Floats source, dipole;
        far_density<0, 0>(t, moment, source, dipole);
        dipole += far_twist(t, lanes::load(panels.twist[0].data() + j), lanes::load(panels.twist[1].data() + j),
                            lanes::load(panels.twist[2].data() + j));
        lanes::store(s[0] + j, source);
        lanes::store(d[0] + j, dipole);
        far_density<1, 0>(t, moment, source, dipole);
        lanes::store(s[1] + j, source);
        lanes::store(d[1] + j, dipole);
        far_density<0, 1>(t, moment, source, dipole);
        lanes::store(s[2] + j, source);
        lanes::store(d[2] + j, dipole);
        far_density<2, 0>(t, moment, source, dipole);
        lanes::store(s[3] + j, source);
        lanes::store(d[3] + j, dipole);
        far_density<0, 2>(t, moment, source, dipole);
        lanes::store(s[4] + j, source);
        lanes::store(d[4] + j, dipole);
        far_density<1, 1>(t, moment, source, dipole);
        lanes::store(s[5] + j, source);
        lanes::store(d[5] + j, dipole);
        // field_regime's far test is r^2 >= 150 S; everything else is looked at again.
        lanes::Ints flag;
        __builtin_memcpy(&flag, active + j, sizeof flag);
        const lanes::Ints again = (r2 < 150.0f * moment[0]) | (flag == 0);
        int any = 0;
        for (int i = 0; i < lanes::kWidth; ++i) any |= again[i];
        if (any)
            for (int i = 0; i < lanes::kWidth; ++i)
                if (again[i]) special.push_back(static_cast<int>(j) + i);
    }
    // The last few panels one by one, with the scalar copy of the same operations.
    for (; j < count; ++j) {
        const float dx = fx - panels.centre[0][j];
        const float dy = fy - panels.centre[1][j];
        const float dz = fz - panels.centre[2][j];
        const float x = panels.frame[0][j] * dx + panels.frame[3][j] * dy + panels.frame[6][j] * dz;
        const float y = panels.frame[1][j] * dx + panels.frame[4][j] * dy + panels.frame[7][j] * dz;
        const float z = panels.frame[2][j] * dx + panels.frame[5][j] * dy + panels.frame[8][j] * dz;
        xi[j] = x;
        eta[j] = y;
        zeta[j] = z;
        const float r2 = x * x + y * y + z * z;
        const float u = 1.0f / std::sqrt(r2);
        const FarCoefficients<float> t = far_coefficients(x, y, z, r2, u);
        float moment[kMomentCount];
        for (std::size_t k = 0; k < kMomentCount; ++k) moment[k] = panels.moment[k][j];
        far_density<0, 0>(t, moment, s[0][j], d[0][j]);
        d[0][j] += far_twist(t, panels.twist[0][j], panels.twist[1][j], panels.twist[2][j]);
        far_density<1, 0>(t, moment, s[1][j], d[1][j]);
        far_density<0, 1>(t, moment, s[2][j], d[2][j]);
        far_density<2, 0>(t, moment, s[3][j], d[3][j]);
        far_density<0, 2>(t, moment, s[4][j], d[4][j]);
        far_density<1, 1>(t, moment, s[5][j], d[5][j]);
        if (r2 < 150.0f * moment[0] || active[j] == 0) special.push_back(static_cast<int>(j));
    }
}

// Packed intermediate pairs: slots 0-2 xi, eta, zeta, 3-17 the moments, 18-20 the twist
// weights w20, w11, w02, 21-32 the 12 results, each slot `stride` floats (a multiple of 8).
constexpr std::size_t kPackedTwist = 3 + kMomentCount;
constexpr std::size_t kPackedInputs = kPackedTwist + 3;
constexpr std::size_t kPackedSlots = kPackedInputs + kDensityColumns;

[[gnu::always_inline]] inline void intermediate_lanes_body(float* packed, std::size_t stride) noexcept
{
    for (std::size_t j = 0; j < stride; j += lanes::kWidth) {
        const Floats x = lanes::load(packed + 0 * stride + j);
        const Floats y = lanes::load(packed + 1 * stride + j);
        const Floats z = lanes::load(packed + 2 * stride + j);
        Floats moment[kMomentCount];
        for (std::size_t k = 0; k < kMomentCount; ++k) moment[k] = lanes::load(packed + (3 + k) * stride + j);
        const lanes::Taylor<5, 1> a(x, y, z);
        for (int d = 0; d < kDensityModes; ++d) {
            const int da = kDensityA[d];
            const int db = kDensityB[d];
            const int top = 4 - da - db;
            Floats source = {};
            Floats dipole = {};
            for (int order = top; order >= 0; --order) {
                for (int n = 0; n <= order; ++n) {
                    const int m = order - n;
                    const Floats& mom = moment[moment_slot(m + da, n + db)];
                    source += mom * a(m, n, 0);
                    dipole += mom * a(m, n, 1);
                }
            }
            if (d == 0) {
                const Floats w20 = lanes::load(packed + kPackedTwist * stride + j);
                const Floats w11 = lanes::load(packed + (kPackedTwist + 1) * stride + j);
                const Floats w02 = lanes::load(packed + (kPackedTwist + 2) * stride + j);
                dipole += (w20 * a(2, 0, 0) + w11 * a(1, 1, 0)) + w02 * a(0, 2, 0);
            }
            lanes::store(packed + (kPackedInputs + static_cast<std::size_t>(d)) * stride + j, source);
            lanes::store(packed + (kPackedInputs + kDensityModes + static_cast<std::size_t>(d)) * stride + j, dipole);
        }
    }
}

__attribute__((target("avx2"))) void row_far_lanes_avx2(float fx, float fy, float fz, const RowPanels& panels,
                                                        float* result, float* xi, float* eta, float* zeta,
                                                        std::vector<int>& special)
{
    row_far_lanes_body(fx, fy, fz, panels, result, xi, eta, zeta, special);
}

void row_far_lanes_generic(float fx, float fy, float fz, const RowPanels& panels, float* result, float* xi,
                           float* eta, float* zeta, std::vector<int>& special)
{
    row_far_lanes_body(fx, fy, fz, panels, result, xi, eta, zeta, special);
}

__attribute__((target("avx2"))) void intermediate_lanes_avx2(float* packed, std::size_t stride)
{
    intermediate_lanes_body(packed, stride);
}

void intermediate_lanes_generic(float* packed, std::size_t stride) { intermediate_lanes_body(packed, stride); }

}  // namespace

void vquadr_row_vectorised(int listing_unit, const std::array<float, 3>& field, int n, const RowPanels& panels,
                           std::span<float> result, RowWorkspace& work)
{
    const auto count = static_cast<std::size_t>(n);
    with_work_memory(listing_unit, [&] {
        work.xi.resize(count);
        work.eta.resize(count);
        work.zeta.resize(count);
        work.special.reserve(count);
        work.near.reserve(count);
        work.intermediate.reserve(count);
    });
    work.special.clear();
    work.near.clear();
    work.intermediate.clear();
    float* xi = work.xi.data();
    float* eta = work.eta.data();
    float* zeta = work.zeta.data();
    if (lanes::avx2_enabled()) row_far_lanes_avx2(field[0], field[1], field[2], panels, result.data(), xi, eta, zeta, work.special);
    else row_far_lanes_generic(field[0], field[1], field[2], panels, result.data(), xi, eta, zeta, work.special);

    for (const int j : work.special) {
        const auto jj = static_cast<std::size_t>(j);
        if (panels.active[jj] == 0) {
            zero_row(result, n, j, kDensityColumns);
            continue;
        }
        const float r2 = xi[jj] * xi[jj] + eta[jj] * eta[jj] + zeta[jj] * zeta[jj];
        switch (field_regime(r2, panels.moment[0][jj])) {
        case FieldRegime::near: work.near.push_back(j); break;
        case FieldRegime::intermediate: work.intermediate.push_back(j); break;
        case FieldRegime::far: break;
        }
    }
    for (const int j : work.near) {
        const auto jj = static_cast<std::size_t>(j);
        store_row(result, n, j, near_density_integrals(xi[jj], eta[jj], zeta[jj], panels.polygon[jj], panels.lift[jj]));
    }
    const std::size_t listed = work.intermediate.size();
    if (listed == 0) return;
    const std::size_t stride = (listed + lanes::kWidth - 1) / lanes::kWidth * lanes::kWidth;
    with_work_memory(listing_unit, [&] {
        if (work.packed.size() < kPackedSlots * stride) work.packed.resize(kPackedSlots * stride);
    });
    float* packed = work.packed.data();
    for (std::size_t e = 0; e < stride; ++e) {
        // Lanes past the list repeat its last pair; their results are not used.
        const auto jj = static_cast<std::size_t>(work.intermediate[std::min(e, listed - 1)]);
        packed[0 * stride + e] = xi[jj];
        packed[1 * stride + e] = eta[jj];
        packed[2 * stride + e] = zeta[jj];
        for (std::size_t k = 0; k < kMomentCount; ++k) packed[(3 + k) * stride + e] = panels.moment[k][jj];
        for (std::size_t k = 0; k < 3; ++k) packed[(kPackedTwist + k) * stride + e] = panels.twist[k][jj];
    }
    if (lanes::avx2_enabled()) intermediate_lanes_avx2(packed, stride);
    else intermediate_lanes_generic(packed, stride);
    for (std::size_t e = 0; e < listed; ++e) {
        const auto jj = static_cast<std::size_t>(work.intermediate[e]);
        for (std::size_t c = 0; c < kDensityColumns; ++c)
            result[jj + c * count] = packed[(kPackedInputs + c) * stride + e];
    }
}

// ---- B-spline pieces, a row of panels at a time ---------------------------------------------
//
// (5) regrouped by the first parameter's index i.  With the switches g0, g1, g2 (1 or 0) of
// the constant, linear and quadratic parts,
//     A_i = 64 (L_i g1 I_s + Q_i g2 I_ss),   B_i = 64 (C_i g1 I_t + L_i g2 I_st),   D_i = 64 C_i g2 I_tt,
//     w_(i,j) = T_(i,j) g0 I_0 + C_j A_i + L_j B_i + Q_j D_i,
// and with C_j, L_j, Q_j = (1/8, -1/2, 1/2), (3/4, 0, -1), (1/8, 1/2, 1/2) for j = 0, 1, 2:
//     w_(i,0) = T g0 I_0 + (P_i - H_i),  w_(i,2) = T g0 I_0 + (P_i + H_i),  w_(i,1) = T g0 I_0 + (3/4 A_i - D_i),
//     P_i = A_i/8 + D_i/2,  H_i = B_i/2.
// The same sums as spline_piece_values, grouped so that a panel costs about half the
// operations; in double precision they differ from it by a few units of 1e-16 relative to the
// largest term, and both are rounded to float once.

PieceLanes piece_lanes(const PanelModel& model)
{
    PieceLanes out;
    const auto count = static_cast<std::size_t>(model.n_panels);
    out.m.resize(count);
    out.inv_a.resize(count);
    out.inv_bc.resize(count);
    for (std::size_t q = 0; q < count; ++q) {
        const PieceGeometry g = piece_geometry(model, to_panel_number(static_cast<int>(q)));
        out.m[q] = g.m;
        out.inv_a[q] = 1.0 / g.a;
        out.inv_bc[q] = 1.0 / (g.b * g.c);
    }
    return out;
}

namespace {

// The constants of one call: the weight table and the switches folded into the factors.
struct PieceFactors {
    double w[9];          // T_k g0
    double a_s[3], a_ss[3], b_t[3], b_st[3], d_tt[3];
};

PieceFactors piece_factors(const std::array<int, 3>& switches, const std::array<float, 9>& weights) noexcept
{
    constexpr double kC[3] = {0.125, 0.75, 0.125};
    constexpr double kL[3] = {-0.5, 0.0, 0.5};
    constexpr double kQ[3] = {0.5, -1.0, 0.5};
    const double g0 = switches[0] == 1 ? 1.0 : 0.0;
    const double g1 = switches[1] == 1 ? 1.0 : 0.0;
    const double g2 = switches[2] == 1 ? 1.0 : 0.0;
    PieceFactors f{};
    for (int k = 0; k < 9; ++k) f.w[k] = static_cast<double>(weights[static_cast<std::size_t>(k)]) * g0;
    for (int i = 0; i < 3; ++i) {
        f.a_s[i] = 64.0 * kL[i] * g1;
        f.a_ss[i] = 64.0 * kQ[i] * g2;
        f.b_t[i] = 64.0 * kC[i] * g1;
        f.b_st[i] = 64.0 * kL[i] * g2;
        f.d_tt[i] = 64.0 * kC[i] * g2;
    }
    return f;
}

// The nine pieces of one panel (D = double) or of 4 panels (D = 4 doubles), lane by lane the
// same operations.  v: the six density values; m, inv_a, inv_bc: the panel's geometry.
template <class D>
[[gnu::always_inline]] inline void pieces_of(const D (&v)[kDensityModes], const D& m, const D& inv_a,
                                            const D& inv_bc, const PieceFactors& f, D (&w)[9]) noexcept
{
    const D i_s = (v[1] - m * v[2]) * inv_a;
    const D i_t = v[2] * inv_bc;
    const D i_ss = ((v[3] - 2.0 * m * v[5]) + m * m * v[4]) * (inv_a * inv_a);
    const D i_tt = v[4] * (inv_bc * inv_bc);
    const D i_st = (v[5] - m * v[4]) * (inv_a * inv_bc);
    for (int i = 0; i < 3; ++i) {
        const D a = f.a_s[i] * i_s + f.a_ss[i] * i_ss;
        const D b = f.b_t[i] * i_t + f.b_st[i] * i_st;
        const D d = f.d_tt[i] * i_tt;
        const D p = 0.125 * a + 0.5 * d;
        const D h = 0.5 * b;
        w[i] = f.w[i] * v[0] + (p - h);
        w[i + 3] = f.w[i + 3] * v[0] + (0.75 * a - d);
        w[i + 6] = f.w[i + 6] * v[0] + (p + h);
    }
}

typedef float Floats4 __attribute__((vector_size(16)));

[[gnu::always_inline]] inline void pieces_lanes_body(const float* density, std::size_t count, const PieceLanes& g,
                                                     const PieceFactors& f, float* source, float* dipole,
                                                     std::size_t stride) noexcept
{
    using lanes::Doubles;
    std::size_t q = 0;
    for (; q + 4 <= count; q += 4) {
        Doubles m, inv_a, inv_bc;
        __builtin_memcpy(&m, g.m.data() + q, sizeof m);
        __builtin_memcpy(&inv_a, g.inv_a.data() + q, sizeof inv_a);
        __builtin_memcpy(&inv_bc, g.inv_bc.data() + q, sizeof inv_bc);
        for (int part = 0; part < 2; ++part) {
            Doubles v[kDensityModes];
            for (std::size_t c = 0; c < kDensityModes; ++c) {
                Floats4 x;
                __builtin_memcpy(&x, density + (c + kDensityModes * static_cast<std::size_t>(part)) * count + q, sizeof x);
                v[c] = __builtin_convertvector(x, Doubles);
            }
            Doubles w[9];
            pieces_of(v, m, inv_a, inv_bc, f, w);
            float* out = part == 0 ? source : dipole;
            for (std::size_t k = 0; k < 9; ++k) {
                const Floats4 x = __builtin_convertvector(w[k], Floats4);
                __builtin_memcpy(out + k * stride + q, &x, sizeof x);
            }
        }
    }
    for (; q < count; ++q) {
        for (int part = 0; part < 2; ++part) {
            double v[kDensityModes];
            for (std::size_t c = 0; c < kDensityModes; ++c)
                v[c] = density[(c + kDensityModes * static_cast<std::size_t>(part)) * count + q];
            double w[9];
            pieces_of(v, g.m[q], g.inv_a[q], g.inv_bc[q], f, w);
            float* out = part == 0 ? source : dipole;
            for (std::size_t k = 0; k < 9; ++k) out[k * stride + q] = static_cast<float>(w[k]);
        }
    }
}

__attribute__((target("avx2"))) void pieces_lanes_avx2(const float* density, std::size_t count, const PieceLanes& g,
                                                       const PieceFactors& f, float* source, float* dipole,
                                                       std::size_t stride)
{
    pieces_lanes_body(density, count, g, f, source, dipole, stride);
}

void pieces_lanes_generic(const float* density, std::size_t count, const PieceLanes& g, const PieceFactors& f,
                          float* source, float* dipole, std::size_t stride)
{
    pieces_lanes_body(density, count, g, f, source, dipole, stride);
}

}  // namespace

void spline_pieces_vectorised(std::span<const float> density, int n, const PieceLanes& geometry,
                              const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                              float* source, float* dipole, std::size_t stride) noexcept
{
    const PieceFactors f = piece_factors(switches, weights);
    const auto count = static_cast<std::size_t>(n);
    if (lanes::avx2_enabled()) pieces_lanes_avx2(density.data(), count, geometry, f, source, dipole, stride);
    else pieces_lanes_generic(density.data(), count, geometry, f, source, dipole, stride);
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

void vquadr_spline(int listing_unit, int symmetry, int panel_number, int n,
                   const QuadraturePanels& panels, const PieceGeometry& geometry,
                   std::span<float> panel_sum, std::span<float> weighted_sum,
                   std::span<float> panel_diff, std::span<float> weighted_diff,
                   const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                   float depth)
{
    const auto count = static_cast<std::size_t>(n);
    vquadr(listing_unit, panel_number, n, panels, panel_sum, depth);
    if (symmetry == 1) {
        std::span<float> image = weighted_sum.first(count * kDensityColumns);
        vquadr(listing_unit, -panel_number, n, panels, image, depth);
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

void vquadr_spline(const PanelModel& model, int listing_unit, int symmetry, int panel_number,
                   int n, std::span<float> panel_sum, std::span<float> weighted_sum,
                   std::span<float> panel_diff, std::span<float> weighted_diff,
                   const std::array<int, 3>& switches, const std::array<float, 9>& weights,
                   float depth)
{
    vquadr_spline(listing_unit, symmetry, panel_number, n, quadrature_panels(model),
                  piece_geometry(model, panel_number), panel_sum, weighted_sum, panel_diff,
                  weighted_diff, switches, weights, depth);
}

}  // namespace torva
