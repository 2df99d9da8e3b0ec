// The panel-wise equation system: the boundary-integral system of seteqn, assembled column
// block by column block.
//
// Row r is Green's second identity at the collocation point x_r of unknown r,
//
//     2 pi phi(x_r) + sum_p D_p[phi](x_r) - sum_p S_p[dphi/dn](x_r) = 0,                 (1)
//
// S_p, D_p the source (1/r) and normal-dipole integrals over panel p.  On a panel p of a
// body sheet (kind 2) the normal derivative is the known panel constant k_p and the
// potential is the spline  phi = sum_m u_(e_m) w_m  over the nine nodes e_m of p's node table
// (w_m = 64 b_i(s) b_j(t), m = 1 + i + 3 j); on kinds 1 and 3 the potential is the known k_p
// and the normal derivative the spline.  Panel p therefore adds to every row r, with WS, PS
// its weighted and panel arrays at x_r (columns 1-9 piece sources, 10-18 piece dipoles;
// column 1 constant source, 7 constant dipole):
//
//     kind 2:     amat(r, e_m) += WS(r, 9 + m)        bmat(r, p) += PS(r, 1)              (2)
//     kinds 1, 3: amat(r, e_m) -= WS(r, m)            bmat(r, p) -= PS(r, 7)              (3)
//
// so that  amat u = bmat k.  The free term 2 pi phi(x_p) belongs to row p and is added when
// panel p is processed: x_p is p's centre, where the pieces take the values w_m(0, 0) =
// (1, 6, 1) x (1, 6, 1), hence
//
//     kind 2:     amat(p, e_m) += 6.28318 w_m         kinds 1, 3: bmat(p, p) -= 6.28318     (4)
//
// These are seteqn's rows (its (2)-(4) with the right-hand side already negated), summed
// over panels instead of over rows.  With the symmetry indicator 1 the difference arrays
// (direct - y-image) build the antisymmetric pair amata, bmata the same way.
//
// Sea bottom (SEA_DEPTH = h > 0).  The Green function gains the image 1/|x - x_b|, x_b =
// (x, y, -z - 2h): each panel's integrals are evaluated a second time for the bottom image
// and added by (2), (3).  The free term is NOT added again: 2 pi phi(x_p) is the jump of the
// direct double layer where the field point lies on the panel, and the image of x_p lies
// below the bottom, at a positive distance from every panel, where the image integrals are
// regular and carry no jump.  Adding it twice would turn 2 pi into 4 pi and make the rows
// a different equation from seteqn's, which adds it once whatever the depth.
// getic2b (INFMETH = 0) adds the bottom inside the same call, so no second call is made.
//
// The quadrature-based routine (INFMETH < 0).  vquadr evaluates panel p "in the bottom
// plane z = -depth" with the offset d = (x_j - c_x, y_j - c_y, z_j + c_z + 2 depth) from the
// panel's reference point c and the panel's own frame R, whatever depth is.  Two facts
// decide how it is called:
//   - direct: with depth = -c_z the offset is x_j - c exactly, so the call gives the panel
//     itself.  (A depth of -1, as getic2a takes it, would give a panel copy mirrored about
//     z = 1, which is no term of (1).)
//   - bottom image: the true image term is the panel at the reflected field point x_b,
//     offset x_b - c = (x_j - c_x, y_j - c_y, -z_j - 2h - c_z).  vquadr's offset flips the
//     sign of that z part, which for a tilted panel is a different point (its dipole differs
//     by the tilt).  Giving vquadr the collocation table reflected in the bottom, z' =
//     -z - 2h for every point (the panel's own c_z included), and depth = h yields
//     z'_j + c'_z + 2h = -z_j - c_z - 2h: the true image, with R unchanged.
//   The y-mirror that the wrapper adds (panel number -p) negates y_j only and is right
//   in both cases.
//
// Rim rows (the ghost unknowns).  Every influence routine returns zero rows for inactive
// field points, and ghost panels make no column block and no free term, so a ghost row
// receives nothing from the panel loop.  INFBND 1 then sets the extrapolation stencil
// u_r - 2 u_(r+d) + u_(r+2d) = 0 (d = +-1 along the first, +-NP1' along the second
// direction; the tests a = 1, a = NP1', b = 1, b = NP2' in that order): the same rim rows as
// seteqn's.  INFBND 0 writes the connectivity rows of sheet_continuity instead; any other
// value leaves them empty, and the factorisation then names the zero pivot.
//
// Row scaling: row r of amat and bmat divided by s_r = |amat(r, :)|, the norm summed in
// double (it only scales); an all-zero row is left as it is for sgetrf to report.
//
// Parallel panel loop.  The panels are taken in blocks (32, or two per thread if more):
// the influence calls of a block run in parallel, one set of arrays per panel; then the
// block's lines and velocity records are written in panel order, and its column blocks are
// added with the rows shared out among the threads, each adding the block's panels in panel
// order.  Every element of the matrices thus receives its terms in panel order, so the
// float sums and the journal files do not depend on the thread count.
#include "equations/seteqn1.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "frame/allocation.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/threads.hpp"
#include "frame/units.hpp"
#include "integrals/field_quadrature.hpp"
#include "linalg/blocked_lu.hpp"
#include "integrals/influence_coefficients.hpp"
#include "integrals/source_kernel.hpp"
#include "mesh/connectivity.hpp"

