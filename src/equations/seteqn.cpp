#include "equations/seteqn.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <string>

#include "equations/dense_linear_algebra.hpp"
#include "frame/allocation.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace torva {

namespace {

// Single-precision 2 pi of the free term, and its nine-point B-spline spread (4): 6.28318
// times (1, 6, 1) x (1, 6, 1), each product rounded to float.
constexpr float kTwoPi = 6.28318f;
constexpr float kFreeTermWeights[9] = {6.28318f,  37.69908f, 6.28318f,  37.69908f, 226.19449f,
                                       37.69908f, 6.28318f,  37.69908f, 6.28318f};

// Rows assembled together before their right-hand sides are written.  Large enough that the
// transposition into the column-major amat moves whole cache lines, small enough that the
// block buffers stay in the cache hierarchy.
constexpr int kBlockRows = 32;

float cpu_seconds() { return static_cast<float>(std::clock()) / CLOCKS_PER_SEC; }

// Where unknown r sits: its sheet, and its 1-based grid position (a, b) in the padded sheet.
struct RowPlace {
    int sheet;
    int a;
    int b;
};

std::vector<RowPlace> place_rows(const PanelModel& m, int nsheet)
{
    std::vector<RowPlace> places;
    places.reserve(static_cast<std::size_t>(m.n_panels));
    for (int s = 0; s < nsheet; ++s)
        for (int b = 1; b <= m.np2[s]; ++b)
            for (int a = 1; a <= m.np1[s]; ++a) places.push_back({s, a, b});
    return places;
}

// One row of the block: amat/amata rows row-major in the block buffers.
struct BlockBuffers {
    int n = 0;
    bool symmetric = false;
    std::vector<float> amat_rows, amata_rows, brow_rows, browa_rows;
    std::vector<std::vector<float>> velocity;      // .jou4 records of each row, back to back
    std::vector<std::vector<int>> velocity_lengths;  // and their lengths, in order
    void reset(int rows)
    {
        std::fill_n(amat_rows.begin(), static_cast<std::size_t>(rows) * n, 0.0f);
        std::fill_n(brow_rows.begin(), static_cast<std::size_t>(rows) * n, 0.0f);
        if (symmetric) {
            std::fill_n(amata_rows.begin(), static_cast<std::size_t>(rows) * n, 0.0f);
            std::fill_n(browa_rows.begin(), static_cast<std::size_t>(rows) * n, 0.0f);
        }
        for (auto& v : velocity) v.clear();
        for (auto& v : velocity_lengths) v.clear();
    }
};

// Column pass (2), (3) over all sheets for one influence evaluation; `image` marks the
// bottom-image pass, which adds and writes no velocity records.
void column_pass(const PanelModel& m, int nsheet, bool symmetric, const RowInfluenceArrays& inf, bool image,
                 float* arow, float* brow, float* aarow, float* barow)
{
    const int n = m.n_panels;
    const float* ps = inf.panel_sum.data();
    const float* ns = inf.node_sum.data();
    const float* pd = inf.panel_diff.data();
    const float* nd = inf.node_diff.data();
    const std::size_t c1 = 0, c7 = 6 * static_cast<std::size_t>(n);   // columns 1 and 7
    int offset = 0;
    for (int s = 0; s < nsheet; ++s) {
        const int kind = m.kp[s];
        const int end = offset + m.np[s];
        if (kind == kSheetKindBody) {
            for (int c = offset; c < end; ++c) {
                if (image) {
                    arow[c] += ns[c7 + c];
                    brow[c] -= ps[c1 + c];
                } else {
                    arow[c] = ns[c7 + c];
                    brow[c] = -ps[c1 + c];
                }
            }
            if (symmetric)
                for (int c = offset; c < end; ++c) {
                    if (image) {
                        aarow[c] += nd[c7 + c];
                        barow[c] -= pd[c1 + c];
                    } else {
                        aarow[c] = nd[c7 + c];
                        barow[c] = -pd[c1 + c];
                    }
                }
        } else if (kind == kSheetKindBody1 || kind == kSheetKindFreeSurface) {
            for (int c = offset; c < end; ++c) {
                if (image) {
                    arow[c] -= ns[c1 + c];
                    brow[c] += ps[c7 + c];
                } else {
                    arow[c] = -ns[c1 + c];
                    brow[c] = ps[c7 + c];
                }
            }
            if (symmetric)
                for (int c = offset; c < end; ++c) {
                    if (image) {
                        aarow[c] -= nd[c1 + c];
                        barow[c] += pd[c7 + c];
                    } else {
                        aarow[c] = -nd[c1 + c];
                        barow[c] = pd[c7 + c];
                    }
                }
        }
        offset = end;
    }
}

// (5): negate the right-hand side and divide the row and its right-hand side by the norm
// of the amat row.  The norm is summed in double: it only scales, and a float sum of a
// few thousand squares would lose the digits that make rows comparable.
void negate_and_scale(int n, float* arow, float* brow)
{
    double sum = 0.0;
    for (int c = 0; c < n; ++c) sum += double(arow[c]) * double(arow[c]);
    const float s = static_cast<float>(std::sqrt(sum));
    for (int c = 0; c < n; ++c) brow[c] = -brow[c];
    if (s == 0.0f) return;   // an all-zero row: left as it is, sgetrf will name it
    for (int c = 0; c < n; ++c) {
        arow[c] /= s;
        brow[c] /= s;
    }
}

}  // namespace

