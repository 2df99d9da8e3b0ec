// The ordered product must give, bit for bit, what the plain triple loop gives: every element
// summed in float with k ascending and each product rounded before it is added.  The plain
// loop here is the independent statement of that order; the blocked kernel shares nothing
// with it (packing, tiles, k blocks, zero-term skipping, threads).
#include "linalg/ordered_product.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/linalg_random.hpp"

namespace {

using torva::testing::random_matrix;

std::vector<float> plain_product(int m, int n, int k, const std::vector<float>& a, int lda,
                                 const std::vector<float>& x, int ldx)
{
    std::vector<float> f(static_cast<std::size_t>(m) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < m; ++j) {
            float s = 0.0f;
            for (int kk = 0; kk < k; ++kk) {
                const float term = a[j + static_cast<std::size_t>(kk) * lda] * x[kk + static_cast<std::size_t>(i) * ldx];
                s = s + term;
            }
            f[j + static_cast<std::size_t>(i) * m] = s;
        }
    return f;
}

// Counts the elements whose bits differ (two NaNs count as equal: the sign and payload of a
// NaN depend on operand order, which IEEE leaves to the machine).
int count_differences(const std::vector<float>& got, int ldg, const std::vector<float>& want,
                      int m, int n)
{
    int differ = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < m; ++j) {
            const float g = got[j + static_cast<std::size_t>(i) * ldg];
            const float w = want[j + static_cast<std::size_t>(i) * m];
            if (std::isnan(g) && std::isnan(w)) continue;
            if (std::bit_cast<std::uint32_t>(g) != std::bit_cast<std::uint32_t>(w)) ++differ;
        }
    return differ;
}

struct Shape {
    int m, n, k;
};

// Sizes on and off every blocking boundary: tiles of 16 x 6, k blocks of 256, row blocks of
// 256, chunks of 192 columns; 1 x 1 x 1 and single rows/columns; k one past a block.
const Shape kShapes[] = {{1, 1, 1},    {16, 6, 8},    {17, 7, 3},      {15, 5, 257},   {100, 37, 1},
                         {33, 193, 31}, {47, 13, 513}, {200, 401, 77}, {531, 29, 300}};

// Every shape twice: dense, with leading dimensions larger than the row counts (a stride
// mix-up) and padding rows of F that must stay untouched; then a mostly zero A with a whole
// zero row and a row of -0 entries, whose skipped terms must not change a single bit,
// including the sign of zero results.
void check_shapes()
{
    for (const Shape& s : kShapes)
        for (const bool sparse : {false, true}) {
            const int lda = sparse ? s.m : s.m + 3, ldx = sparse ? s.k : s.k + 2, ldf = sparse ? s.m : s.m + 5;
            auto a = random_matrix(static_cast<std::size_t>(lda) * s.k, sparse ? 5 + s.k : 11 + s.m, sparse ? 0.9 : 0.0);
            if (sparse)
                for (int kk = 0; kk < s.k; ++kk) {
                    a[0 + static_cast<std::size_t>(kk) * lda] = 0.0f;                    // zero row 0
                    if (s.m > 2) a[2 + static_cast<std::size_t>(kk) * lda] = -0.0f;     // -0 row 2
                }
            const auto x = random_matrix(static_cast<std::size_t>(ldx) * s.n, sparse ? 3 + s.m : 29 + s.n, sparse ? 0.2 : 0.0);
            std::vector<float> f(static_cast<std::size_t>(ldf) * s.n, 7.0f);
            torva::ordered_product(s.m, s.n, s.k, a.data(), lda, x.data(), ldx, f.data(), ldf);
            EXPECT_EQ(count_differences(f, ldf, plain_product(s.m, s.n, s.k, a, lda, x, ldx), s.m, s.n), 0)
                << s.m << " x " << s.n << " x " << s.k << (sparse ? " sparse" : "");
            for (int i = 0; i < s.n; ++i)
                for (int j = s.m; j < ldf; ++j) ASSERT_EQ(f[j + static_cast<std::size_t>(i) * ldf], 7.0f);
            if (sparse) {
                EXPECT_FALSE(std::signbit(f[0])) << "an all-zero row sums to +0";
            }
        }
}

// On the AVX2 code (where the machine has it) and on the generic code.
TEST(ordered_product, dense_and_sparse_factors_match_the_plain_loop_bit_for_bit)
{
    for (const bool generic : {false, true}) {
        torva::force_generic_ordered_product(generic);
        SCOPED_TRACE(torva::ordered_product_isa());
        check_shapes();
    }
    torva::force_generic_ordered_product(false);
}

TEST(ordered_product, non_finite_right_factor_keeps_the_zero_terms)
{
    // 0 * inf = NaN: with an infinity in X, a zero entry of A must still contribute its NaN.
    const int m = 20, n = 9, k = 40;
    auto a = random_matrix(static_cast<std::size_t>(m) * k, 1, 0.8);
    for (int j = 0; j < m; ++j) a[j + 5 * static_cast<std::size_t>(m)] = 0.0f;   // column 5 zero
    auto x = random_matrix(static_cast<std::size_t>(k) * n, 2);
    x[5 + 3 * static_cast<std::size_t>(k)] = std::numeric_limits<float>::infinity();
    std::vector<float> f(static_cast<std::size_t>(m) * n);
    torva::ordered_product(m, n, k, a.data(), m, x.data(), k, f.data(), m);
    const auto want = plain_product(m, n, k, a, m, x, k);
    EXPECT_EQ(count_differences(f, m, want, m, n), 0);
    for (int j = 0; j < m; ++j) EXPECT_TRUE(std::isnan(f[j + 3 * static_cast<std::size_t>(m)])) << j;
}

TEST(ordered_product, product_may_replace_the_right_factor_in_place)
{
    // F = A X written over X's own storage (m > k: F columns are longer than X columns).
    const int m = 70, n = 400, k = 45, ld = 70;
    const auto a = random_matrix(static_cast<std::size_t>(m) * k, 8, 0.5);
    auto storage = random_matrix(static_cast<std::size_t>(ld) * n, 9);
    const auto want = plain_product(m, n, k, a, m, storage, ld);
    torva::ordered_product(m, n, k, a.data(), m, storage.data(), ld, storage.data(), ld);
    EXPECT_EQ(count_differences(storage, ld, want, m, n), 0);
}

}  // namespace
