#include "equations/seteqn.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <new>
#include <string>

#include "equations/ordered_product.hpp"
#include "frame/allocation.hpp"
#include "frame/list_directed.hpp"
#include "frame/progress.hpp"
#include "frame/run_stop.hpp"
#include "frame/threads.hpp"
#include "frame/units.hpp"
#include "linalg/blocked_lu.hpp"

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

// The rows of one block, row-major: amat/amata rows and their right-hand sides, and the
// .jou4 records of each row back to back (every record of a call has the same length).
// Two of them alternate: one is written while the rows of the next are assembled.
struct BlockBuffers {
    std::vector<float> amat_rows, amata_rows, brow_rows, browa_rows;
    std::vector<std::vector<float>> velocity;
};

// The velocity records of one row (getvel for every active unknown of the flagged body
// sheets, in that order), computed for all those panels at once; one set per thread.
struct VelocityWork {
    std::vector<float> direct, image, extra;   // 3 x count each: u, v, w
    VelocitySweepWork sweep;
};

// Appends the records of field point `field` to `record`: the same values, bit for bit, as
// getvel called for each panel of the list in turn.
void velocity_records(const VelocityPanels& panels, int symmetry, const std::array<float, 3>& field,
                      float sea_depth, VelocityWork& w, std::vector<float>& record)
{
    if (sea_depth == 0.0f) return;   // getvel writes no record at depth 0 exactly
    const std::size_t count = panels.size();
    if (count == 0) return;
    if (w.direct.size() != 3 * count) {
        w.direct.assign(3 * count, 0.0f);
        w.image.assign(3 * count, 0.0f);
        w.extra.assign(3 * count, 0.0f);
    }
    auto sweep = [&](float x, float y, float z, std::vector<float>& into) {
        velocity_sweep({x, y, z}, panels, into.data(), into.data() + count, into.data() + 2 * count, w.sweep);
    };
    const float x = field[0], y = field[1], z = field[2];
    const bool symmetric = symmetry == 1;
    sweep(x, y, z, w.direct);
    if (symmetric) sweep(x, -y, z, w.image);
    if (sea_depth > 0.0f) {
        const float zb = -z - 2.0f * sea_depth;
        sweep(x, y, zb, w.extra);
        for (std::size_t i = 0; i < 3 * count; ++i) w.direct[i] += w.extra[i];
        if (symmetric) {
            sweep(x, -y, zb, w.extra);
            for (std::size_t i = 0; i < 3 * count; ++i) w.image[i] += w.extra[i];
        }
    }
    const std::size_t at = record.size();
    record.resize(at + count * (symmetric ? 6 : 3));
    float* out = record.data() + at;
    for (std::size_t j = 0; j < count; ++j) {
        const float d[3] = {w.direct[j], w.direct[count + j], w.direct[2 * count + j]};
        if (symmetric) {
            const float m[3] = {w.image[j], w.image[count + j], w.image[2 * count + j]};
            for (int k = 0; k < 3; ++k) *out++ = d[k] + m[k];
            for (int k = 0; k < 3; ++k) *out++ = d[k] - m[k];
        } else {
            for (int k = 0; k < 3; ++k) *out++ = d[k];
        }
    }
}

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
    // The order of (C = A B, each element summed over j ascending, products rounded before
    // they are added) is the ordered product's contract; it gets its speed from packed
    // register tiles instead of a second reordering of the sums.
    if (n <= 0) return;
    ordered_product(n, n, n, a.data(), n, b.data(), n, c.data(), n);
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
    const int info = blocked_sgetrf(n, n, amat.data(), std::max(n, 1), ipiv.data());
    if (info != 0) {
        if (antisymmetric)
            stop_run_on(u.listing, {list_directed("ERROR: error decomposing amata ", "in routine seteqn.").substr(1)});
        stop_run_on(u.listing, {list_directed("ERROR: Error decomposing amat in routine", " seteqn.", info).substr(1)});
    }
    const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    if (infinvs > 0) {
        // The factors leave for the file while the run goes on; the writer owns them now.
        io.write_behind(u.jou2, [factors = std::move(amat), pivots = ipiv](UnitTable::RecordSink& sink) {
            sink.write(bytes_of(factors));
            sink.write(bytes_of(pivots));
        });
        return;
    }
    if (blocked_sgetri(n, amat.data(), std::max(n, 1), ipiv.data()) != 0) {
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
    // The product replaces B in sd column by column (each column of B is packed before its
    // column of the product is written), so no scratch matrix is needed; the packed copy of
    // the inverse that the ordered product makes is then the one further N x N of this phase.
    try {
        ordered_product(n, n, n, amat.data(), n, sd.data(), n, sd.data(), n);
    } catch (const std::bad_alloc&) {
        stop_run_on(u.listing, {"ERROR: Error allocating sd in seteqn"});
    }
    io.write_record(u.jou2, bytes_of(sd));
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

    // The unknowns whose velocity records every interior row writes: the active panels of
    // the flagged body sheets, sheet by sheet.
    std::vector<int> velocity_columns;
    for (int s = 0, offset = 0; s < nsheet; offset += model.np[s], ++s) {
        if (model.kp[s] != kSheetKindBody || model.mp[s] == 0) continue;
        for (int c = offset; c < offset + model.np[s]; ++c)
            if (model.active[c] != 0) velocity_columns.push_back(c);
    }
    VelocityPanels velocity;
    if (!velocity_columns.empty()) {
        std::vector<KernelPanel> kernel_panels(N);
        for (const int c : velocity_columns) kernel_panels[static_cast<std::size_t>(c)] = kernel_panel(model, to_panel_number(c));
        velocity = velocity_panels(kernel_panels, velocity_columns);
    }
    const std::size_t record_floats = sea_depth == 0.0f ? 0 : symmetric ? 6 : 3;

    const int threads = team_threads();
    // Per-thread influence arrays (the four N x 12 arrays of the row being assembled) and
    // velocity work; each thread sizes its scratch on its first row and reuses it.
    std::vector<RowInfluenceArrays> work;
    std::vector<VelocityWork> velocity_work(static_cast<std::size_t>(threads));
    work.reserve(static_cast<std::size_t>(threads));
    check_memory_or_stop(std::uint64_t(threads) * 48u * N * sizeof(float), no_memory, u.listing);
    for (int t = 0; t < threads; ++t) work.emplace_back(n);

    BlockBuffers blocks[2];
    const std::size_t block_floats = static_cast<std::size_t>(kBlockRows) * N;
    for (BlockBuffers& block : blocks) {
        allocate_or_stop(block.amat_rows, block_floats, no_memory, u.listing);
        allocate_or_stop(block.brow_rows, block_floats, no_memory, u.listing);
        if (symmetric) {
            allocate_or_stop(block.amata_rows, block_floats, no_memory, u.listing);
            allocate_or_stop(block.browa_rows, block_floats, no_memory, u.listing);
        }
        block.velocity.resize(kBlockRows);
    }

    // One row into slot i of a block: (1)-(5) of seteqn.hpp.
    auto assemble_row = [&](BlockBuffers& block, int r, int i, int t) {
        const RowPlace& pl = places[static_cast<std::size_t>(r)];
        float* arow = &block.amat_rows[static_cast<std::size_t>(i) * N];
        float* brow = &block.brow_rows[static_cast<std::size_t>(i) * N];
        float* aarow = symmetric ? &block.amata_rows[static_cast<std::size_t>(i) * N] : nullptr;
        float* barow = symmetric ? &block.browa_rows[static_cast<std::size_t>(i) * N] : nullptr;
        std::fill_n(arow, N, 0.0f);
        std::fill_n(brow, N, 0.0f);
        if (symmetric) {
            std::fill_n(aarow, N, 0.0f);
            std::fill_n(barow, N, 0.0f);
        }
        auto& vel = block.velocity[static_cast<std::size_t>(i)];
        vel.clear();
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
            velocity_records(velocity, symmetry, field, sea_depth, velocity_work[static_cast<std::size_t>(t)], vel);
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
    };

    // In row order: right-hand sides, velocity records, and the rows into amat.
    auto write_block = [&](const BlockBuffers& block, int r0) {
        const int rows = std::min(kBlockRows, n - r0);
        for (int i = 0; i < rows; ++i) {
            io.write_record(u.jou1, std::as_bytes(std::span(&block.brow_rows[static_cast<std::size_t>(i) * N], N)));
            if (symmetric)
                io.write_record(u.jou1a, std::as_bytes(std::span(&block.browa_rows[static_cast<std::size_t>(i) * N], N)));
            // The row's velocity records lie back to back: framed and written in one call.
            io.write_records(u.jou4, bytes_of(block.velocity[static_cast<std::size_t>(i)]),
                             record_floats * sizeof(float));
        }
        for (std::size_t c = 0; c < N; ++c) {
            float* col = &amat[c * N + static_cast<std::size_t>(r0)];
            for (int i = 0; i < rows; ++i) col[i] = block.amat_rows[static_cast<std::size_t>(i) * N + c];
            if (symmetric) {
                float* cola = &amata[c * N + static_cast<std::size_t>(r0)];
                for (int i = 0; i < rows; ++i) cola[i] = block.amata_rows[static_cast<std::size_t>(i) * N + c];
            }
        }
    };

    // Blocks of rows alternate between the two buffers.  While the rows of block b are shared
    // out (dynamic schedule: rows cost unequal amounts), one thread first writes block b - 1,
    // then joins them; the barrier at the end of the row loop makes block b complete before
    // it is written.  The files therefore receive the blocks in order, whatever the number of
    // threads.  A stop inside the region cannot leave it as an exception: the one of the
    // lowest row is kept (the same whatever the thread count) and raised after the region,
    // when the blocks before the failing one have been written; a failed write likewise.
    const int block_count = (n + kBlockRows - 1) / kBlockRows;
    ProgressReporter progress("assembling the main system", "rows");   // stderr, terminals only
    std::exception_ptr failure, write_failure;
    int failed_row = n;
    int written = 0;   // blocks written
#pragma omp parallel
    {
        const int t = team_member();
        for (int b = 0; b < block_count; ++b) {
#pragma omp single nowait
            {
                if (b > 0) {
                    try {
                        write_block(blocks[(b - 1) % 2], (b - 1) * kBlockRows);
                        written = b;
                    } catch (...) {
                        write_failure = std::current_exception();
                    }
                }
            }
            const int r0 = b * kBlockRows;
            const int rows = std::min(kBlockRows, n - r0);
#pragma omp for schedule(dynamic, 1)
            for (int i = 0; i < rows; ++i) {
                try {
                    assemble_row(blocks[b % 2], r0 + i, i, t);
                    progress.advance(n);
                } catch (...) {
#pragma omp critical(seteqn_failure)
                    if (r0 + i < failed_row) {
                        failed_row = r0 + i;
                        failure = std::current_exception();
                    }
                }
            }
            // Every thread reads the flags after the barrier that ends the row loop, and no
            // thread goes on (where the next block's writer may set write_failure) before all
            // have read them: otherwise one thread could see a failure the others missed and
            // leave while they wait for it at the next barrier.
            const bool stop_now = failure || write_failure;
#pragma omp barrier
            if (stop_now) break;
        }
    }
    if (write_failure) std::rethrow_exception(write_failure);
    if (failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const RunStopped& stop) {
            reraise_stop(stop);
        }
    }
    if (written < block_count) write_block(blocks[(block_count - 1) % 2], (block_count - 1) * kBlockRows);
    progress.finish();
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
    {
        ProgressReporter lu(infinvs > 0 ? "factorising amat" : "inverting amat");
        lu.announce();
        factorise_and_write(u, n, amat, ipiv, sd, infinvs, false);
        lu.finish();
    }
    amat = std::vector<float>();
    if (symmetric) {
        ProgressReporter lu(infinvs > 0 ? "factorising amata" : "inverting amata");
        lu.announce();
        factorise_and_write(u, n, amata, ipiv, sd, infinvs, true);
        lu.finish();
    }
    const float t_end = cpu_seconds();
    io.write_line(u.listing, list_directed("Time spent on matrix setup:         ", t_rows_done - t_start));
    io.write_line(u.listing, list_directed("Time spent on matrix factorization: ", t_end - t_released));
}

}  // namespace torva