RowInfluenceArrays::RowInfluenceArrays(int n)
    : panel_sum(static_cast<std::size_t>(n) * 12), node_sum(static_cast<std::size_t>(n) * 12),
      panel_diff(static_cast<std::size_t>(n) * 12), node_diff(static_cast<std::size_t>(n) * 12)
{
}

void ordered_matrix_product(int n, std::span<const float> a, std::span<const float> b, std::span<float> c)
{
    const std::size_t N = static_cast<std::size_t>(n);
    std::fill(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(N * N), 0.0f);
    // Each C(i, k) receives A(i, j) B(j, k) for j ascending, exactly as the plain loop; the
    // blocking only changes which (i, k) are worked on together.  Blocks of rows of C keep
    // a strip of A and of C in the cache while j runs; the loop over i vectorises, and
    // -ffp-contract=off keeps multiply and add separate, as in the plain loop.
    constexpr std::size_t kRowBlock = 512;
    constexpr std::size_t kColBlock = 64;
#pragma omp parallel for schedule(dynamic)
    for (std::ptrdiff_t kb = 0; kb < static_cast<std::ptrdiff_t>(N); kb += kColBlock) {
        const std::size_t k_end = std::min(N, static_cast<std::size_t>(kb) + kColBlock);
        for (std::size_t ib = 0; ib < N; ib += kRowBlock) {
            const std::size_t i_end = std::min(N, ib + kRowBlock);
            for (std::size_t j = 0; j < N; ++j) {
                const float* acol = a.data() + j * N;
                for (std::size_t k = static_cast<std::size_t>(kb); k < k_end; ++k) {
                    const float bjk = b[j + k * N];
                    float* ccol = c.data() + k * N;
                    for (std::size_t i = ib; i < i_end; ++i) ccol[i] = ccol[i] + acol[i] * bjk;
                }
            }
        }
    }
}

void seteqn(const PanelModel& model, const SeteqnUnits& units, int symmetry, int nsheet, int n,
            const std::array<int, 3>& ispline, int infmeth, int infinvs, float sea_depth)
{
    const RowInfluence influence = select_row_influence(model, units.listing, symmetry, infmeth, ispline);
    seteqn(model, units, symmetry, nsheet, n, influence, infinvs, sea_depth);
}

