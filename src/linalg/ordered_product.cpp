// Ordered matrix product F = A X, each element summed with k ascending (see the header, (1)).
//
// Layout of the work:
//   packed A   - A cut into row tiles of kMr rows; for each tile and each k block of kKc
//                terms, the terms kk whose kMr values are not all zero, stored as kMr
//                contiguous floats each, with the offset kk * kNr of X(kk, .) in a packed X
//                panel.  Built once, shared read-only by all threads.
//   packed X   - per thread, the X columns of one chunk of kNc columns, in panels of kNr
//                columns: panel[kk * kNr + q] = X(kk, i0 + q); missing columns are zero.
//   F          - written in place, tile by tile; a later k block reloads the tile and
//                continues its sums, which keeps the order of (1).
// Skipping an all-zero term of a tile is exact only for finite X (0 * inf = NaN); it is
// switched off when X holds a non-finite value.
#include "linalg/ordered_product.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "frame/threads.hpp"

// The generic copy of the kernel lowers each 8-float vector to two SSE halves, and GCC warns
// (at the end of the file, so the whole file is covered) that such vectors passed by value
// have another ABI without AVX.  The helpers concerned are internal and always inlined: no
// call with that ABI exists.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace torva {

namespace {

constexpr int kMr = 16;          // rows of a register tile: two vectors of 8 floats
constexpr int kNr = 6;           // columns of a register tile: 12 accumulators in 16 registers
constexpr int kKc = 256;         // terms per k block: a packed X panel of kKc * kNr floats (6 KiB) stays in L1
constexpr int kMcPanels = 16;    // row tiles per row block: kMcPanels * kMr * kKc floats (256 KiB) stay in L2
constexpr int kNc = 192;         // columns per chunk (a multiple of kNr), the unit of work of a thread

struct FreeDeleter {
    void operator()(float* p) const noexcept { std::free(p); }
};
using AlignedFloats = std::unique_ptr<float[], FreeDeleter>;

// Cache-line aligned storage for `count` floats (each packed term of A is one 64-byte line).
AlignedFloats aligned_floats(std::size_t count)
{
    const std::size_t bytes = std::max<std::size_t>(64, (count * sizeof(float) + 63) / 64 * 64);
    auto* p = static_cast<float*>(std::aligned_alloc(64, bytes));
    if (!p) throw std::bad_alloc();
    return AlignedFloats(p);
}

struct PackedA {
    int m = 0;
    int k = 0;
    int row_panels = 0;
    int k_blocks = 0;
    AlignedFloats values;               // kMr floats per kept term
    std::vector<int> x_offset;          // kk * kNr per kept term
    std::vector<std::size_t> starts;    // row_panels x (k_blocks + 1) term indices

