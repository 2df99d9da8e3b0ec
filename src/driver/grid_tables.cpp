#include "driver/grid_tables.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frame/units.hpp"

namespace torva {

GridExtents compute_grid_extents(const PanelModel& model)
{
    GridExtents g;
    int offset = 0;
    for (int s = 0; s < model.n_sheets; ++s) {
        const int count = model.np[s];
        if (model.mp[s] != 0) {
            for (int p = offset; p < offset + count; ++p) {
                if (model.active[p] != 1) continue;
                const double area = model.moments[15 * p];
                const double cx = model.colloc[3 * p], cy = model.colloc[3 * p + 1], cz = model.colloc[3 * p + 2];
                const double nz = model.gnormal[kModeCount * p + 2];
                g.volume -= nz * cz * area;                       // (1)
                g.wetted_area += area;                            // (2)
                g.mx -= cx * cz * nz * area;                      // (3)
                g.my -= cy * cz * nz * area;
                g.mz -= 0.5 * cz * cz * nz * area;
                const float* c = &model.corners[12 * p];
                for (int k = 0; k < 4; ++k) {
                    g.xmin = std::min(g.xmin, c[k]);
                    g.xmax = std::max(g.xmax, c[k]);
                    g.ymin = std::min(g.ymin, c[4 + k]);
                    g.ymax = std::max(g.ymax, c[4 + k]);
                    g.zmin = std::min(g.zmin, c[8 + k]);
                    g.zmax = std::max(g.zmax, c[8 + k]);
                }
            }
        }
        offset += count;
    }
    const bool half = model.header.symmetry == 1;
    if (half) {
        g.volume *= 2;
        g.wetted_area *= 2;
        g.mx *= 2;
        g.mz *= 2;
        g.my = 0;
    }
    g.overall_length = g.xmax - g.xmin;
    g.max_draft = g.zmax - g.zmin;
    g.waterline_beam = (g.ymax - g.ymin) * (half ? 2.0f : 1.0f);
    if (g.volume != 0) {
        g.buoyancy[0] = static_cast<float>(g.mx / g.volume);
        g.buoyancy[1] = static_cast<float>(g.my / g.volume);
        g.buoyancy[2] = static_cast<float>(g.mz / g.volume);
    }
    return g;
}

std::string es12_3(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3E", value);
    std::string s(buf);
    if (s.size() < 12) s.insert(0, 12 - s.size(), ' ');
    return s;
}

void output_axes(const MeshHeader& header, const double p[3], const double t[3], double out[3])
{
    const double s1 = std::sin(header.angles[0]), c1 = std::cos(header.angles[0]);
    const double s2 = std::sin(header.angles[1]), c2 = std::cos(header.angles[1]);
    const double s3 = std::sin(header.angles[2]), c3 = std::cos(header.angles[2]);
    const double r[3][3] = {{c2 * c3, c2 * s3, -s2},
                            {s1 * s2 * c3 - c1 * s3, c1 * c3 + s1 * s2 * s3, s1 * c2},
                            {c1 * s2 * c3 + s1 * s3, c1 * s2 * s3 - s1 * c3, c1 * c2}};
    double q[3];
    for (int i = 0; i < 3; ++i) q[i] = header.translate_first ? p[i] + t[i] : p[i];
    for (int i = 0; i < 3; ++i) {
        out[i] = r[i][0] * q[0] + r[i][1] * q[1] + r[i][2] * q[2];
        if (!header.translate_first) out[i] += t[i];
    }
}

namespace {
const std::string kRule = std::string(9, ' ') + std::string(58, '-');

std::string i4(int v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%4d", v);
    return buf;
}
}  // namespace

void print_grid_information(int listing_unit, const PanelModel& model)
{
    UnitTable& u = units();
    u.write_line(listing_unit, kRule);
    u.write_line(listing_unit, std::string(30, ' ') + "GRID INFORMATION");
    u.write_line(listing_unit, std::string(20, ' ') + "Name    :    " + model.header.title.substr(0, 30));
    u.write_line(listing_unit, kRule);
    u.write_line(listing_unit, std::string(16, ' ') + "Sheet#    NP1     NP2      NP      KP      MP");
    for (int s = 0; s < model.n_sheets; ++s) {
        std::string line = std::string(17, ' ') + i4(s + 1);
        for (int v : {model.np1[s], model.np2[s], model.np[s], model.kp[s], model.mp[s]})
            line += std::string(4, ' ') + i4(v);
        u.write_line(listing_unit, line);
    }
    u.write_line(listing_unit, kRule);
    u.write_line(listing_unit, "");
}

void print_principal_particulars(int listing_unit, const PanelModel& model, const GridExtents& g, float alength)
{
    const double L = alength;
    const double b[3] = {g.buoyancy[0] * L, g.buoyancy[1] * L, g.buoyancy[2] * L};
    const double t[3] = {model.header.lengths[0] * L, model.header.lengths[1] * L, model.header.lengths[2] * L};
    double cb[3];
    output_axes(model.header, b, t, cb);
    const double t_keel[3] = {t[0], t[1], g.max_draft * L};
    double cb_keel[3];
    output_axes(model.header, b, t_keel, cb_keel);

    const std::pair<const char*, double> rows[] = {
        {"Overall Length        (L)  :", g.overall_length * L},
        {"Waterline Length      (L)  :", (double(model.waterline_xmax) - double(model.waterline_xmin)) * L},
        {"Waterline Beam        (L)  :", g.waterline_beam * L},
        {"Maximum Draft         (L)  :", g.max_draft * L},
        {"Displacement        (L^3)  :", g.volume * L * L * L},
        {"Wetted Surface Area (L^2)  :", g.wetted_area * L * L},
        {"LCB (from origin)     (L)  :", cb[0]},
        {"TCB (from origin)     (L)  :", cb[1]},
        {"VCB (from origin)     (L)  :", cb[2]},
        {"VCB (from keel)       (L)  :", cb_keel[2]},
    };
    UnitTable& u = units();
    u.write_line(listing_unit, kRule);
    u.write_line(listing_unit, std::string(28, ' ') + "PRINCIPAL PARTICULARS");
    u.write_line(listing_unit, kRule);
    for (const auto& [label, value] : rows)
        u.write_line(listing_unit, std::string(18, ' ') + label + es12_3(value));
    u.write_line(listing_unit, kRule);
    u.write_line(listing_unit, "");
}

}  // namespace torva
