// The B-spline filter as the projection it must be, checked against truths that do not come
// from its own arithmetic: the projection P (P^T P)^-1 P^T formed in double precision through
// an eigen-decomposition of P^T P (a second method, no QR), its trace (the rank c, which
// counts the coarse nodes), symmetry, idempotence, coarse splines passing unchanged, and the
// filter file read back by a real gfortran program.
#include "filter/bspline_filter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "filter/bspline_masks.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "linalg/blocked_qr.hpp"
#include "support/fortran_runner.hpp"

extern "C" void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda,
                       double* w, double* work, const int* lwork, int* info, std::size_t jobz_len,
                       std::size_t uplo_len);

namespace {

constexpr double kEps = std::numeric_limits<float>::epsilon();

struct Sheet {
    int np1, np2, h1, h2;
};

// Sheets of the sizes a free surface has in small decks, every factor pair kind: equal,
// unequal, a factor larger than the sheet, the largest factor.
const Sheet kSheets[] = {{8, 7, 2, 2}, {12, 10, 3, 2}, {9, 11, 4, 5}, {6, 13, 10, 3}, {5, 5, 2, 10}};

std::string sheet_name(const Sheet& s)
{
    return std::to_string(s.np1) + "x" + std::to_string(s.np2) + " H=" + std::to_string(s.h1) + "," +
           std::to_string(s.h2);
}

torva::BsplineFilter make_filter(const Sheet& s)
{
    torva::BsplineFilter fmat;
    torva::create_bspline_filter_2D(torva::kListingUnit, s.h1, s.h2, s.np1, s.np2, -0.001f, fmat);
    return fmat;
}

std::vector<float> prolongation(const Sheet& s)
{
    const int n = s.np1 * s.np2;
    const int c = torva::coarse_count(s.np1, s.h1) * torva::coarse_count(s.np2, s.h2);
    std::vector<float> p(static_cast<std::size_t>(n) * c);
    torva::build_prolongation(s.np1, s.np2, s.h1, s.h2, p);
    return p;
}

// The exact projection onto the range of P, in double.  The columns of P are first scaled to
// unit length (Ps = P D; the range, and so the projection, is unchanged), then with
// Ps^T Ps = V diag(lambda) V^T,  F = (Ps V) diag(1/lambda) (Ps V)^T.  Also returns
// kappa = sqrt(lambda_max / lambda_min), the condition of the column-scaled P, which is the
// one that governs Householder QR: its backward error is small column by column.
struct Projection {
    std::vector<double> f;
    double kappa = 0.0;
};

Projection exact_projection(const std::vector<float>& p, int n, int c)
{
    std::vector<double> ps(p.begin(), p.end());
    for (int k = 0; k < c; ++k) {
        double norm = 0.0;
        for (int r = 0; r < n; ++r) norm += ps[r + std::size_t(k) * n] * ps[r + std::size_t(k) * n];
        for (int r = 0; r < n; ++r) ps[r + std::size_t(k) * n] /= std::sqrt(norm);
    }
    std::vector<double> gram(static_cast<std::size_t>(c) * c, 0.0);
    for (int i = 0; i < c; ++i)
        for (int j = 0; j < c; ++j) {
            double s = 0.0;
            for (int r = 0; r < n; ++r) s += ps[r + std::size_t(i) * n] * ps[r + std::size_t(j) * n];
            gram[i + std::size_t(j) * c] = s;
        }
    std::vector<double> lambda(c);
    int lwork = -1, info = 0;
    double query = 0.0;
    dsyev_("V", "U", &c, gram.data(), &c, lambda.data(), &query, &lwork, &info, 1, 1);
    lwork = static_cast<int>(query);
    std::vector<double> work(lwork);
    dsyev_("V", "U", &c, gram.data(), &c, lambda.data(), work.data(), &lwork, &info, 1, 1);
    EXPECT_EQ(info, 0);
    // W = Ps V diag(lambda^-1/2), F = W W^T.
    std::vector<double> w(static_cast<std::size_t>(n) * c, 0.0);
    for (int q = 0; q < c; ++q)
        for (int k = 0; k < c; ++k) {
            const double v = gram[k + std::size_t(q) * c] / std::sqrt(lambda[q]);
            for (int r = 0; r < n; ++r) w[r + std::size_t(q) * n] += ps[r + std::size_t(k) * n] * v;
        }
    Projection proj;
    proj.f.assign(static_cast<std::size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double s = 0.0;
            for (int q = 0; q < c; ++q) s += w[j + std::size_t(q) * n] * w[i + std::size_t(q) * n];
            proj.f[j + std::size_t(i) * n] = s;
        }
    proj.kappa = std::sqrt(lambda.back() / lambda.front());
    return proj;
}

// Error allowance for the float filter against the exact projection.  The filter solves the
// least-squares problem by Householder QR, which is backward stable column by column: the
// computed X belongs to P + dP with |dp_j| <= about sqrt(n) eps |p_j| for each column
// (random-walk growth over the n rows a reflector touches; Higham's worst case n eps is not
// approached in practice).  The projection onto range(P) moves by at most 2 kappa |dP| / |P|
// under such a perturbation (kappa of the column-scaled P), and the final product F = P X
// adds c float roundings of terms of size at most 1, a random walk of sqrt(c) eps.  The
// entries observed are a few eps, well inside this.
double projection_tolerance(int n, int c, double kappa)
{
    return (2.0 * kappa * std::sqrt(double(n)) + std::sqrt(double(c))) * kEps;
}

TEST(bspline_filter, matches_the_exact_projection_and_is_symmetric_and_idempotent)
{
    for (const Sheet& s : kSheets) {
        const int n = s.np1 * s.np2;
        const int c = torva::coarse_count(s.np1, s.h1) * torva::coarse_count(s.np2, s.h2);
        const torva::BsplineFilter fmat = make_filter(s);
        ASSERT_EQ(fmat.ityp, 1);
        ASSERT_EQ(fmat.order, n);
        ASSERT_EQ(fmat.entry_count, n * n);
        ASSERT_EQ(fmat.f.size(), static_cast<std::size_t>(n) * n);

        const Projection exact = exact_projection(prolongation(s), n, c);
        const double tol = projection_tolerance(n, c, exact.kappa);
        const auto F = [&](int j, int i) { return double(fmat.f[j + std::size_t(i) * n]); };

        double err = 0.0, asym = 0.0, idem = 0.0, trace = 0.0;
        for (int i = 0; i < n; ++i) {
            trace += F(i, i);
            for (int j = 0; j < n; ++j) {
                err = std::max(err, std::abs(F(j, i) - exact.f[j + std::size_t(i) * n]));
                asym = std::max(asym, std::abs(F(j, i) - F(i, j)));
                double ff = 0.0;   // (F F)(j, i) in double: only F's own error shows
                for (int k = 0; k < n; ++k) ff += F(j, k) * F(k, i);
                idem = std::max(idem, std::abs(ff - F(j, i)));
            }
        }
        SCOPED_TRACE(sheet_name(s) + ", kappa(P) = " + std::to_string(exact.kappa));
        EXPECT_LE(err, tol);
        // F = F* + E with |E| <= tol entrywise: F - F^T = E - E^T, and F F - F = F* E + E F* +
        // E E - E, whose entries are at most (|F*|_1 + 1 + n tol) tol; |F*|_1 (the largest
        // column sum of |F*|) stays below 2 for these local projections, so 4 tol.
        EXPECT_LE(asym, 2 * tol);
        EXPECT_LE(idem, 4 * tol);
        // The trace of a projection is its rank, the number c of coarse nodes.
        EXPECT_NEAR(trace, c, n * tol);
    }
}

TEST(bspline_filter, coarse_splines_pass_unchanged)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    for (const Sheet& s : kSheets) {
        const int n = s.np1 * s.np2;
        const int c = torva::coarse_count(s.np1, s.h1) * torva::coarse_count(s.np2, s.h2);
        const torva::BsplineFilter fmat = make_filter(s);
        const std::vector<float> p = prolongation(s);
        const double tol = projection_tolerance(n, c, exact_projection(p, n, c).kappa);

        // v = P y for random coarse coefficients y, and the constant field (y = 1: the rows of
        // P sum to one by the partition of unity of the masks).
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<double> v(n, 0.0);
            for (int k = 0; k < c; ++k) {
                const double y = trial == 0 ? 1.0 : coefficient(rng);
                for (int r = 0; r < n; ++r) v[r] += double(p[r + std::size_t(k) * n]) * y;
            }
            if (trial == 0) {
                for (int r = 0; r < n; ++r) ASSERT_NEAR(v[r], 1.0, 8 * kEps) << "row sum of P, row " << r;
            }
            // |F v - v| = |E v| <= n tol |v|_max entrywise.
            double vmax = 0.0, worst = 0.0;
            for (double e : v) vmax = std::max(vmax, std::abs(e));
            for (int j = 0; j < n; ++j) {
                double fv = 0.0;
                for (int i = 0; i < n; ++i) fv += double(fmat.f[j + std::size_t(i) * n]) * v[i];
                worst = std::max(worst, std::abs(fv - v[j]));
            }
            EXPECT_LE(worst, n * tol * vmax) << sheet_name(s) << ", trial " << trial;
        }
    }
}

