// Two-dimensional B-spline filter: prolongation (2), least squares (3), product (4) and the
// filter file (see the header for the equations).
//
// Memory: the fit needs P (n x c, overwritten by its QR factors) and B (n x n, the identity
// on entry, X in its first c rows on return).  Instead of parking a copy of P while LAPACK
// destroys it, P is formed again from the masks afterwards: (2) is exact and cheap, so the
// values are the same bits.  F then replaces B column by column (the product packs the X
// columns of each block before writing them), and B's storage becomes the filter's f, so P,
// X and F never exist as three separate matrices.
#include "filter/bspline_filter.hpp"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstddef>
#include <new>
#include <string>
#include <utility>

#include "linalg/blocked_qr.hpp"
#include "filter/bspline_masks.hpp"
#include "linalg/ordered_product.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"

namespace torva {

namespace {

// One direction of (2): p1 (np x m, leading dimension np), p1(a, J) = c_h(a - (J - 3) h - 2)
// in 1-based indices.  With a0 = a - 1, j = J - 1 and the 0-based mask index
// k0 = a0 - (j - 2) h - 2, the mask covers a0 = (j - 2) h + 2 .. (j + 1) h - 1.
std::vector<float> prolongation_1d(int np, int h)
{
    const std::span<const float> mask = bspline_mask(h);
    const int m = coarse_count(np, h);
    std::vector<float> p1(static_cast<std::size_t>(np) * m, 0.0f);
    for (int j = 0; j < m; ++j) {
        const int a_first = std::max(0, (j - 2) * h + 2);
        const int a_last = std::min(np - 1, (j + 1) * h - 1);
        for (int a0 = a_first; a0 <= a_last; ++a0)
            p1[static_cast<std::size_t>(a0) + static_cast<std::size_t>(j) * np] = mask[a0 - (j - 2) * h - 2];
    }
    return p1;
}

[[noreturn]] void stop_create(int listing_unit, std::string line)
{
    stop_run_on(listing_unit, {"[create_bspline_filter_2D]", std::move(line)});
}

[[noreturn]] void stop_write(int listing_unit, std::string line)
{
    stop_run_on(listing_unit, {"[write_bspline_filter_2D]", std::move(line)});
}

}  // namespace

void build_prolongation(int np1, int np2, int h1, int h2, std::span<float> p)
{
    const int m1 = coarse_count(np1, h1);
    const int m2 = coarse_count(np2, h2);
    const std::size_t n = static_cast<std::size_t>(np1) * np2;
    const std::vector<float> p1 = prolongation_1d(np1, h1);
    const std::vector<float> p2 = prolongation_1d(np2, h2);
    std::fill(p.begin(), p.end(), 0.0f);
    // P = P2 (x) P1 (Kronecker product): row (b - 1) NP1' + a, column (J2 - 1) M1 + J1.  Only
    // the products of two non-zero mask values are written; the rest are the zeros of (2).
    for (int j2 = 0; j2 < m2; ++j2)
        for (int b0 = 0; b0 < np2; ++b0) {
            const float w2 = p2[static_cast<std::size_t>(b0) + static_cast<std::size_t>(j2) * np2];
            if (w2 == 0.0f) continue;
            for (int j1 = 0; j1 < m1; ++j1) {
                const std::size_t col = static_cast<std::size_t>(j2) * m1 + j1;
                for (int a0 = 0; a0 < np1; ++a0) {
                    const float w1 = p1[static_cast<std::size_t>(a0) + static_cast<std::size_t>(j1) * np1];
                    if (w1 == 0.0f) continue;
                    p[static_cast<std::size_t>(b0) * np1 + a0 + col * n] = w1 * w2;
                }
            }
        }
}

void create_bspline_filter_2D(int listing_unit, int H1, int H2, int np1, int np2, float threshold,
                              BsplineFilter& fmat)
{
    // The first direction's factor is tested first.
    for (const int hfac : {H1, H2})
        if (bspline_mask(hfac).empty())
            stop_create(listing_unit, "ERROR: The requested filter is not implemented, hfac=" + std::to_string(hfac));
    if (!(threshold < 0.0f))
        stop_create(listing_unit, "ERROR: Thinned filter storage (threshold >= 0) is not built; only the full "
                                  "matrix (negative threshold) is, threshold=" + format_item(threshold));
    if (np1 < 1 || np2 < 1)
        stop_create(listing_unit, "ERROR: A sheet without panels has no filter, NP1'=" + std::to_string(np1)
                                      + " NP2'=" + std::to_string(np2));

    const long long n_wide = static_cast<long long>(np1) * np2;
    const std::string no_space = "ERROR: Not able to allocate space for matrix, size = ";
    // The entry count n * n is a 32-bit integer of the filter file.
    if (n_wide > INT_MAX / n_wide) stop_create(listing_unit, no_space + std::to_string(n_wide));
    const int n = static_cast<int>(n_wide);
    const int c = coarse_count(np1, H1) * coarse_count(np2, H2);   // (1)

    std::vector<float> p;        // P, later its QR factors, then P again
    std::vector<float> b;        // I, then X in its first c rows, then F
    try {
        p.resize(static_cast<std::size_t>(n) * c);
        b.assign(static_cast<std::size_t>(n) * n, 0.0f);
    } catch (const std::bad_alloc&) {
        stop_create(listing_unit, no_space + std::to_string(n));
    }

    build_prolongation(np1, np2, H1, H2, p);                         // (2)
    for (int i = 0; i < n; ++i) b[static_cast<std::size_t>(i) * n + i] = 1.0f;

    // (3): min |P X - I| by the QR factorisation of P, blocked with fixed block sizes so that
    // the filter files do not change with the thread count.
    {
        int info = 0;
        try {
            info = blocked_sgels('n', n, c, n, p.data(), n, b.data(), n);
        } catch (const std::bad_alloc&) {
            stop_create(listing_unit, no_space + std::to_string(n));
        }
        if (info != 0)
            stop_create(listing_unit, "ERROR: Bad output from Lapack routine 'sgels', info=" + std::to_string(info));
    }

    build_prolongation(np1, np2, H1, H2, p);                         // (2) again: sgels destroyed it
    try {
        ordered_product(n, n, c, p.data(), n, b.data(), n, b.data(), n);   // (4), F over X in place
    } catch (const std::bad_alloc&) {
        stop_create(listing_unit, no_space + std::to_string(n));
    }
    std::vector<float>().swap(p);

    fmat.ityp = 1;
    fmat.order = n;
    fmat.entry_count = n * n;
    fmat.f = std::move(b);
}

void write_bspline_filter_2D(int listing_unit, int output_unit, std::string_view file_name,
                             const BsplineFilter& fmat)
{
    const std::string name = trimmed(file_name);
    OpenOptions options;
    options.status = "REPLACE";
    options.form = FileForm::unformatted;
    if (units().open_pending(output_unit, name, options) != kIostatOk)
        stop_write(listing_unit, "ERROR: Not able to open output file: " + name);

    const std::size_t n = fmat.order > 0 ? static_cast<std::size_t>(fmat.order) : 0;
    assert(fmat.f.size() >= n * n && "filter object with fewer entries than its order says");
    try {
        units().write_record(output_unit, bytes_of(fmat.ityp));
        units().write_record(output_unit, bytes_of(fmat.order));
        units().write_record(output_unit, bytes_of(fmat.entry_count));
        for (std::size_t i = 0; i < n; ++i)
            units().write_record(output_unit, bytes_of(std::span<const float>(fmat.f).subspan(i * n, n)));
        units().close(output_unit);
    } catch (const IoError&) {
        // What reached the file stays there; the unit is let go so that nothing else writes
        // into a half-written filter (close drops the unit even when its flush fails again).
        try {
            units().close(output_unit);
        } catch (const IoError&) {
        }
        stop_write(listing_unit, "ERROR: Not able to write data to unit: " + std::to_string(output_unit));
    }
}

}  // namespace torva
