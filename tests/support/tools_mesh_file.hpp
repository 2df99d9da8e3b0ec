// An independent reader of the mesh files the tools write (not the generator's nor the setup's
// code), and the area and volume of the bilinear panels they describe.
//
// Volume by the divergence theorem over the body sheets' panels,
//     V = - sum_panels  int int z (X_u x X_v)_z du dv,   X(u, v) bilinear in the 4 nodes,  (1)
// with the normal X_u x X_v (first grid direction x second) into the body, as the setup
// orients it.  z and (X_u x X_v)_z are bilinear (X_u depends on v only, X_v on u only), so
// the integrand is biquadratic and the 2 x 2 Gauss rule integrates it exactly.
#pragma once

#include <array>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace torva::testing {

using P3 = std::array<double, 3>;
inline P3 sub(P3 a, P3 b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline P3 cross(P3 a, P3 b) { return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]}; }
inline double dot(P3 a, P3 b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline double norm(P3 a) { return std::sqrt(dot(a, a)); }

struct TSheet {
    int np1 = 0, np2 = 0, kind = 0, flag = 0;
    std::vector<P3> nodes;
    P3 node(int a, int b) const { return nodes[a + b * (np1 + 1)]; }
};

struct TMesh {
    int symmetry = -1;
    std::string code;
    std::vector<TSheet> sheets;
};

// The Version 2.0 layout: version line, title, symmetry and code, sheet count, six reals, a
// logical, then per sheet "NP1 NP2 KP MP" and its (NP1 + 1)(NP2 + 1) nodes.
inline TMesh read_tool_mesh(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line.rfind("Version 2.0", 0) != 0) throw std::runtime_error("not Version 2.0: " + path);
    std::getline(in, line);   // the title
    TMesh m;
    int count = 0;
    double reals[6];
    in >> m.symmetry >> m.code >> count >> reals[0] >> reals[1] >> reals[2] >> reals[3] >> reals[4] >> reals[5] >> line;
    for (int s = 0; s < count; ++s) {
        TSheet sh;
        in >> sh.np1 >> sh.np2 >> sh.kind >> sh.flag;
        sh.nodes.resize(static_cast<std::size_t>((sh.np1 + 1) * (sh.np2 + 1)));
        for (P3& p : sh.nodes) in >> p[0] >> p[1] >> p[2];
        if (!in) throw std::runtime_error("mesh file ends early: " + path);
        m.sheets.push_back(std::move(sh));
    }
    if (in >> line) throw std::runtime_error("unexpected text after the last sheet: " + line);
    return m;
}

struct Patch {
    P3 x00, x10, x01, x11;   // X(0,0) = node (a, b), X(1,0) = (a+1, b), ...
    P3 at(double u, double v) const
    {
        P3 r;
        for (int i = 0; i < 3; ++i)
            r[i] = (1 - u) * (1 - v) * x00[i] + u * (1 - v) * x10[i] + (1 - u) * v * x01[i] + u * v * x11[i];
        return r;
    }
    P3 normal(double u, double v) const   // X_u x X_v
    {
        P3 xu, xv;
        for (int i = 0; i < 3; ++i) {
            xu[i] = (1 - v) * (x10[i] - x00[i]) + v * (x11[i] - x01[i]);
            xv[i] = (1 - u) * (x01[i] - x00[i]) + u * (x11[i] - x10[i]);
        }
        return cross(xu, xv);
    }
};

// f(patch) for every panel of the body sheets (kind 2).
template <class F>
void for_each_body_panel(const TMesh& m, F f)
{
    for (const TSheet& s : m.sheets)
        if (s.kind == 2)
            for (int b = 0; b < s.np2; ++b)
                for (int a = 0; a < s.np1; ++a)
                    f(Patch{s.node(a, b), s.node(a + 1, b), s.node(a, b + 1), s.node(a + 1, b + 1)});
}

struct AreaVolume {
    double area = 0.0, volume = 0.0;
};

// The body sheets' area and their volume (1), both by the 2 x 2 Gauss rule.
inline AreaVolume measure(const TMesh& m)
{
    const double g = 0.5 / std::sqrt(3.0);
    AreaVolume r;
    for_each_body_panel(m, [&](const Patch& p) {
        for (double u : {0.5 - g, 0.5 + g})
            for (double v : {0.5 - g, 0.5 + g}) {
                const P3 n = p.normal(u, v);
                r.area += 0.25 * norm(n);
                r.volume -= 0.25 * p.at(u, v)[2] * n[2];
            }
    });
    return r;
}

}  // namespace torva::testing