TEST(bspline_filter, rough_field_is_smoothed_away)
{
    // The checkerboard (-1)^(a+b) = (-1)^a (-1)^b is a tensor product, and so is P, so P^T of
    // it is the tensor product of the two one-direction sums.  In the second direction (H2 = 2)
    // the alternating sum of the mask, (1 - 3 + 3 - 1)/4, is zero: only coarse nodes whose mask
    // the sheet edge cuts see the checkerboard at all.  So the filter removes almost all of it;
    // we ask that its energy drop below a tenth (about 2% remains, at the edges).
    const Sheet s{12, 10, 3, 2};
    const int n = s.np1 * s.np2;
    const torva::BsplineFilter fmat = make_filter(s);
    double before = 0.0, after = 0.0;
    for (int j = 0; j < n; ++j) {
        double fv = 0.0;
        for (int i = 0; i < n; ++i) fv += double(fmat.f[j + std::size_t(i) * n]) * (((i % s.np1) + (i / s.np1)) % 2 ? -1.0 : 1.0);
        after += fv * fv;
        before += 1.0;
    }
    EXPECT_LT(after, 0.1 * before);
}

TEST(bspline_filter, prolongation_entries_follow_the_one_based_index_formula)
{
    // P(row(a, b), col(J1, J2)) = c_H1(a - (J1 - 3) H1 - 2) c_H2(b - (J2 - 3) H2 - 2), written
    // out literally in 1-based indices (a mask index outside 1..3h-2 gives 0).
    for (const Sheet& s : kSheets) {
        const int m1 = torva::coarse_count(s.np1, s.h1), m2 = torva::coarse_count(s.np2, s.h2);
        const int n = s.np1 * s.np2;
        const std::vector<float> p = prolongation(s);
        const auto mask = [](int h, int k) {
            const auto m = torva::bspline_mask(h);
            return k >= 1 && k <= 3 * h - 2 ? m[k - 1] : 0.0f;
        };
        int mismatches = 0;
        for (int b = 1; b <= s.np2; ++b)
            for (int a = 1; a <= s.np1; ++a)
                for (int J2 = 1; J2 <= m2; ++J2)
                    for (int J1 = 1; J1 <= m1; ++J1) {
                        const int row = (b - 1) * s.np1 + a, col = (J2 - 1) * m1 + J1;
                        const float want = mask(s.h1, a - (J1 - 3) * s.h1 - 2) * mask(s.h2, b - (J2 - 3) * s.h2 - 2);
                        if (p[(row - 1) + std::size_t(col - 1) * n] != want) ++mismatches;
                    }
        EXPECT_EQ(mismatches, 0) << sheet_name(s);
    }
}

