// Two-dimensional B-spline filter of a free-surface sheet.
//
// A field on one sheet is given by its n = NP1' * NP2' spline coefficients v, one per padded
// panel, numbered row = (b - 1) NP1' + a for panel (a, b), a the first and b the second
// direction.  The filter replaces v by its least-squares best approximation from the coarse
// quadratic spline space whose knots are H1 panels apart in the first direction and H2 in the
// second:
//
//     M1 = (NP1' - 3 + H1) div H1 + 2,   M2 = (NP2' - 3 + H2) div H2 + 2,   c = M1 M2     (1)
//
//     P(row(a, b), col(J1, J2)) = c_H1(a - (J1 - 3) H1 - 2) * c_H2(b - (J2 - 3) H2 - 2),   (2)
//         col(J1, J2) = (J2 - 1) M1 + J1,  c_h the masks of bspline_masks.hpp (0 outside
//         1..3h - 2): P (n x c) prolongs coarse coefficients y to fine ones, v = P y;
//
//     X = argmin |P X - I|  = (P^T P)^-1 P^T      (c x n, by blocked_sgels, QR of P)      (3)
//
//     F = P X                                     (n x n, the filter)                     (4)
//
// F is the orthogonal projection onto the range of P: symmetric, F F = F, and F v = v for
// every coarse spline v = P y.  Each element of (4) is summed in float with k = 1..c
// ascending and no fused multiply-add (ordered_product.hpp), so the stored matrix does not
// depend on how the product is blocked or threaded.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace torva {

// The filter object `fmat`.
struct BsplineFilter {
    std::int32_t ityp = 0;          // storage type: 1 full matrix (the only one built), 0 empty
    std::int32_t order = 0;         // n, the number of spline coefficients it acts on
    std::int32_t entry_count = 0;   // n * n
    std::vector<float> f;           // F, n x n, column-major: f[j + i * n] = F(j+1, i+1)
};

// (1): coarse node count of one direction with `np` padded fine panels and factor h >= 1.
// Integer division truncates toward zero, as the Fortran `div` of the formula does.
[[nodiscard]] constexpr int coarse_count(int np, int h) noexcept { return (np - 3 + h) / h + 2; }

// (2): fills p (n x c, column-major, leading dimension n = np1 * np2, c = M1 * M2 by (1)) with
// the prolongation.  Factors must lie in 2..10 and p must hold n * c floats; every entry is
// written (zeros included).
void build_prolongation(int np1, int np2, int h1, int h2, std::span<float> p);

// Builds the filter of a sheet of np1 x np2 padded panels with knot factors H1, H2 into fmat
// (replacing its contents).  threshold: a negative value selects the full matrix (the setup
// passes -0.001); a threshold >= 0 would select a thinned storage that this program does not
// build, and stops the run.  Failures write "[create_bspline_filter_2D]" and an "ERROR:" line
// to listing_unit and stop the run (RunStopped).
void create_bspline_filter_2D(int listing_unit, int H1, int H2, int np1, int np2, float threshold,
                              BsplineFilter& fmat);

// Writes fmat to file_name (trailing blanks removed) on output_unit, status replace,
// unformatted sequential: records ityp, n, n * n (32-bit integers), then the n columns of f
// (n 32-bit reals each); closes the unit.  Failures write "[write_bspline_filter_2D]" and an
// "ERROR:" line to listing_unit and stop the run.
void write_bspline_filter_2D(int listing_unit, int output_unit, std::string_view file_name,
                             const BsplineFilter& fmat);

}  // namespace torva