namespace torva {

namespace {

// (4): the single-precision 2 pi and the static table of the pieces at the panel centre.
constexpr float kTwoPi = 6.28318f;
constexpr std::array<float, 9> kFreeTermWeights = {1, 6, 1, 6, 36, 6, 1, 6, 1};

// getic2a's depth argument for the direct evaluation: any value <= 0 means no bottom.
constexpr float kNoBottom = -1.0f;

constexpr const char* kNoMemory = "ERROR: Insufficient memory for arrays in seteqn1.";
constexpr const char* kNoMemoryAntisymmetric = "ERROR: Insufficient memory for antisymm. data.";
constexpr const char* kNoPivotMemory = "ERROR: Insufficient memory for pivot arrays.";

constexpr std::string_view kPanelTimeLabel = "time spent on panel integral:        ";
constexpr std::string_view kBoundaryTimeLabel = "time spent on boundary condition:    ";
constexpr std::string_view kFactorTimeLabel = "time spent on matrix factorization:  ";
static_assert(kPanelTimeLabel.size() == 37 && kBoundaryTimeLabel.size() == 37 && kFactorTimeLabel.size() == 37);

float cpu_seconds() { return static_cast<float>(std::clock()) / CLOCKS_PER_SEC; }

// Message lines of several list-directed items are written as one line: stop_run adds the
// leading blank itself.
std::string items_line(const std::string& line) { return line.substr(1); }

// ---- the quadrature-based column ------------------------------------------------------------

struct QuadratureColumns {
    int n = 0;
    int listing_unit = kListingUnit;
    int symmetry = 0;
    float sea_depth = -1.0f;
    std::array<int, 3> switches{1, 1, 1};
    QuadraturePanels direct;              // the model's tables
    std::vector<float> reflected;         // collocation points reflected in the bottom
    QuadraturePanels image;               // the model's tables with `reflected` as points
    std::vector<PieceGeometry> geometry;  // per panel: midline lengths, slope, companion
};

void quadrature_column(const QuadratureColumns& q, int panel_number, ColumnPass pass, ColumnInfluenceArrays& a)
{
    const auto i = static_cast<std::size_t>(to_panel_index(panel_number));
    if (pass == ColumnPass::direct) {
        // The panel's "image" in the plane through its own reference point is the panel.
        const float depth = -q.direct.colloc[3 * i + 2];
        vquadr_spline(q.listing_unit, q.symmetry, panel_number, q.n, q.direct, q.geometry[i], a.panel_sum,
                      a.weighted_sum, a.panel_diff, a.weighted_diff, q.switches, kFreeTermWeights, depth);
    } else {
        vquadr_spline(q.listing_unit, q.symmetry, panel_number, q.n, q.image, q.geometry[i], a.panel_sum,
                      a.weighted_sum, a.panel_diff, a.weighted_diff, q.switches, kFreeTermWeights, q.sea_depth);
    }
}

// ---- the panel loop -------------------------------------------------------------------------

// Where unknown p sits: its sheet and its 1-based grid position (a, b) in the padded sheet.
struct UnknownPlace {
    int sheet;
    int a;
    int b;
};

std::vector<UnknownPlace> place_unknowns(const PanelModel& m, int nsheet)
{
    std::vector<UnknownPlace> places;
    places.reserve(static_cast<std::size_t>(m.n_panels));
    for (int s = 0; s < nsheet; ++s)
        for (int b = 1; b <= m.np2[s]; ++b)
            for (int a = 1; a <= m.np1[s]; ++a) places.push_back({s, a, b});
    return places;
}

// The inward step of the rim stencil, 0 for an interior position; the first test that
// holds decides, so the corners take the first-direction stencil.
int rim_step(const UnknownPlace& pl, int np1, int np2)
{
    if (pl.a == 1) return 1;
    if (pl.a == np1) return -1;
    if (pl.b == 1) return np1;
    if (pl.b == np2) return -np1;
    return 0;
}

// One panel of the current block: the influence arrays of its direct and image evaluation
// and the velocity records of its row.
struct PanelSlot {
    ColumnInfluenceArrays direct;
    ColumnInfluenceArrays image;
    std::vector<float> velocity;          // .jou4 records back to back
    std::vector<int> velocity_lengths;    // their lengths, in order
    PanelSlot(int n, bool image_pass) : direct(n), image(image_pass ? n : 0) {}
};

std::uint64_t panel_slot_bytes(int n, bool image_pass)
{
    const std::uint64_t set = std::uint64_t(n) * ((12 + 18) * 2 * sizeof(float) + 4 * sizeof(int));
    return image_pass ? 2 * set : set;
}

struct LoopContext {
    const PanelModel& model;
    const SeteqnUnits& units;
    const ColumnInfluenceRoutine& influence;
    PanelwiseSystem& system;
    int symmetry;
    int infbnd;
    float sea_depth;
    std::vector<UnknownPlace> places;
    std::vector<int> sheet_offset;        // nsheet + 1 entries
    std::vector<KernelPanel> kernel_panels;   // for the velocity records (INFBND 1 only)
};

// The influence calls of panel p (0-based) and, under INFBND 1, the velocity records of row
// p: everything of a panel that is independent of the other panels.
void compute_panel(const LoopContext& ctx, int p, PanelSlot& w)
{
    w.direct.warnings.clear();
    w.image.warnings.clear();
    w.velocity.clear();
    w.velocity_lengths.clear();
    const PanelModel& m = ctx.model;
    if (m.active[static_cast<std::size_t>(p)] != 0) {
        ctx.influence.fill(to_panel_number(p), ColumnPass::direct, w.direct);
        if (ctx.influence.image_pass) ctx.influence.fill(to_panel_number(p), ColumnPass::bottom_image, w.image);
    }
    if (ctx.infbnd != 1) return;
    // Every row, ghost rows included, walks the flagged body sheets with its collocation
    // point as the field point.
    const std::array<float, 3> field = {m.colloc[3 * static_cast<std::size_t>(p)],
                                        m.colloc[3 * static_cast<std::size_t>(p) + 1],
                                        m.colloc[3 * static_cast<std::size_t>(p) + 2]};
    const int nsheet = static_cast<int>(ctx.sheet_offset.size()) - 1;
    for (int s = 0; s < nsheet; ++s) {
        if (m.kp[s] != kSheetKindBody || m.mp[s] == 0) continue;
        for (int c = ctx.sheet_offset[s]; c < ctx.sheet_offset[s + 1]; ++c) {
            if (m.active[static_cast<std::size_t>(c)] == 0) continue;
            const std::size_t before = w.velocity.size();
            getvel(ctx.kernel_panels, ctx.symmetry, field, to_panel_number(c), ctx.sea_depth, w.velocity);
            if (w.velocity.size() > before) w.velocity_lengths.push_back(static_cast<int>(w.velocity.size() - before));
        }
    }
}

// Rows [r0, r1) of one system (a, b): one evaluation of panel p added by (2) or (3), and its
// free term (4) when row p lies in the range.
void add_column_block(const PanelModel& m, int n, int p, int kind, bool free_term, const float* panel,
                      const float* weighted, float* a, float* b, std::size_t r0, std::size_t r1)
{
    const std::size_t N = static_cast<std::size_t>(n);
    const std::size_t P = static_cast<std::size_t>(p);
    const int* nodes = &m.node_table[9 * P];
    const bool own_row = P >= r0 && P < r1;
    if (kind == kSheetKindBody) {
        for (int k = 0; k < 9; ++k) {
            if (nodes[k] == 0) continue;
            float* col = a + static_cast<std::size_t>(to_panel_index(nodes[k])) * N;
            const float* dipole = weighted + (9 + static_cast<std::size_t>(k)) * N;
            for (std::size_t r = r0; r < r1; ++r) col[r] += dipole[r];
        }
        float* bcol = b + P * N;
        const float* source = panel;   // column 1
        for (std::size_t r = r0; r < r1; ++r) bcol[r] += source[r];
        if (free_term && own_row)
            for (int k = 0; k < 9; ++k) {
                if (nodes[k] == 0) continue;
                a[P + static_cast<std::size_t>(to_panel_index(nodes[k])) * N] += kTwoPi * kFreeTermWeights[k];
            }
    } else if (kind == kSheetKindBody1 || kind == kSheetKindFreeSurface) {
        for (int k = 0; k < 9; ++k) {
            if (nodes[k] == 0) continue;
            float* col = a + static_cast<std::size_t>(to_panel_index(nodes[k])) * N;
            const float* source = weighted + static_cast<std::size_t>(k) * N;
            for (std::size_t r = r0; r < r1; ++r) col[r] -= source[r];
        }
        float* bcol = b + P * N;
        const float* dipole = panel + 6 * N;   // column 7
        for (std::size_t r = r0; r < r1; ++r) bcol[r] -= dipole[r];
        if (free_term && own_row) b[P + P * N] -= kTwoPi;
    }
}

// Rows [r0, r1) of everything panel p adds to the matrices: its column blocks (direct, then
// the bottom image), its free term and, under INFBND 1, its rim stencil.
void merge_rows(const LoopContext& ctx, int p, const PanelSlot& w, std::size_t r0, std::size_t r1)
{
    const PanelModel& m = ctx.model;
    PanelwiseSystem& sys = ctx.system;
    const int n = sys.n;
    const std::size_t N = static_cast<std::size_t>(n);
    const UnknownPlace& pl = ctx.places[static_cast<std::size_t>(p)];
    if (m.active[static_cast<std::size_t>(p)] != 0) {
        const int kind = m.kp[pl.sheet];
        add_column_block(m, n, p, kind, true, w.direct.panel_sum.data(), w.direct.weighted_sum.data(),
                         sys.amat.data(), sys.bmat.data(), r0, r1);
        if (sys.symmetric)
            add_column_block(m, n, p, kind, true, w.direct.panel_diff.data(), w.direct.weighted_diff.data(),
                             sys.amata.data(), sys.bmata.data(), r0, r1);
        if (ctx.influence.image_pass) {
            add_column_block(m, n, p, kind, false, w.image.panel_sum.data(), w.image.weighted_sum.data(),
                             sys.amat.data(), sys.bmat.data(), r0, r1);
            if (sys.symmetric)
                add_column_block(m, n, p, kind, false, w.image.panel_diff.data(), w.image.weighted_diff.data(),
                                 sys.amata.data(), sys.bmata.data(), r0, r1);
        }
    }
    const std::size_t P = static_cast<std::size_t>(p);
    if (ctx.infbnd != 1 || P < r0 || P >= r1) return;
    const int step = rim_step(pl, m.np1[pl.sheet], m.np2[pl.sheet]);
    if (step == 0) return;
    for (std::vector<float>* a : {&sys.amat, &sys.amata}) {
        if (a->empty()) continue;
        (*a)[P + P * N] = 1.0f;
        (*a)[P + static_cast<std::size_t>(p + step) * N] = -2.0f;
        (*a)[P + static_cast<std::size_t>(p + 2 * step) * N] = 1.0f;
    }
}

// Rows handed to one thread at a time when a block is added: a few pages of each column.
constexpr std::size_t kMergeRows = 512;

// Panels computed together (see assemble_panelwise_system).
constexpr int kBlockPanels = 32;

// The panel loop, block by block.  The panels of a block are computed in parallel, one slot
// each; then their lines and records are written in panel order, and their contributions
// are added with the rows split among the threads, each thread adding the block's panels in
// panel order.  So every element of the matrices receives its terms in panel order
// whatever the thread count and the block size.
void panel_loop(const LoopContext& ctx, std::vector<PanelSlot>& slots)
{
    UnitTable& io = units();
    const int n = ctx.system.n;
    const int block = static_cast<int>(slots.size());
    const std::size_t N = static_cast<std::size_t>(n);
    for (int p0 = 0; p0 < n; p0 += block) {
        const int count = std::min(block, n - p0);
        // A stop inside the parallel region cannot leave it as an exception: the stop of the
        // lowest failing panel is kept (the same whatever the thread count) and raised after.
        std::exception_ptr failure;
        int failed = n;
#pragma omp parallel for schedule(dynamic, 1)
        for (int i = 0; i < count; ++i) {
            try {
                compute_panel(ctx, p0 + i, slots[static_cast<std::size_t>(i)]);
            } catch (...) {
#pragma omp critical(seteqn1_failure)
                if (p0 + i < failed) {
                    failed = p0 + i;
                    failure = std::current_exception();
                }
            }
        }
        if (failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const RunStopped& stop) {
                reraise_stop(stop);
            }
        }
        for (int i = 0; i < count; ++i) {
            const PanelSlot& w = slots[static_cast<std::size_t>(i)];
            for (const auto* lines : {&w.direct.warnings, &w.image.warnings})
                for (const std::string& line : *lines)
                    if (io.is_open(ctx.units.listing)) io.write_line(ctx.units.listing, line);
            std::size_t at = 0;
            for (const int len : w.velocity_lengths) {
                io.write_record(ctx.units.jou4, std::as_bytes(std::span(&w.velocity[at], static_cast<std::size_t>(len))));
                at += static_cast<std::size_t>(len);
            }
        }
        const std::ptrdiff_t chunks = static_cast<std::ptrdiff_t>((N + kMergeRows - 1) / kMergeRows);
#pragma omp parallel for schedule(static)
        for (std::ptrdiff_t c = 0; c < chunks; ++c) {
            const std::size_t r0 = static_cast<std::size_t>(c) * kMergeRows;
            const std::size_t r1 = std::min(N, r0 + kMergeRows);
            for (int i = 0; i < count; ++i) merge_rows(ctx, p0 + i, slots[static_cast<std::size_t>(i)], r0, r1);
        }
    }
}

// Row scaling: divide row r of a and b by the Euclidean norm of row r of a.
void scale_rows(int n, std::vector<float>& a, std::vector<float>& b)
{
    const std::size_t N = static_cast<std::size_t>(n);
    std::vector<double> sum(N, 0.0);
    for (std::size_t c = 0; c < N; ++c) {
        const float* col = &a[c * N];
        for (std::size_t r = 0; r < N; ++r) sum[r] += double(col[r]) * double(col[r]);
    }
    std::vector<float> s(N);
    for (std::size_t r = 0; r < N; ++r) s[r] = static_cast<float>(std::sqrt(sum[r]));
    for (std::size_t c = 0; c < N; ++c) {
        float* acol = &a[c * N];
        float* bcol = &b[c * N];
        for (std::size_t r = 0; r < N; ++r) {
            if (s[r] == 0.0f) continue;   // an all-zero row: sgetrf will name it
            acol[r] /= s[r];
            bcol[r] /= s[r];
        }
    }
}

// Rows of the column-major b, one record each, in row order.  Rows are gathered in blocks so
// that the columns are read in cache lines, not one float per line.
void write_rows(int unit, int n, const std::vector<float>& b)
{
    UnitTable& io = units();
    const std::size_t N = static_cast<std::size_t>(n);
    constexpr std::size_t kRowBlock = 64;
    std::vector<float> rows(kRowBlock * N);
    for (std::size_t r0 = 0; r0 < N; r0 += kRowBlock) {
        const std::size_t count = std::min(kRowBlock, N - r0);
        for (std::size_t c = 0; c < N; ++c)
            for (std::size_t i = 0; i < count; ++i) rows[i * N + c] = b[r0 + i + c * N];
        for (std::size_t i = 0; i < count; ++i) io.write_record(unit, std::as_bytes(std::span(&rows[i * N], N)));
    }
}

// Factorise or invert one system and write it to .jou2.
void factorise_and_write(const SeteqnUnits& u, int n, std::vector<float>& a, std::vector<float>& b,
                         std::vector<int>& ipiv, int infinvs, bool antisymmetric)
{
    UnitTable& io = units();
    const int info = blocked_sgetrf(n, n, a.data(), std::max(n, 1), ipiv.data());
    if (info != 0) {
        if (antisymmetric)
            stop_run_on(u.listing, {items_line(list_directed("ERROR: Error decomposing amata in seteqn1.", info))});
        stop_run_on(u.listing, {items_line(list_directed("ERROR: Error decomposing amat in routine seteqn1.", info))});
    }
    if (infinvs > 0) {
        io.write_record(u.jou2, bytes_of(a));
        io.write_record(u.jou2, bytes_of(ipiv));
        return;
    }
    if (blocked_sgetri(n, a.data(), std::max(n, 1), ipiv.data()) != 0)
        stop_run_on(u.listing, {antisymmetric ? "error inversing amata in seteqn1." : "error inversing amat in seteqn1."});
    if (infinvs == 0) {
        io.write_record(u.jou2, bytes_of(a));
        return;
    }
    // inverse times B, B read back from the right-hand-side file into b's rows.
    const std::size_t N = static_cast<std::size_t>(n);
    const int rhs_unit = antisymmetric ? u.jou1a : u.jou1;
    io.rewind(rhs_unit);
    for (std::size_t r = 0; r < N; ++r) {
        const auto rec = io.read_record(rhs_unit);
        if (!rec || rec->size() != N * sizeof(float))
            stop_run_on(u.listing, {"ERROR: right-hand-side record " + std::to_string(r + 1) + " of " +
                                    io.name_of(rhs_unit) + " is missing or has the wrong length"});
        const float* row = reinterpret_cast<const float*>(rec->data());
        for (std::size_t c = 0; c < N; ++c) b[r + c * N] = row[c];
    }
    std::vector<float> product;
    allocate_or_stop(product, N * N, {kNoMemory}, u.listing);
    ordered_matrix_product(n, a, b, product);
    io.write_record(u.jou2, bytes_of(product));
}

}  // namespace

