// Plays the time-domain solver on the journal files of an equation system: u = A^-1 B k from
// whatever form .jou2 holds, then the added mass from the B-spline potential on the hull.
// Nothing of the setup's own arithmetic is used: the records are read back as a Fortran
// program would, and the integrals are done here.  No gtest here: a failure throws.
#pragma once

#include <array>
#include <cstring>
#include <stdexcept>
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
    if (table.open(60, name, o) != 0) throw std::runtime_error("cannot open " + name);
    std::vector<std::vector<std::byte>> out;
    while (auto r = table.read_record(60)) out.push_back(std::move(*r));
    return out;
}

// u = A^-1 B k for system s (0 symmetric, 1 antisymmetric).  rhs: the N rows of B from
// .jou1 (.jou1a); jou2: every record of .jou2 (LU factors and pivots per system for
// INFINVS > 0, the inverse for 0, inverse * B for < 0).
inline std::vector<float> solve_from_journals(int n, const std::vector<std::vector<float>>& rhs,
                                              const std::vector<std::vector<std::byte>>& jou2, int s,
                                              int infinvs, const std::vector<float>& k)
{
    std::vector<float> b = k;   // B k, or k itself where .jou2 holds A^-1 B
    for (int row = 0; row < n && infinvs >= 0; ++row) {
        double sum = 0;
        for (int col = 0; col < n; ++col) sum += double(rhs[row][col]) * k[col];
        b[row] = static_cast<float>(sum);
    }
    if (infinvs > 0) {
        auto lu = record_floats(jou2[2 * s]);
        std::vector<int> ipiv(n);
        std::memcpy(ipiv.data(), jou2[2 * s + 1].data(), n * sizeof(int));
        if (sgetrs(n, lu, ipiv, b) != 0) throw std::runtime_error("sgetrs refused the factors");
        return b;
    }
    const auto m = record_floats(jou2[s]);   // A^-1 or A^-1 B, column-major
    std::vector<float> u(n, 0.0f);
    for (int col = 0; col < n; ++col)
        for (int row = 0; row < n; ++row) u[row] += m[row + std::size_t(col) * n] * b[col];
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

// The integral over the active body panels of phi area_d, with on each panel at (s, t) in
// [-1/2, 1/2]^2
//     phi(s, t) = sum_k 64 b_i(s) b_j(t) u_(node k),   k = 1 + i + 3 j
// (the unknowns are coefficients of the pieces w_k = 64 b_i b_j) and area(sheet, p, q, s, t)
// the area vector X_s x X_t of the surface there (p the panel, q its place on the sheet).  A
// 5 x 5 Gauss rule: exact for a bilinear panel, whose integrand is of degree 3 in s and t.
template <class Area>
double potential_integral(const PanelModel& model, const std::vector<float>& u, int d, Area area)
{
    static const double g[5] = {-0.9061798459386640, -0.5384693101056831, 0.0, 0.5384693101056831,
                                0.9061798459386640};
    static const double w[5] = {0.2369268850561891, 0.4786286704993665, 0.5688888888888889, 0.4786286704993665,
                                0.2369268850561891};
    auto bspline = [](int i, double x) {
        return i == 0 ? 0.5 * (x * x - x) + 0.125 : i == 1 ? 0.75 - x * x : 0.5 * (x * x + x) + 0.125;
    };
    double m = 0;
    for (int sh = 0, p = 0; sh < model.n_sheets; ++sh)
        for (int q = 0; q < model.np[sh]; ++q, ++p) {
            if (!model.active[p] || model.kp[sh] != kSheetKindBody) continue;
            for (int a = 0; a < 5; ++a)
                for (int b = 0; b < 5; ++b) {
                    const double s = 0.5 * g[a], t = 0.5 * g[b];
                    double phi = 0;
                    for (int e = 0; e < 9; ++e)
                        phi += 64 * bspline(e % 3, s) * bspline(e / 3, t) *
                               u[to_panel_index(model.node_table[9 * std::size_t(p) + e])];
                    m += 0.25 * w[a] * w[b] * phi * area(sh, p, q, s, t)[d];
                }
        }
    return m;
}

// m_dd on the bilinear panels of the model (a half body mirrored in y = 0 counts twice).
inline double added_mass_from_coefficients(const PanelModel& model, const std::vector<float>& u, int d)
{
    const double m = potential_integral(model, u, d, [&model](int, int p, int, double s, double t) {
        const float* cr = &model.corners[12 * std::size_t(p)];
        const int order[4] = {2, 1, 0, 3};   // integration corners P1..P4 = stored 3, 2, 1, 4
        double P[4][3], xs[3], xt[3];
        for (int v = 0; v < 4; ++v)
            for (int c = 0; c < 3; ++c) P[v][c] = cr[4 * c + order[v]];
        for (int c = 0; c < 3; ++c) {
            const double D = P[0][c] - P[1][c] + P[2][c] - P[3][c];
            xs[c] = (P[1][c] + P[2][c] - P[0][c] - P[3][c]) / 2 + D * t;
            xt[c] = (P[2][c] + P[3][c] - P[0][c] - P[1][c]) / 2 + D * s;
        }
        return std::array<double, 3>{xs[1] * xt[2] - xs[2] * xt[1], xs[2] * xt[0] - xs[0] * xt[2],
                                     xs[0] * xt[1] - xs[1] * xt[0]};
    });
    return model.header.symmetry == 1 ? 2 * m : m;
}

}  // namespace torva::testing
