// The field quadrature for a whole row at once, 8 panels per vector instruction
// (vector_lanes.hpp): the row pass of the main system and the B-spline pieces of a row.
// Each lane repeats the scalar formulas of field_quadrature.cpp and
// field_quadrature_series.hpp operation for operation, so the results are theirs bit for bit.
#include <cmath>
#include <new>
#include <stdexcept>

#include "integrals/field_quadrature.hpp"
#include "integrals/field_quadrature_series.hpp"
#include "integrals/vector_lanes.hpp"

namespace torva {

using namespace field_series;

// ---- row variant, 8 panels at a time ---------------------------------------------------------
//
// vquadr_row_vectorised gives the per-panel formulas' result bit for bit (tests hold that
// scalar row pass, vquadr_row_reference.hpp, to compare): the far sweep runs the same
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
        add_far_twist(t, lanes::load(panels.twist[0].data() + j), lanes::load(panels.twist[1].data() + j),
                      lanes::load(panels.twist[2].data() + j), dipole);
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
        add_far_twist(t, panels.twist[0][j], panels.twist[1][j], panels.twist[2][j], d[0][j]);
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

void vquadr_row_vectorised(const std::array<float, 3>& field, int n, const RowPanels& panels,
                           std::span<float> result, RowWorkspace& work)
{
    const auto count = static_cast<std::size_t>(n);
    with_work_memory([&] {
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
    lanes::dispatch(row_far_lanes_avx2, row_far_lanes_generic, field[0], field[1], field[2], panels, result.data(), xi, eta, zeta, work.special);

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
    with_work_memory([&] {
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
    lanes::dispatch(intermediate_lanes_avx2, intermediate_lanes_generic, packed, stride);
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
    lanes::dispatch(pieces_lanes_avx2, pieces_lanes_generic, density.data(), count, geometry, f, source, dipole, stride);
}

}  // namespace torva