ColumnInfluenceArrays::ColumnInfluenceArrays(int n)
    : panel_sum(static_cast<std::size_t>(n) * kPanelColumns), weighted_sum(static_cast<std::size_t>(n) * kWeightedColumns),
      panel_diff(static_cast<std::size_t>(n) * kPanelColumns), weighted_diff(static_cast<std::size_t>(n) * kWeightedColumns)
{
    for (auto& list : class_lists) list.assign(static_cast<std::size_t>(n), 0);
}

ColumnInfluenceRoutine select_column_influence(const PanelModel& model, int listing_unit, int symmetry, int infmeth,
                                               const std::array<int, 3>& ispline, float sea_depth)
{
    const int n = model.n_panels;
    ColumnInfluenceRoutine routine;
    routine.image_pass = infmeth != 0 && sea_depth > 0.0f;
    if (infmeth > 0) {
        const PanelTables tables = panel_tables(model);
        routine.fill = [tables, listing_unit, symmetry, infmeth, n, sea_depth](int p, ColumnPass pass,
                                                                              ColumnInfluenceArrays& a) {
            const float depth = pass == ColumnPass::direct ? kNoBottom : sea_depth;
            getic2a(tables, listing_unit, symmetry, infmeth, p, n, a.panel_sum, a.weighted_sum, a.panel_diff,
                    a.weighted_diff, depth);
        };
    } else if (infmeth == 0) {
        // getic2b takes a bottom at z = -depth for every depth >= 0; SEA_DEPTH <= 0 means deep
        // water for the whole system (seteqn adds no image for it), so such depths become -1.
        const PanelTables tables = panel_tables(model);
        const float depth = sea_depth > 0.0f ? sea_depth : kNoBottom;
        routine.fill = [tables, symmetry, n, depth](int p, ColumnPass pass, ColumnInfluenceArrays& a) {
            assert(pass == ColumnPass::direct && "getic2b holds the bottom image already");
            (void)pass;
            const DiagnosticSink sink = [&a](std::string_view line) { a.warnings.emplace_back(line); };
            const std::array<std::span<int>, 4> lists = {a.class_lists[0], a.class_lists[1], a.class_lists[2],
                                                         a.class_lists[3]};
            (void)getic2b(tables, sink, symmetry, p, n, lists, a.panel_sum, a.weighted_sum, a.panel_diff,
                          a.weighted_diff, depth);
        };
    } else {
        auto q = std::make_shared<QuadratureColumns>();
        q->n = n;
        q->listing_unit = listing_unit;
        q->symmetry = symmetry;
        q->sea_depth = sea_depth;
        q->switches = ispline;
        q->direct = quadrature_panels(model);
        q->image = q->direct;
        if (sea_depth > 0.0f) {
            q->reflected.assign(model.colloc.begin(), model.colloc.begin() + 3 * static_cast<std::ptrdiff_t>(n));
            for (std::size_t j = 0; j < static_cast<std::size_t>(n); ++j)
                q->reflected[3 * j + 2] = -q->reflected[3 * j + 2] - 2.0f * sea_depth;
            q->image.colloc = q->reflected;
        }
        q->geometry.resize(static_cast<std::size_t>(n));
        for (int p = 0; p < n; ++p) q->geometry[static_cast<std::size_t>(p)] = piece_geometry(model, to_panel_number(p));
        routine.fill = [q](int p, ColumnPass pass, ColumnInfluenceArrays& a) { quadrature_column(*q, p, pass, a); };
    }
    return routine;
}

