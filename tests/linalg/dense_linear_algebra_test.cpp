// Dense linear algebra: the LAPACK wrappers' zero-pivot report and gauss_jordan_solve's stop
// messages.  The wrappers' solves are exercised wherever a test plays the solver on the
// journal files (support/journal_solver.hpp): a wrong call pattern there misses every added
// mass; the least-squares path the program uses is the blocked QR (blocked_factor_test.cpp).
#include "linalg/dense_linear_algebra.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "frame/run_stop.hpp"

namespace torva {
namespace {

TEST(dense_lu, exactly_singular_matrix_reports_the_zero_pivot_column)
{
    // Column 3 is twice column 1: after two elimination steps the third pivot candidate
    // column is exactly zero in every remaining row (the arithmetic is exact in binary:
    // small integers), so sgetrf reports INFO = 3 and sgetri refuses to invert.
    const int n = 4;
    std::vector<float> a = {1, 2, 0, 1,    // column 1
                            0, 1, 3, 1,    // column 2
                            2, 4, 0, 2,    // column 3 = 2 * column 1
                            1, 0, 1, 5};   // column 4
    std::vector<int> ipiv(n);
    const int info = sgetrf(n, a, ipiv);
    EXPECT_EQ(info, 3);
    EXPECT_EQ(sgetri(n, a, ipiv), 3);
}

TEST(gauss_jordan_solve, zero_row_stops_with_zero_pivot_message)
{
    float a[9] = {1, 0, 4, 2, 0, 5, 3, 0, 6};   // rows (1 2 3), (0 0 0), (4 5 6)
    float b[1] = {0};
    try {
        gauss_jordan_solve(a, 3, 3, b, 0, 1);
        FAIL() << "a matrix with a zero row was inverted";
    } catch (const RunStopped& stop) {
        EXPECT_EQ(stop.status, 0);
        ASSERT_EQ(stop.lines.size(), 1u);
        EXPECT_EQ(stop.lines[0], "Singular matrix, A(I,I) = 0");
    }
}

}  // namespace
}  // namespace torva
