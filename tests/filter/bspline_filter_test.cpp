// The B-spline filter as the projection it must be, checked against truths that do not come
// from its own arithmetic: the projection P (P^T P)^-1 P^T formed in double precision through
// an eigen-decomposition of P^T P (a second method, no QR), its trace (the rank c, which
// counts the coarse nodes), symmetry, idempotence, coarse splines passing unchanged, the
// prolongation against its index formula written out literally, and the filter file read
// back by a real gfortran program.
#include "filter/bspline_filter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <filesystem>
#include <string>
#include <vector>

#include "filter/bspline_masks.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "support/run_program.hpp"

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

TEST(bspline_filter, is_the_exact_projection_and_passes_coarse_splines_unchanged)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    for (const Sheet& s : kSheets) {
        SCOPED_TRACE(sheet_name(s));
        const int n = s.np1 * s.np2;
        const int c = torva::coarse_count(s.np1, s.h1) * torva::coarse_count(s.np2, s.h2);
        const torva::BsplineFilter fmat = make_filter(s);
        ASSERT_EQ(fmat.f.size(), static_cast<std::size_t>(n) * n);   // the header: in the gfortran test

        const std::vector<float> p = prolongation(s);
        const Projection exact = exact_projection(p, n, c);
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
        EXPECT_LE(err, tol);
        // F = F* + E with |E| <= tol entrywise: F - F^T = E - E^T, and F F - F = F* E + E F* +
        // E E - E, whose entries are at most (|F*|_1 + 1 + n tol) tol; |F*|_1 (the largest
        // column sum of |F*|) stays below 2 for these local projections, so 4 tol.
        EXPECT_LE(asym, 2 * tol);
        EXPECT_LE(idem, 4 * tol);
        // The trace of a projection is its rank, the number c of coarse nodes.
        EXPECT_NEAR(trace, c, n * tol);

        // v = P y for the constant field (y = 1: the rows of P sum to one by the partition of
        // unity of the masks) and random coarse coefficients y; |F v - v| = |E v| <= n tol |v|.
        for (int trial = 0; trial < 2; ++trial) {
            std::vector<double> v(n, 0.0);
            for (int k = 0; k < c; ++k) {
                const double y = trial == 0 ? 1.0 : coefficient(rng);
                for (int r = 0; r < n; ++r) v[r] += double(p[r + std::size_t(k) * n]) * y;
            }
            double vmax = 0.0, worst = 0.0;
            for (double e : v) vmax = std::max(vmax, std::abs(e));
            for (int j = 0; j < n; ++j) {
                double fv = 0.0;
                for (int i = 0; i < n; ++i) fv += F(j, i) * v[i];
                worst = std::max(worst, std::abs(fv - v[j]));
                if (trial == 0) {
                    ASSERT_NEAR(v[j], 1.0, 8 * kEps) << "row sum of P, row " << j;
                }
            }
            EXPECT_LE(worst, n * tol * vmax) << "trial " << trial;
        }
    }
}