PanelwiseSystem assemble_panelwise_system(const PanelModel& model, const SeteqnUnits& u, int symmetry, int nsheet,
                                          int n, const ColumnInfluenceRoutine& influence, int infbnd, float sea_depth)
{
    const std::size_t N = static_cast<std::size_t>(n);
    PanelwiseSystem sys;
    sys.n = n;
    sys.symmetric = symmetry == 1;

    // 1. Allocation, in the order of the messages: amat, bmat, the influence arrays and work
    // lists (one set per panel of a block), then the antisymmetric pair.
    allocate_or_stop(sys.amat, N * N, {kNoMemory}, u.listing);
    allocate_or_stop(sys.bmat, N * N, {kNoMemory}, u.listing);
    // Panels per block: at least two per thread, so that the threads stay busy when the
    // panels' costs differ, and at least kBlockPanels, so that a block's two synchronisation
    // points are paid once per many panels (a thread descheduled on a shared machine holds
    // up the others at each of them).  The slots cost kBlockPanels x 256 N bytes, doubled
    // with the image pass: a tenth of one N x N matrix at N = 20000.
    const int threads = team_threads();
    const int block = std::min(std::max(1, n), std::max(kBlockPanels, 2 * threads));
    check_memory_or_stop(std::uint64_t(block) * panel_slot_bytes(n, influence.image_pass), {kNoMemory}, u.listing);
    std::vector<PanelSlot> slots;
    try {
        slots.reserve(static_cast<std::size_t>(block));
        for (int b = 0; b < block; ++b) slots.emplace_back(n, influence.image_pass);
    } catch (const std::bad_alloc&) {
        stop_run_on(u.listing, {kNoMemory});
    }
    if (sys.symmetric) {
        allocate_or_stop(sys.amata, N * N, {kNoMemoryAntisymmetric}, u.listing);
        allocate_or_stop(sys.bmata, N * N, {kNoMemoryAntisymmetric}, u.listing);
    }
    if (infbnd == 2) stop_run_on(u.listing, {"ERROR: Not yet available"});
    sys.cpu_start = cpu_seconds();

    // 2-3. The panel loop.
    LoopContext ctx{model, u, influence, sys, symmetry, infbnd, sea_depth, place_unknowns(model, nsheet), {}, {}};
    ctx.sheet_offset.assign(static_cast<std::size_t>(nsheet) + 1, 0);
    for (int s = 0; s < nsheet; ++s) ctx.sheet_offset[s + 1] = ctx.sheet_offset[s] + model.np[s];
    if (infbnd == 1)
        for (int s = 0; s < nsheet; ++s)
            if (model.kp[s] == kSheetKindBody && model.mp[s] != 0) {
                ctx.kernel_panels.reserve(N);
                for (int c = 0; c < n; ++c) ctx.kernel_panels.push_back(kernel_panel(model, to_panel_number(c)));
                break;
            }
    panel_loop(ctx, slots);

    // 4. End of the panel-integral phase.
    sys.cpu_panels_done = cpu_seconds();
    slots.clear();
    slots.shrink_to_fit();

    // 5. Connectivity rows of the ghost unknowns.
    if (infbnd == 0) {
        const std::vector<PanelConnection> pancon = FIND_CONNECTIVITY(u.listing, symmetry, model);
        write_connectivity_info(pancon, model.colloc);
        // Only the indicator 1 builds the antisymmetric pair; for any other positive value
        // there is no amata to receive the antisymmetric rows.
        const int pair = sys.symmetric ? symmetry : std::min(symmetry, 0);
        sheet_continuity(u.listing, pair, pancon, model, ContinuityMatrices{sys.amat, sys.bmat, sys.amata, sys.bmata});
    }

    // 6. Row scaling.
    scale_rows(n, sys.amat, sys.bmat);
    if (sys.symmetric) scale_rows(n, sys.amata, sys.bmata);
    return sys;
}

