// Plays the time-domain solver on the journal files of an equation system: u = A^-1 B k from
// whatever form .jou2 holds, then the added mass from the B-spline potential on the hull.
// Nothing of the setup's own arithmetic is used: the records are read back as a Fortran
// program would, and the integrals are done here.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "linalg/dense_linear_algebra.hpp"
#include "frame/units.hpp"
#include "mesh/panel_model.hpp"

namespace torva::testing {

inline std::vector<float> record_floats(const std::vector<std::byte>& rec)
{
    std::vector<float> v(rec.size() / sizeof(float));
    std::memcpy(v.data(), rec.data(), v.size() * sizeof(float));
    return v;
}

// Every record of an unformatted file, read back through a unit table of its own.
inline std::vector<std::vector<std::byte>> journal_records(const std::string& name)
{
    UnitTable table;
    OpenOptions o;
    o.status = "OLD";
    o.form = FileForm::unformatted;
    o.read_only = true;
    EXPECT_EQ(table.open(60, name, o), 0) << name;
    std::vector<std::vector<std::byte>> out;
    while (auto r = table.read_record(60)) out.push_back(std::move(*r));
    return out;
}

// The same, each record as floats.
inline std::vector<std::vector<float>> float_records(const std::string& name)
{
    std::vector<std::vector<float>> out;
    for (const auto& r : journal_records(name)) out.push_back(record_floats(r));
    return out;
}

// u = A^-1 B k for system s (0 symmetric, 1 antisymmetric).  rhs: the N rows of B from
// .jou1 (.jou1a); jou2: every record of .jou2 (LU factors and pivots per system for
// INFINVS > 0, the inverse for 0, inverse * B for < 0).
inline std::vector<float> solve_from_journals(int n, const std::vector<std::vector<float>>& rhs,
                                              const std::vector<std::vector<std::byte>>& jou2, int s,
                                              int infinvs, const std::vector<float>& k)
{
    std::vector<float> u(n, 0.0f);
    if (infinvs < 0) {
        const auto g = record_floats(jou2[s]);   // A^-1 B, column-major
        for (int col = 0; col < n; ++col)
            for (int row = 0; row < n; ++row) u[row] += g[row + std::size_t(col) * n] * k[col];
        return u;
    }
    std::vector<float> b(n, 0.0f);
    for (int row = 0; row < n; ++row) {
        double sum = 0;
        for (int col = 0; col < n; ++col) sum += double(rhs[row][col]) * k[col];
        b[row] = static_cast<float>(sum);
    }
    if (infinvs > 0) {
        auto lu = record_floats(jou2[2 * s]);
        std::vector<int> ipiv(n);
        std::memcpy(ipiv.data(), jou2[2 * s + 1].data(), n * sizeof(int));
        EXPECT_EQ(sgetrs(n, lu, ipiv, b), 0);
        return b;
    }
    const auto inv = record_floats(jou2[s]);
    for (int col = 0; col < n; ++col)
        for (int row = 0; row < n; ++row) u[row] += inv[row + std::size_t(col) * n] * b[col];
    return u;
}

// The known normal derivative of a unit translation along axis d on the body panels:
// k_c = n_d (normals out of the fluid), 0 elsewhere.
inline std::vector<float> translation_condition(const PanelModel& model, int d)
{
    std::vector<float> k(model.n_panels, 0.0f);
    for (int s = 0, p = 0; s < model.n_sheets; ++s)
        for (int q = 0; q < model.np[s]; ++q, ++p)
            if (model.active[p] && model.kp[s] == kSheetKindBody) k[p] = model.gnormal[kModeCount * p + d];
    return k;
}

// m_dd = integral over the body panels of phi n_d dS, with on each bilinear panel
//     phi(s, t) = sum_k 64 b_i(s) b_j(t) u_(node k),   k = 1 + i + 3 j
// (the unknowns are coefficients of the pieces w_k = 64 b_i b_j) and a 4 x 4 Gauss rule
// (the integrand is a polynomial of low degree).  A half body mirrored in y = 0 counts twice.
inline double added_mass_from_coefficients(const PanelModel& model, const std::vector<float>& u, int d)
{
    static const double g[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563, 0.8611363115940526};
    static const double gw[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461, 0.3478548451374538};
    auto bspline = [](int i, double x) {
        return i == 0 ? 0.5 * (x * x - x) + 0.125 : i == 1 ? 0.75 - x * x : 0.5 * (x * x + x) + 0.125;
    };
    double m = 0;
    for (int s = 0, p = 0; s < model.n_sheets; ++s)
        for (int q = 0; q < model.np[s]; ++q, ++p) {
            if (!model.active[p] || model.kp[s] != kSheetKindBody) continue;
            const float* cr = &model.corners[12 * std::size_t(p)];
            double P[4][3];
            const int order[4] = {2, 1, 0, 3};   // integration corners P1..P4 = stored 3, 2, 1, 4
            for (int v = 0; v < 4; ++v)
                for (int c = 0; c < 3; ++c) P[v][c] = cr[4 * c + order[v]];
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b) {
                    const double s_ = 0.5 * g[a], t_ = 0.5 * g[b];
                    double xs[3], xt[3];
                    for (int c = 0; c < 3; ++c) {
                        const double A = (P[1][c] + P[2][c] - P[0][c] - P[3][c]) / 2;
                        const double B = (P[2][c] + P[3][c] - P[0][c] - P[1][c]) / 2;
                        const double D = P[0][c] - P[1][c] + P[2][c] - P[3][c];
                        xs[c] = A + D * t_;
                        xt[c] = B + D * s_;
                    }
                    const double N[3] = {xs[1] * xt[2] - xs[2] * xt[1], xs[2] * xt[0] - xs[0] * xt[2],
                                         xs[0] * xt[1] - xs[1] * xt[0]};
                    double phi = 0;
                    for (int e = 0; e < 9; ++e)
                        phi += 64 * bspline(e % 3, s_) * bspline(e / 3, t_) *
                               u[to_panel_index(model.node_table[9 * p + e])];
                    m += 0.25 * gw[a] * gw[b] * phi * N[d];
                }
        }
    return model.header.symmetry == 1 ? 2 * m : m;
}

}  // namespace torva::testing