TEST(bspline_filter, prolongation_entries_follow_the_one_based_index_formula)
{
    EXPECT_EQ(torva::coarse_count(6, 2), 4);   // (6 - 3 + 2) div 2 + 2, worked by hand
    EXPECT_EQ(torva::coarse_count(13, 3), 6);  // (13 - 3 + 3) div 3 + 2
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

// Every stop, as RunStopped with status 0 carries it and as the listing shows it.
TEST(bspline_filter, stops_name_what_failed)
{
    torva::testing::TempDir dir("filter");
    constexpr int kListing = 61;
    torva::OpenOptions replace;
    replace.status = "REPLACE";
    ASSERT_EQ(torva::units().open(kListing, dir.file("filter.LIS"), replace), torva::kIostatOk);
    const torva::BsplineFilter good = make_filter({8, 7, 2, 2});
    std::filesystem::create_symlink("/dev/full", dir.file("full.jou06.part"));
    const std::string create = "[create_bspline_filter_2D]", write = "[write_bspline_filter_2D]";
    const std::string factor = "ERROR: The requested filter is not implemented, hfac=";
    const std::string missing = dir.file("no_such_dir/ship.jou05");
    const auto make = [](int h1, int h2, float threshold) {
        return [=](torva::BsplineFilter& f) { torva::create_bspline_filter_2D(kListing, h1, h2, 8, 7, threshold, f); };
    };
    const struct {
        std::function<void(torva::BsplineFilter&)> body;
        std::string routine, message;   // a message ending in '*' need only start so
    } cases[] = {
        // the first direction's factor is judged first
        {make(1, 2, -0.001f), create, factor + "1"},
        {make(11, 2, -0.001f), create, factor + "11"},
        {make(2, 11, -0.001f), create, factor + "11"},
        {make(1, 11, -0.001f), create, factor + "1"},
        {make(2, 2, 0.001f), create, "ERROR: Thinned filter storage (threshold >= 0) is not built*"},
        {[&](auto&) { torva::write_bspline_filter_2D(kListing, 131, missing + "   ", good); }, write,
         "ERROR: Not able to open output file: " + missing},
        // /dev/full accepts the open and refuses the data (the file is written under its name
        // + ".part" until the run's success renames it)
        {[&](auto&) { torva::write_bspline_filter_2D(kListing, 132, dir.file("full.jou06"), good); }, write,
         "ERROR: Not able to write data to unit: 132"},
    };
    std::vector<std::string> expected_listing;
    for (const auto& c : cases) {
        torva::BsplineFilter fmat;
        std::vector<std::string> lines{"", ""};
        try {
            c.body(fmat);
            ADD_FAILURE() << "the run did not stop: " << c.message;
        } catch (const torva::RunStopped& stopped) {
            EXPECT_EQ(stopped.status, 0);
            lines = stopped.lines;
        }
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], c.routine);
        const bool prefix = c.message.back() == '*';
        EXPECT_EQ(prefix ? lines[1].substr(0, c.message.size() - 1) + "*" : lines[1], c.message);
        EXPECT_EQ(fmat.ityp, 0) << "a stopped create leaves the object empty";
        expected_listing.insert(expected_listing.end(), {" " + lines[0], " " + lines[1]});
    }
    EXPECT_FALSE(torva::units().is_open(131));
    EXPECT_FALSE(torva::units().is_open(132));
    torva::units().close(kListing);
    EXPECT_EQ(torva::testing::read_lines(dir.file("filter.LIS")), expected_listing);
    // The failed write leaves its file pending, as a stopped run leaves it; the unit table is
    // the process's, so the pending name is settled here while its directory still exists
    // rather than by whichever test commits next.
    torva::units().commit_pending();
}

// The solver reads the filter file as ITYP, the order n, the entry count n^2 and n columns of
// n reals, one record each, and nothing after them.
TEST(bspline_filter, gfortran_reads_the_filter_file)
{
    torva::testing::TempDir dir("filter_file");
    const Sheet s{12, 10, 3, 2};
    const int n = s.np1 * s.np2;
    const torva::BsplineFilter fmat = make_filter(s);
    // The name arrives as a 200-character blank-padded text.
    torva::write_bspline_filter_2D(torva::kListingUnit, 140, torva::fixed_text(dir.file("ship.jou05"), 200), fmat);
    torva::units().commit_pending();   // as the run does once it has succeeded
    EXPECT_FALSE(torva::units().is_open(140));
    const auto read = torva::testing::gfortran_read_records(dir, "ship.jou05", {{3, 1}, {n, n}});
    ASSERT_TRUE(read.ran) << read.output;
    EXPECT_TRUE(read.ends_there) << read.output;
    ASSERT_EQ(read.records.size(), std::size_t(3 + n));
    EXPECT_EQ(read.records[0][0], 1u);
    EXPECT_EQ(read.records[1][0], std::uint32_t(n));
    EXPECT_EQ(read.records[2][0], std::uint32_t(n * n));
    int differ = 0;
    for (int i = 0; i < n * n; ++i)
        if (read.records[3 + i / n][i % n] != std::bit_cast<std::uint32_t>(fmat.f[i])) ++differ;
    EXPECT_EQ(differ, 0);
}

}  // namespace