void seteqn1(const PanelModel& model, const SeteqnUnits& units, int symmetry, int nsheet, int n,
             const std::array<int, 3>& ispline, int infmeth, int infbnd, int infinvs, float sea_depth)
{
    const ColumnInfluenceRoutine influence =
        select_column_influence(model, units.listing, symmetry, infmeth, ispline, sea_depth);
    seteqn1(model, units, symmetry, nsheet, n, influence, infbnd, infinvs, sea_depth);
}

void seteqn1(const PanelModel& model, const SeteqnUnits& u, int symmetry, int nsheet, int n,
             const ColumnInfluenceRoutine& influence, int infbnd, int infinvs, float sea_depth)
{
    UnitTable& io = units();
    PanelwiseSystem sys = assemble_panelwise_system(model, u, symmetry, nsheet, n, influence, infbnd, sea_depth);

    // 7. The rows of B (and B_a), then the end of the boundary-condition phase.
    write_rows(u.jou1, n, sys.bmat);
    if (sys.symmetric) write_rows(u.jou1a, n, sys.bmata);
    const float t_rows_written = cpu_seconds();

    // 8. Factorisation and output; amat and bmat go before the antisymmetric system.
    const float panel_seconds = sys.cpu_panels_done - sys.cpu_start;
    const float boundary_seconds = t_rows_written - sys.cpu_panels_done;
    std::vector<int> ipiv;
    allocate_or_stop(ipiv, static_cast<std::size_t>(n), {kNoPivotMemory}, u.listing);
    factorise_and_write(u, n, sys.amat, sys.bmat, ipiv, infinvs, false);
    sys.amat = std::vector<float>();
    sys.bmat = std::vector<float>();
    if (sys.symmetric) factorise_and_write(u, n, sys.amata, sys.bmata, ipiv, infinvs, true);
    sys = PanelwiseSystem{};
    ipiv = std::vector<int>();

    // 9. Timings.
    const float factor_seconds = cpu_seconds() - t_rows_written;
    io.write_line(u.listing, list_directed(kPanelTimeLabel, panel_seconds));
    io.write_line(u.listing, list_directed(kBoundaryTimeLabel, boundary_seconds));
    io.write_line(u.listing, list_directed(kFactorTimeLabel, factor_seconds));
}

}  // namespace torva