namespace {

// Factorise or invert one system and write it to .jou2 (steps 1-3 of the output).
void factorise_and_write(const SeteqnUnits& u, int n, std::vector<float>& amat, std::vector<int>& ipiv,
                         std::vector<float>& sd, int infinvs, bool antisymmetric)
{
    UnitTable& io = units();
    const int info = sgetrf(n, amat, ipiv);
    if (info != 0) {
        if (antisymmetric)
            stop_run_on(u.listing, {list_directed("ERROR: error decomposing amata ", "in routine seteqn.").substr(1)});
        stop_run_on(u.listing, {list_directed("ERROR: Error decomposing amat in routine", " seteqn.", info).substr(1)});
    }
    const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    if (infinvs > 0) {
        io.write_record(u.jou2, bytes_of(amat));
        io.write_record(u.jou2, bytes_of(ipiv));
        return;
    }
    if (sgetri(n, amat, ipiv) != 0) {
        if (antisymmetric) stop_run_on(u.listing, {list_directed("ERROR: inversing amata", " in seteqn").substr(1)});
        stop_run_on(u.listing, {"ERROR: inversing amat in seteqn"});
    }
    if (infinvs == 0) {
        io.write_record(u.jou2, bytes_of(amat));
        return;
    }
    // inverse times B: B read back row by row from the right-hand-side file.
    if (sd.empty()) allocate_or_stop(sd, nn, {"ERROR: Error allocating sd in seteqn"}, u.listing);
    const int rhs_unit = antisymmetric ? u.jou1a : u.jou1;
    io.rewind(rhs_unit);
    for (int r = 0; r < n; ++r) {
        const auto rec = io.read_record(rhs_unit);
        if (!rec || rec->size() != static_cast<std::size_t>(n) * sizeof(float))
            stop_run_on(u.listing, {"ERROR: right-hand-side record " + std::to_string(r + 1) + " of " +
                                    io.name_of(rhs_unit) + " is missing or has the wrong length"});
        const float* row = reinterpret_cast<const float*>(rec->data());
        for (int c = 0; c < n; ++c) sd[static_cast<std::size_t>(r) + static_cast<std::size_t>(c) * n] = row[c];
    }
    // The product needs a zeroed scratch matrix; the row record buffer of the read-back is
    // gone, so the scratch is the one extra N x N this phase is allowed.
    std::vector<float> product;
    allocate_or_stop(product, nn, {"ERROR: Error allocating sd in seteqn"}, u.listing);
    ordered_matrix_product(n, amat, sd, product);
    io.write_record(u.jou2, bytes_of(product));
}

}  // namespace