    [[nodiscard]] std::size_t block_start(int p, int b) const noexcept
    { return starts[static_cast<std::size_t>(p) * (k_blocks + 1) + b]; }
};

PackedA pack_a(int m, int k, const float* a, std::size_t lda, bool skip_zero_terms)
{
    PackedA pa;
    pa.m = m;
    pa.k = k;
    pa.row_panels = (m + kMr - 1) / kMr;
    pa.k_blocks = (k + kKc - 1) / kKc;

    const auto a_at = [a, lda](int row, int col) {
        return a[static_cast<std::size_t>(row) + static_cast<std::size_t>(col) * lda];
    };
    const auto term_is_zero = [&](int p, int kk) {
        const int r1 = std::min(m, (p + 1) * kMr);
        for (int r = p * kMr; r < r1; ++r)
            if (a_at(r, kk) != 0.0f) return false;
        return true;
    };

    // Pass 1: which terms each tile keeps, and where each of its k blocks starts.
    std::vector<unsigned char> keep(static_cast<std::size_t>(pa.row_panels) * k, 1);
    pa.starts.resize(static_cast<std::size_t>(pa.row_panels) * (pa.k_blocks + 1));
    std::size_t terms = 0;
    for (int p = 0; p < pa.row_panels; ++p) {
        for (int kk = 0; kk < k; ++kk) {
            if (kk % kKc == 0) pa.starts[static_cast<std::size_t>(p) * (pa.k_blocks + 1) + kk / kKc] = terms;
            unsigned char& kept = keep[static_cast<std::size_t>(p) * k + kk];
            if (skip_zero_terms && term_is_zero(p, kk)) kept = 0;
            terms += kept;
        }
        pa.starts[static_cast<std::size_t>(p) * (pa.k_blocks + 1) + pa.k_blocks] = terms;
    }

    // Pass 2: the kept values, rows past m padded with zeros.
    pa.values = aligned_floats(terms * kMr);
    pa.x_offset.resize(terms);
    std::size_t t = 0;
    for (int p = 0; p < pa.row_panels; ++p) {
        const int r0 = p * kMr;
        const int rows = std::min(kMr, m - r0);
        for (int kk = 0; kk < k; ++kk) {
            if (!keep[static_cast<std::size_t>(p) * k + kk]) continue;
            float* v = pa.values.get() + t * kMr;
            for (int r = 0; r < kMr; ++r) v[r] = r < rows ? a_at(r0 + r, kk) : 0.0f;
            pa.x_offset[t] = kk * kNr;
            ++t;
        }
    }
    return pa;
}

// X(:, i0 .. i0 + width - 1) into panels of kNr columns; columns past the chunk are zero.
void pack_x_chunk(int k, const float* x, std::size_t ldx, int i0, int width, float* x_pack)
{
    const int column_panels = (width + kNr - 1) / kNr;
    for (int jr = 0; jr < column_panels; ++jr) {
        float* panel = x_pack + static_cast<std::size_t>(jr) * k * kNr;
        for (int q = 0; q < kNr; ++q) {
            const int i = jr * kNr + q;
            if (i < width) {
                const float* column = x + static_cast<std::size_t>(i0 + i) * ldx;
                for (int kk = 0; kk < k; ++kk) panel[static_cast<std::size_t>(kk) * kNr + q] = column[kk];
            } else {
                for (int kk = 0; kk < k; ++kk) panel[static_cast<std::size_t>(kk) * kNr + q] = 0.0f;
            }
        }
    }
}

// The tile kernel, compiled twice from one source.
namespace avx2 {
#pragma GCC push_options
#pragma GCC target("avx2")
#include "linalg/ordered_product_kernel.inc"
#pragma GCC pop_options
}  // namespace avx2

namespace generic {
#include "linalg/ordered_product_kernel.inc"
}  // namespace generic

using ChunkKernel = void (*)(const PackedA&, const float*, int, float*, std::size_t);

bool generic_forced = false;

bool has_avx2() noexcept
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && !generic_forced;
}

bool all_finite(int k, int n, const float* x, std::size_t ldx)
{
    for (int i = 0; i < n; ++i) {
        const float* column = x + static_cast<std::size_t>(i) * ldx;
        for (int kk = 0; kk < k; ++kk)
            if (!std::isfinite(column[kk])) return false;
    }
    return true;
}


}  // namespace

void force_generic_ordered_product(bool on) noexcept { generic_forced = on; }

const char* ordered_product_isa() noexcept { return has_avx2() ? "avx2" : "generic"; }

void ordered_product(int m, int n, int k, const float* a, int lda, const float* x, int ldx,
                     float* f, int ldf)
{
    if (m <= 0 || n <= 0) return;
    const std::size_t ldf_ = static_cast<std::size_t>(ldf);
    if (k <= 0) {   // empty sums: +0, as the plain loop leaves them
        for (int i = 0; i < n; ++i) std::fill_n(f + i * ldf_, m, 0.0f);
        return;
    }

    const std::size_t ldx_ = static_cast<std::size_t>(ldx);
    const PackedA pa = pack_a(m, k, a, static_cast<std::size_t>(lda), all_finite(k, n, x, ldx_));
    const ChunkKernel kernel = has_avx2() ? &avx2::product_chunk : &generic::product_chunk;

    const int chunks = (n + kNc - 1) / kNc;
    const int threads = std::max(1, std::min(team_threads(), chunks));
    const std::size_t x_pack_floats = static_cast<std::size_t>(k) * kNc;
    const AlignedFloats x_packs = aligned_floats(x_pack_floats * threads);

    // Each chunk of columns is packed before any of its columns of F is written, so F may
    // replace X in place; chunks are disjoint, so threads never share an element of F.
#if defined(_OPENMP)
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
#endif
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const int i0 = chunk * kNc;
        const int width = std::min(kNc, n - i0);
        float* x_pack = x_packs.get() + x_pack_floats * team_member();
        pack_x_chunk(k, x, ldx_, i0, width, x_pack);
        kernel(pa, x_pack, width, f + static_cast<std::size_t>(i0) * ldf_, ldf_);
    }
}

}  // namespace torva