TEST(bspline_filter, coarse_count_of_six_panels_with_factor_two_is_four)
{
    EXPECT_EQ(torva::coarse_count(6, 2), 4);   // (6 - 3 + 2) div 2 + 2
    // Seen through the filter: a 6 x 5 sheet with H = 2, 2 projects onto 4 x 4 coarse nodes
    // (M2 = (5 - 3 + 2) div 2 + 2 = 4), so its trace, the rank, is 16.
    const Sheet s{6, 5, 2, 2};
    const torva::BsplineFilter fmat = make_filter(s);
    ASSERT_EQ(fmat.order, 30);
    double trace = 0.0;
    for (int i = 0; i < 30; ++i) trace += fmat.f[i + std::size_t(i) * 30];
    // Each diagonal entry is within the projection tolerance of the exact one.
    EXPECT_NEAR(trace, 16.0, 30 * projection_tolerance(30, 16, exact_projection(prolongation(s), 30, 16).kappa));
}

TEST(bspline_filter, elements_are_summed_in_float_with_k_ascending)
{
    // The stored F(j, i) is sum_k P(j, k) X(k, i) in float, k ascending, with X the least-
    // squares solution for the identity right-hand side: form it here with the plain loop.
    const Sheet s{12, 10, 3, 2};
    const int n = s.np1 * s.np2;
    const int c = torva::coarse_count(s.np1, s.h1) * torva::coarse_count(s.np2, s.h2);
    std::vector<float> qr = prolongation(s);
    std::vector<float> x(static_cast<std::size_t>(n) * n, 0.0f);
    for (int i = 0; i < n; ++i) x[i + std::size_t(i) * n] = 1.0f;
    ASSERT_EQ(torva::blocked_sgels('n', n, c, n, qr.data(), n, x.data(), n), 0);
    const std::vector<float> p = prolongation(s);
    const torva::BsplineFilter fmat = make_filter(s);
    int differ = 0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < c; ++k) sum = sum + p[j + std::size_t(k) * n] * x[k + std::size_t(i) * n];
            if (std::bit_cast<std::uint32_t>(sum) != std::bit_cast<std::uint32_t>(fmat.f[j + std::size_t(i) * n])) ++differ;
        }
    EXPECT_EQ(differ, 0);
}

