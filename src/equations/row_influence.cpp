// The influence routines of one row of the main system, chosen by INFMETH, and getvel.
//
// Quadrature-based routines (INFMETH <= 0).  The row variant of the field quadrature gives,
// for the field point F and every panel q, the source and dipole integrals of the six
// polynomial densities 1, xi, eta, xi^2, eta^2, xi eta over q (columns 1-6, 7-12).  The
// B-spline piece k of q is a polynomial of degree 2 in (xi, eta), so its integral is a fixed
// combination of those six (spline_piece_values).  The basis function of unknown p lives
// on the nine panels of p's node table; on the panel e_m at offset m it is that panel's
// piece 10 - m (the offset seen from the other side).  Hence
//     NS(p, 1) = sum_m  piece_{10-m}(source of e_m),   NS(p, 7) likewise for the dipole,
// gathered per unknown (INFMETH < 0) or scattered per panel (INFMETH = 0): the same terms
// summed in a different order.
#include <algorithm>
#include <memory>

#include "equations/seteqn.hpp"
#include "frame/run_stop.hpp"
#include "integrals/influence_coefficients.hpp"

namespace torva {

namespace {

// The constant part's weights: the B-spline pieces at the centre, times 64.
constexpr std::array<float, 9> kPieceWeights = {1, 6, 1, 6, 36, 6, 1, 6, 1};

constexpr std::size_t kSourceOffset = 0;   // density columns 1-6
constexpr std::size_t kDipoleOffset = 6;   // density columns 7-12

struct QuadratureRow {
    RowPanels panels;
    std::vector<PieceGeometry> geometry;   // per panel
    std::vector<int> node_table;           // stride 9, 1-based
    std::vector<int> active;
    std::array<int, 3> switches{1, 1, 1};
    int n = 0;
    int listing_unit = 6;
    int symmetry = 0;
    bool gathering = true;
};

// Piece values of every active panel from one n x 12 density array: pieces[(q*9 + k)*2 + d],
// d = 0 source, 1 dipole, rounded to float as the weighted arrays store them.
void piece_values(const QuadratureRow& row, const std::vector<float>& density, float* pieces)
{
    const std::size_t n = static_cast<std::size_t>(row.n);
    for (std::size_t q = 0; q < n; ++q) {
        if (row.active[q] == 0) continue;
        for (int d = 0; d < 2; ++d) {
            const std::size_t off = d == 0 ? kSourceOffset : kDipoleOffset;
            std::array<double, kDensityModes> values{};
            for (int c = 0; c < kDensityModes; ++c) values[c] = density[q + (off + c) * n];
            const auto k9 = spline_piece_values(values, row.geometry[q], row.switches, kPieceWeights);
            for (int k = 0; k < 9; ++k) pieces[(q * 9 + k) * 2 + d] = static_cast<float>(k9[k]);
        }
    }
}

// Node columns 1 and 7 from the piece values (single-precision sums).
void node_columns(const QuadratureRow& row, const float* pieces, std::vector<float>& node)
{
    const std::size_t n = static_cast<std::size_t>(row.n);
    float* src = node.data();           // column 1
    float* dip = node.data() + 6 * n;   // column 7
    std::fill(src, src + n, 0.0f);
    std::fill(dip, dip + n, 0.0f);
    if (row.gathering) {
        for (std::size_t p = 0; p < n; ++p) {
            float s = 0.0f, d = 0.0f;
            for (int m = 0; m < 9; ++m) {
                const int e = row.node_table[9 * p + m];
                if (e == 0 || row.active[to_panel_index(e)] == 0) continue;
                const std::size_t at = (static_cast<std::size_t>(to_panel_index(e)) * 9 + (8 - m)) * 2;
                s += pieces[at];
                d += pieces[at + 1];
            }
            src[p] = s;
            dip[p] = d;
        }
    } else {
        for (std::size_t q = 0; q < n; ++q) {
            if (row.active[q] == 0) continue;
            for (int m = 0; m < 9; ++m) {
                const int e = row.node_table[9 * q + m];
                if (e == 0) continue;
                const std::size_t at = (q * 9 + m) * 2;
                src[to_panel_index(e)] += pieces[at];
                dip[to_panel_index(e)] += pieces[at + 1];
            }
        }
    }
}

void quadrature_row_influence(const QuadratureRow& row, const std::array<float, 3>& field, RowInfluenceArrays& a)
{
    const std::size_t n = static_cast<std::size_t>(row.n);
    if (a.mirrored.size() != 12 * n) a.mirrored.assign(12 * n, 0.0f);
    if (a.pieces.size() != 2 * 9 * 2 * n) a.pieces.assign(2 * 9 * 2 * n, 0.0f);
    // The panel arrays: the row variant at F (and at the mirror image).
    vquadr_row(row.listing_unit, field, row.n, row.panels, a.panel_sum, a.row_work);
    if (row.symmetry == 1) {
        vquadr_row(row.listing_unit, {field[0], -field[1], field[2]}, row.n, row.panels, a.mirrored, a.row_work);
        for (std::size_t i = 0; i < 12 * n; ++i) {
            const float direct = a.panel_sum[i], image = a.mirrored[i];
            a.panel_sum[i] = direct + image;
            a.panel_diff[i] = direct - image;
        }
    }
    float* sum_pieces = a.pieces.data();
    piece_values(row, a.panel_sum, sum_pieces);
    node_columns(row, sum_pieces, a.node_sum);
    if (row.symmetry == 1) {
        float* diff_pieces = a.pieces.data() + 9 * 2 * n;
        piece_values(row, a.panel_diff, diff_pieces);
        node_columns(row, diff_pieces, a.node_diff);
    }
}

}  // namespace

RowInfluence select_row_influence(const PanelModel& model, int listing_unit, int symmetry, int infmeth,
                                  const std::array<int, 3>& ispline)
{
    if (infmeth > 0) {
        const PanelTables tables = panel_tables(model);
        return [tables, listing_unit, symmetry, infmeth, n = model.n_panels](
                   const std::array<float, 3>& field, int row_number, RowInfluenceArrays& a) {
            getic2(tables, listing_unit, symmetry, infmeth, row_number, field, n, a.panel_sum, a.node_sum,
                   a.panel_diff, a.node_diff);
        };
    }
    auto row = std::make_shared<QuadratureRow>();
    row->n = model.n_panels;
    row->listing_unit = listing_unit;
    row->symmetry = symmetry;
    row->gathering = infmeth < 0;
    row->switches = ispline;
    row->panels = make_row_panels(model, listing_unit);
    row->geometry.resize(static_cast<std::size_t>(model.n_panels));
    for (int q = 0; q < model.n_panels; ++q) row->geometry[q] = piece_geometry(model, to_panel_number(q));
    row->node_table.assign(model.node_table.begin(), model.node_table.begin() + 9 * std::size_t(model.n_panels));
    row->active.assign(model.active.begin(), model.active.begin() + model.n_panels);
    return [row](const std::array<float, 3>& field, int, RowInfluenceArrays& a) {
        quadrature_row_influence(*row, field, a);
    };
}

void getvel(std::span<const KernelPanel> panels, int symmetry, const std::array<float, 3>& field, int column,
            float sea_depth, std::vector<float>& record)
{
    if (sea_depth == 0.0f) return;   // no record: the solver's reading of this case is unknown
    const KernelPanel& panel = panels[static_cast<std::size_t>(to_panel_index(column))];
    auto velocity = [&](float x, float y, float z) {
        return source_kernel({x, y, z}, 0, panel, 1).grad_phi_s;
    };
    const float x = field[0], y = field[1], z = field[2];
    std::array<float, 3> direct = velocity(x, y, z);
    std::array<float, 3> image{};
    if (symmetry == 1) image = velocity(x, -y, z);
    if (sea_depth > 0.0f) {
        const float zb = -z - 2.0f * sea_depth;
        const auto bottom = velocity(x, y, zb);
        for (int k = 0; k < 3; ++k) direct[k] += bottom[k];
        if (symmetry == 1) {
            const auto bottom_image = velocity(x, -y, zb);
            for (int k = 0; k < 3; ++k) image[k] += bottom_image[k];
        }
    }
    if (symmetry == 1) {
        for (int k = 0; k < 3; ++k) record.push_back(direct[k] + image[k]);
        for (int k = 0; k < 3; ++k) record.push_back(direct[k] - image[k]);
    } else {
        record.insert(record.end(), direct.begin(), direct.end());
    }
}

}  // namespace torva