void assemble_system(const PanelModel& model, const SeteqnUnits& u, int symmetry, int nsheet, int n,
                     const RowInfluence& influence, float sea_depth, std::span<float> amat, std::span<float> amata)
{
    UnitTable& io = units();
    const bool symmetric = symmetry == 1;
    const std::size_t N = static_cast<std::size_t>(n);
    const std::vector<std::string> no_memory = {list_directed("ERROR: Insufficient memory for arrays in", " seteqn.").substr(1)};
    const std::vector<RowPlace> places = place_rows(model, nsheet);
    std::vector<int> sheet_offset(static_cast<std::size_t>(nsheet) + 1, 0);
    for (int s = 0; s < nsheet; ++s) sheet_offset[s + 1] = sheet_offset[s] + model.np[s];

    // Flat-panel kernel data of every panel, for the velocity records.
    std::vector<KernelPanel> kernel_panels;
    for (int s = 0; s < nsheet; ++s)
        if (model.kp[s] == kSheetKindBody && model.mp[s] != 0) {
            kernel_panels.reserve(N);
            for (int c = 0; c < n; ++c) kernel_panels.push_back(kernel_panel(model, to_panel_number(c)));
            break;
        }

    int threads = 1;
#ifdef _OPENMP
    threads = omp_get_max_threads();
#endif
    // Per-thread influence arrays: the four N x 12 arrays of the row being assembled.
    std::vector<RowInfluenceArrays> work;
    work.reserve(static_cast<std::size_t>(threads));
    check_memory_or_stop(std::uint64_t(threads) * 48u * N * sizeof(float), no_memory, u.listing);
    for (int t = 0; t < threads; ++t) work.emplace_back(n);

    BlockBuffers block;
    block.n = n;
    block.symmetric = symmetric;
    const std::size_t block_floats = static_cast<std::size_t>(kBlockRows) * N;
    allocate_or_stop(block.amat_rows, block_floats, no_memory, u.listing);
    allocate_or_stop(block.brow_rows, block_floats, no_memory, u.listing);
    if (symmetric) {
        allocate_or_stop(block.amata_rows, block_floats, no_memory, u.listing);
        allocate_or_stop(block.browa_rows, block_floats, no_memory, u.listing);
    }
    block.velocity.resize(kBlockRows);
    block.velocity_lengths.resize(kBlockRows);

    for (int r0 = 0; r0 < n; r0 += kBlockRows) {
        const int rows = std::min(kBlockRows, n - r0);
        block.reset(rows);
        // A stop inside a parallel region cannot leave it as an exception: the one of the
        // lowest row is kept (the same whatever the thread count) and raised after the region.
        std::exception_ptr failure;
        int failed_row = n;
#pragma omp parallel for schedule(dynamic, 1)
        for (int i = 0; i < rows; ++i) {
            try {
                int t = 0;
#ifdef _OPENMP
                t = omp_get_thread_num();
#endif
                const int r = r0 + i;
                const RowPlace& pl = places[static_cast<std::size_t>(r)];
                float* arow = &block.amat_rows[static_cast<std::size_t>(i) * N];
                float* brow = &block.brow_rows[static_cast<std::size_t>(i) * N];
                float* aarow = symmetric ? &block.amata_rows[static_cast<std::size_t>(i) * N] : nullptr;
                float* barow = symmetric ? &block.browa_rows[static_cast<std::size_t>(i) * N] : nullptr;
                const int np1 = model.np1[pl.sheet], np2 = model.np2[pl.sheet];
                int step = 0;   // rim stencil direction: r, r + step, r + 2 step
                if (pl.a == 1) step = 1;
                else if (pl.a == np1) step = -1;
                else if (pl.b == 1) step = np1;
                else if (pl.b == np2) step = -np1;
                if (step != 0) {
                    for (float* row : {arow, aarow}) {
                        if (!row) continue;
                        row[r] = 1.0f;
                        row[r + step] = -2.0f;
                        row[r + 2 * step] = 1.0f;
                    }
                } else {
                    RowInfluenceArrays& inf = work[static_cast<std::size_t>(t)];
                    const std::array<float, 3> field = {model.colloc[3 * static_cast<std::size_t>(r)],
                                                        model.colloc[3 * static_cast<std::size_t>(r) + 1],
                                                        model.colloc[3 * static_cast<std::size_t>(r) + 2]};
                    influence(field, to_panel_number(r), inf);
                    column_pass(model, nsheet, symmetric, inf, false, arow, brow, aarow, barow);
                    // Velocity records of this row: kind-2 sheets with a non-zero flag.
                    auto& vel = block.velocity[static_cast<std::size_t>(i)];
                    auto& vel_len = block.velocity_lengths[static_cast<std::size_t>(i)];
                    for (int s = 0; s < nsheet; ++s) {
                        if (model.kp[s] != kSheetKindBody || model.mp[s] == 0) continue;
                        for (int c = sheet_offset[s]; c < sheet_offset[s + 1]; ++c) {
                            if (model.active[c] == 0) continue;
                            const std::size_t before = vel.size();
                            getvel(kernel_panels, symmetry, field, to_panel_number(c), sea_depth, vel);
                            if (vel.size() > before) vel_len.push_back(static_cast<int>(vel.size() - before));
                        }
                    }
                    if (sea_depth > 0.0f) {
                        const std::array<float, 3> image = {field[0], field[1], -field[2] - 2.0f * sea_depth};
                        influence(image, to_panel_number(r), inf);
                        column_pass(model, nsheet, symmetric, inf, true, arow, brow, aarow, barow);
                    }
                    // (4) free term, by the kind of the row's sheet.
                    const int kind = model.kp[pl.sheet];
                    if (kind == kSheetKindBody) {
                        for (int m = 0; m < 9; ++m) {
                            const int e = model.node_table[9 * static_cast<std::size_t>(r) + m];
                            if (e == 0) continue;
                            arow[to_panel_index(e)] += kFreeTermWeights[m];
                            if (aarow) aarow[to_panel_index(e)] += kFreeTermWeights[m];
                        }
                    } else if (kind == kSheetKindBody1 || kind == kSheetKindFreeSurface) {
                        brow[r] += kTwoPi;
                        if (barow) barow[r] += kTwoPi;
                    }
                }
                negate_and_scale(n, arow, brow);
                if (symmetric) negate_and_scale(n, aarow, barow);
            } catch (...) {
#pragma omp critical(seteqn_failure)
                if (r0 + i < failed_row) {
                    failed_row = r0 + i;
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

        // In row order: right-hand sides, velocity records, and the rows into amat.
        for (int i = 0; i < rows; ++i) {
            io.write_record(u.jou1, std::as_bytes(std::span(&block.brow_rows[static_cast<std::size_t>(i) * N], N)));
            if (symmetric)
                io.write_record(u.jou1a, std::as_bytes(std::span(&block.browa_rows[static_cast<std::size_t>(i) * N], N)));
            const auto& vel = block.velocity[static_cast<std::size_t>(i)];
            std::size_t at = 0;
            for (const int len : block.velocity_lengths[static_cast<std::size_t>(i)]) {
                io.write_record(u.jou4, std::as_bytes(std::span(&vel[at], static_cast<std::size_t>(len))));
                at += static_cast<std::size_t>(len);
            }
        }
        for (std::size_t c = 0; c < N; ++c) {
            float* col = &amat[c * N + static_cast<std::size_t>(r0)];
            for (int i = 0; i < rows; ++i) col[i] = block.amat_rows[static_cast<std::size_t>(i) * N + c];
            if (symmetric) {
                float* cola = &amata[c * N + static_cast<std::size_t>(r0)];
                for (int i = 0; i < rows; ++i) cola[i] = block.amata_rows[static_cast<std::size_t>(i) * N + c];
            }
        }
    }
}

void seteqn(const PanelModel& model, const SeteqnUnits& u, int symmetry, int nsheet, int n,
            const RowInfluence& influence, int infinvs, float sea_depth)
{
    UnitTable& io = units();
    const bool symmetric = symmetry == 1;
    const std::size_t N = static_cast<std::size_t>(n);
    const std::vector<std::string> no_memory = {list_directed("ERROR: Insufficient memory for arrays in", " seteqn.").substr(1)};

    std::vector<float> amat, amata;
    allocate_or_stop(amat, N * N, no_memory, u.listing);
    if (symmetric)
        allocate_or_stop(amata, N * N, {list_directed("ERROR: Insufficient memory for antisymm.", " data.").substr(1)},
                         u.listing);

    const float t_start = cpu_seconds();
    assemble_system(model, u, symmetry, nsheet, n, influence, sea_depth, amat, amata);
    // The influence arrays and row blocks were released when assemble_system returned.
    const float t_rows_done = cpu_seconds();
    const float t_released = t_rows_done;

    std::vector<int> ipiv;
    allocate_or_stop(ipiv, N, {"ERROR: Insufficient memory for pivot arrays."}, u.listing);
    std::vector<float> sd;
    factorise_and_write(u, n, amat, ipiv, sd, infinvs, false);
    amat = std::vector<float>();
    if (symmetric) factorise_and_write(u, n, amata, ipiv, sd, infinvs, true);
    const float t_end = cpu_seconds();
    io.write_line(u.listing, list_directed("Time spent on matrix setup:         ", t_rows_done - t_start));
    io.write_line(u.listing, list_directed("Time spent on matrix factorization: ", t_end - t_released));
}

}  // namespace torva