// Stops are checked on the listing as well as on RunStopped.
class FilterStops : public ::testing::Test {
protected:
    void SetUp() override
    {
        torva::OpenOptions options;
        options.status = "REPLACE";
        ASSERT_EQ(torva::units().open(kListing, listing_name_, options), torva::kIostatOk);
    }
    void TearDown() override { torva::units().close(kListing); }

    std::vector<std::string> listing_lines()
    {
        torva::units().flush(kListing);
        std::ifstream in(listing_name_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Runs `body`, which must stop the run, and returns the message lines.
    template <class Body>
    std::vector<std::string> stop_lines(Body body)
    {
        try {
            body();
        } catch (const torva::RunStopped& stopped) {
            EXPECT_EQ(stopped.status, 0);
            return stopped.lines;
        }
        ADD_FAILURE() << "the run did not stop";
        return {};
    }

    static constexpr int kListing = 61;
    torva::testing::TempDir dir_{"filter"};
    std::string listing_name_ = dir_.file("filter.LIS");
};

TEST_F(FilterStops, factor_outside_two_to_ten_is_not_implemented_first_direction_first)
{
    torva::BsplineFilter fmat;
    const auto create = [&](int h1, int h2) {
        return stop_lines([&] { torva::create_bspline_filter_2D(kListing, h1, h2, 8, 7, -0.001f, fmat); });
    };
    const std::string first = "[create_bspline_filter_2D]";
    const std::string text = "ERROR: The requested filter is not implemented, hfac=";
    EXPECT_EQ(create(1, 2), (std::vector<std::string>{first, text + "1"}));
    EXPECT_EQ(create(11, 2), (std::vector<std::string>{first, text + "11"}));
    EXPECT_EQ(create(2, 11), (std::vector<std::string>{first, text + "11"}));
    EXPECT_EQ(create(1, 11), (std::vector<std::string>{first, text + "1"}));
    EXPECT_EQ(fmat.ityp, 0) << "a stopped create leaves the object empty";
    const auto listing = listing_lines();
    ASSERT_EQ(listing.size(), 8u);
    EXPECT_EQ(listing[0], " " + first);
    EXPECT_EQ(listing[1], " " + text + "1");
}

TEST_F(FilterStops, thinned_storage_is_refused_as_not_built)
{
    torva::BsplineFilter fmat;
    const auto lines = stop_lines([&] { torva::create_bspline_filter_2D(kListing, 2, 2, 8, 7, 0.001f, fmat); });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[create_bspline_filter_2D]");
    EXPECT_NE(lines[1].find("is not built"), std::string::npos) << lines[1];
}

TEST_F(FilterStops, unopenable_output_file_and_failed_write_are_reported)
{
    const torva::BsplineFilter fmat = make_filter({8, 7, 2, 2});
    const std::string missing_dir = dir_.file("no_such_dir/ship.jou05");
    EXPECT_EQ(stop_lines([&] { torva::write_bspline_filter_2D(kListing, 131, missing_dir + "   ", fmat); }),
              (std::vector<std::string>{"[write_bspline_filter_2D]", "ERROR: Not able to open output file: " + missing_dir}));
    EXPECT_FALSE(torva::units().is_open(131));
    // /dev/full accepts the open and refuses the data.
    EXPECT_EQ(stop_lines([&] { torva::write_bspline_filter_2D(kListing, 132, "/dev/full", fmat); }),
              (std::vector<std::string>{"[write_bspline_filter_2D]", "ERROR: Not able to write data to unit: 132"}));
    EXPECT_FALSE(torva::units().is_open(132));
}

TEST(bspline_filter, gfortran_reads_the_filter_file)
{
    torva::testing::TempDir dir("filter_file");
    const Sheet s{12, 10, 3, 2};
    const int n = s.np1 * s.np2;
    const torva::BsplineFilter fmat = make_filter(s);
    // The name arrives as a 200-character blank-padded text.
    torva::write_bspline_filter_2D(torva::kListingUnit, 140, torva::fixed_text(dir.file("ship.jou05"), 200), fmat);
    EXPECT_FALSE(torva::units().is_open(140));

    // The Fortran program reads the records as the solver does and prints every value's bits
    // in hexadecimal, then checks that nothing follows the last column.
    const std::string source = R"(program read_filter
  implicit none
  integer :: ityp, n, nn, i, ios
  real, allocatable :: col(:)
  open(20, file='ship.jou05', form='unformatted', status='old', action='read')
  read(20) ityp
  read(20) n
  read(20) nn
  print '(3i12)', ityp, n, nn
  allocate(col(n))
  do i = 1, n
    read(20) col
    print '(*(z8.8,:,1x))', transfer(col, 1, n)
  end do
  read(20, iostat=ios) ityp
  if (ios >= 0) then
    print '(a)', 'EXTRA RECORD'
  else
    print '(a)', 'END'
  end if
end program
)";
    const auto run = torva::testing::compile_and_run_fortran(dir, source);
    ASSERT_EQ(run.exit_code, 0) << run.output;
    std::istringstream out(run.output);
    int ityp = 0, order = 0, count = 0;
    out >> ityp >> order >> count;
    EXPECT_EQ(ityp, 1);
    EXPECT_EQ(order, n);
    EXPECT_EQ(count, n * n);
    int differ = 0;
    for (int i = 0; i < n * n; ++i) {
        std::string hex;
        out >> hex;
        if (static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16)) != std::bit_cast<std::uint32_t>(fmat.f[i])) ++differ;
    }
    EXPECT_EQ(differ, 0);
    std::string tail;
    out >> tail;
    EXPECT_EQ(tail, "END");
}

}  // namespace
