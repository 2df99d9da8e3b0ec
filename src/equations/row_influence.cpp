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
#include <new>

#include "equations/seteqn.hpp"
#include "frame/run_stop.hpp"
#include "integrals/influence_coefficients.hpp"

namespace torva {

namespace {

// The constant part's weights: the B-spline pieces at the centre, times 64.
constexpr std::array<float, 9> kPieceWeights = {1, 6, 1, 6, 36, 6, 1, 6, 1};


struct QuadratureRow {
    RowPanels panels;
    PieceLanes geometry;                   // per panel, for the pieces
    // Gathering: gather[m * n + p] is the 0-based panel e_m of unknown p's node table when it
    // exists and is active, otherwise n, the index of the zero slot of the piece arrays; so the
    // nine terms of every node are summed without a test, a missing one adding +0.
    std::vector<int> gather;
    std::vector<int> node_table;           // stride 9, 1-based (scattering)
    std::vector<int> active;
    std::array<int, 3> switches{1, 1, 1};
    int n = 0;
    int listing_unit = 6;
    int symmetry = 0;
    bool gathering = true;
};

// Piece arrays of one density array: source piece k of panel q at [k * stride + q], the
// dipole pieces after them; stride = n + 1, the last slot of each piece held at zero.
struct PieceArrays {
    float* source;
    float* dipole;
    std::size_t stride;
};

PieceArrays piece_arrays(float* base, std::size_t n) noexcept
{
    const std::size_t stride = n + 1;
    return {base, base + 9 * stride, stride};
}

// Node columns 1 and 7 from the piece values (single-precision sums, m ascending).
void node_columns(const QuadratureRow& row, const PieceArrays& pieces, std::vector<float>& node)
{
    const std::size_t n = static_cast<std::size_t>(row.n);
    float* src = node.data();           // column 1
    float* dip = node.data() + 6 * n;   // column 7
    if (row.gathering) {
        // Node p takes piece 10 - m (0-based 8 - m) of the panel at offset m.
        const int* e = row.gather.data();
        for (std::size_t p = 0; p < n; ++p) {
            float s = 0.0f, d = 0.0f;
            for (std::size_t m = 0; m < 9; ++m) {
                const std::size_t at = (8 - m) * pieces.stride + static_cast<std::size_t>(e[m * n + p]);
                s += pieces.source[at];
                d += pieces.dipole[at];
            }
            src[p] = s;
            dip[p] = d;
        }
        return;
    }
    std::fill(src, src + n, 0.0f);
    std::fill(dip, dip + n, 0.0f);
    for (std::size_t q = 0; q < n; ++q) {
        if (row.active[q] == 0) continue;
        for (std::size_t m = 0; m < 9; ++m) {
            const int e = row.node_table[9 * q + m];
            if (e == 0) continue;
            src[to_panel_index(e)] += pieces.source[m * pieces.stride + q];
            dip[to_panel_index(e)] += pieces.dipole[m * pieces.stride + q];
        }
    }
}

void pieces_and_nodes(const QuadratureRow& row, const std::vector<float>& density, float* base,
                      std::vector<float>& node)
{
    const std::size_t n = static_cast<std::size_t>(row.n);
    const PieceArrays pieces = piece_arrays(base, n);
    spline_pieces_vectorised(density, row.n, row.geometry, row.switches, kPieceWeights, pieces.source,
                             pieces.dipole, pieces.stride);
    for (std::size_t k = 0; k < 9; ++k) {
        pieces.source[k * pieces.stride + n] = 0.0f;
        pieces.dipole[k * pieces.stride + n] = 0.0f;
    }
    node_columns(row, pieces, node);
}

// The field quadrature's work arrays that cannot be had stop the run with its message.
template <class Fn>
auto or_stop_on_memory(int listing_unit, Fn&& quadrature)
{
    try {
        return quadrature();
    } catch (const std::bad_alloc&) {
        stop_run_on(listing_unit, {kVquadrMemoryMessage});
    }
}

void quadrature_row_influence(const QuadratureRow& row, const std::array<float, 3>& field, RowInfluenceArrays& a)
{
    const std::size_t n = static_cast<std::size_t>(row.n);
    // Sized on a thread's first row; later rows reuse them.
    const std::size_t piece_floats = 2 * 2 * 9 * (n + 1);
    if (a.pieces.size() != piece_floats) a.pieces.assign(piece_floats, 0.0f);
    if (row.symmetry == 1 && a.mirrored.size() != 12 * n) a.mirrored.assign(12 * n, 0.0f);
    // The panel arrays: the row variant at F (and at the mirror image).
    or_stop_on_memory(row.listing_unit, [&] {
        vquadr_row_vectorised(field, row.n, row.panels, a.panel_sum, a.row_work);
        if (row.symmetry == 1)
            vquadr_row_vectorised({field[0], -field[1], field[2]}, row.n, row.panels, a.mirrored, a.row_work);
    });
    if (row.symmetry == 1) {
        float* __restrict sum = a.panel_sum.data();
        float* __restrict diff = a.panel_diff.data();
        const float* __restrict image = a.mirrored.data();
        for (std::size_t i = 0; i < 12 * n; ++i) {
            const float direct = sum[i];
            sum[i] = direct + image[i];
            diff[i] = direct - image[i];
        }
    }
    pieces_and_nodes(row, a.panel_sum, a.pieces.data(), a.node_sum);
    if (row.symmetry == 1) pieces_and_nodes(row, a.panel_diff, a.pieces.data() + 2 * 9 * (n + 1), a.node_diff);
}

}  // namespace

RowInfluence select_row_influence(const PanelModel& model, int listing_unit, int symmetry, int infmeth,
                                  const std::array<int, 3>& ispline)
{
    if (infmeth > 0) {
        const PanelTables tables = panel_tables(model);
        return [tables, listing_unit, symmetry, infmeth, n = model.n_panels](
                   const std::array<float, 3>& field, int row_number, RowInfluenceArrays& a) {
            if (const auto failure = getic2(tables, symmetry, infmeth, row_number, field, n, a.panel_sum,
                                            a.node_sum, a.panel_diff, a.node_diff))
                stop_run_on(listing_unit, integration_failure_report(*failure));
        };
    }
    auto row = std::make_shared<QuadratureRow>();
    const int n = model.n_panels;
    row->n = n;
    row->listing_unit = listing_unit;
    row->symmetry = symmetry;
    row->gathering = infmeth < 0;
    row->switches = ispline;
    row->panels = or_stop_on_memory(listing_unit, [&] { return make_row_panels(model); });
    row->geometry = piece_lanes(model);
    row->node_table.assign(model.node_table.begin(), model.node_table.begin() + 9 * std::size_t(n));
    row->active.assign(model.active.begin(), model.active.begin() + n);
    row->gather.assign(9 * std::size_t(n), n);
    for (int p = 0; p < n; ++p)
        for (int m = 0; m < 9; ++m) {
            const int e = row->node_table[9 * std::size_t(p) + m];
            if (e != 0 && row->active[std::size_t(to_panel_index(e))] != 0)
                row->gather[std::size_t(m) * n + p] = to_panel_index(e);
        }
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
