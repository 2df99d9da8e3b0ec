// The thread-invariant factorisations beside LAPACK's, alternating runs on the same matrix:
//   lu   N       blocked_sgetrf against sgetrf           (GFLOP/s = 2/3 N^3 / time)
//   inv  N       blocked_sgetri against sgetri (optimal workspace), from the same factors
//                (GFLOP/s = 4/3 N^3 / time)
//   ls   M N     blocked_sgels against sgels (workspace query) with B = the M x M identity,
//                the filter's least-squares shape (GFLOP/s = (2 M N^2 - 2/3 N^3 + 4 M N M) / time)
// Usage: factor_bench lu|inv|ls SIZE... [threads=2] [reps=5].  Each rep runs LAPACK first on
// odd reps and ours first on even ones, so a load that changes during the run falls on both.
// Beside the wall seconds, the processor seconds of all threads (spinning included).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "linalg/blocked_lu.hpp"
#include "linalg/blocked_qr.hpp"
#include "linalg/dense_linear_algebra.hpp"
#include "../tests/support/linalg_random.hpp"

namespace {

using torva::testing::random_matrix;

double cpu_seconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Wall seconds of f; cpu receives the processor seconds of all threads.
template <class F>
double seconds(F&& f, double& cpu)
{
    const double c0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = cpu_seconds() - c0;
    return wall;
}

void report(const char* what, double flops, double lapack, double ours, double cpu_lapack, double cpu_ours)
{
    std::printf("%-4s lapack %8.3f s %7.1f GFLOP/s (cpu %7.3f s)   ours %8.3f s %7.1f GFLOP/s (cpu %7.3f s)   "
                "ours/lapack rate %.3f\n",
                what, lapack, flops / lapack * 1e-9, cpu_lapack, ours, flops / ours * 1e-9, cpu_ours, lapack / ours);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: factor_bench lu|inv N [threads] [reps] | ls M N [threads] [reps]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const bool ls = mode == "ls";
    const int m = std::atoi(argv[2]);
    const int n = ls ? std::atoi(argv[3]) : m;
    const int rest = ls ? 4 : 3;
    const int threads = argc > rest ? std::atoi(argv[rest]) : 2;
    const int reps = argc > rest + 1 ? std::atoi(argv[rest + 1]) : 5;
    openblas_set_num_threads(threads);
    std::printf("%s M=%d N=%d threads=%d\n", mode.c_str(), m, n, threads);

    const std::vector<float> a0 = random_matrix(static_cast<std::size_t>(m) * n, 1);
    std::vector<float> a(a0.size());
    std::vector<int> ipiv(static_cast<std::size_t>(n));
    int info = 0;
    for (int rep = 0; rep < reps; ++rep) {
        double t_lapack = 0.0, t_ours = 0.0, flops = 0.0, cpu = 0.0, cpu_lapack = 0.0, cpu_ours = 0.0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool lapack = (turn == 0) == (rep % 2 == 0);
            double t = 0.0;
            if (mode == "lu") {
                a = a0;
                flops = 2.0 / 3.0 * n * double(n) * n;
                t = seconds([&] {
                    if (lapack) sgetrf_(&n, &n, a.data(), &n, ipiv.data(), &info);
                    else info = torva::blocked_sgetrf(n, n, a.data(), n, ipiv.data());
                }, cpu);
            } else if (mode == "inv") {
                a = a0;
                flops = 4.0 / 3.0 * n * double(n) * n;
                info = torva::blocked_sgetrf(n, n, a.data(), n, ipiv.data());
                t = seconds([&] {
                    if (lapack) {
                        float query = 0.0f;
                        int lwork = -1;
                        sgetri_(&n, a.data(), &n, ipiv.data(), &query, &lwork, &info);
                        lwork = static_cast<int>(query);
                        std::vector<float> work(static_cast<std::size_t>(lwork));
                        sgetri_(&n, a.data(), &n, ipiv.data(), work.data(), &lwork, &info);
                    } else {
                        info = torva::blocked_sgetri(n, a.data(), n, ipiv.data());
                    }
                }, cpu);
            } else {
                a = a0;
                std::vector<float> b(static_cast<std::size_t>(m) * m, 0.0f);
                for (int i = 0; i < m; ++i) b[i + static_cast<std::size_t>(i) * m] = 1.0f;
                flops = 2.0 * m * double(n) * n - 2.0 / 3.0 * n * double(n) * n + 4.0 * m * double(n) * m;
                t = seconds([&] {
                    if (lapack) {
                        float query = 0.0f;
                        int lwork = -1;
                        sgels_("N", &m, &n, &m, a.data(), &m, b.data(), &m, &query, &lwork, &info, 1);
                        lwork = static_cast<int>(query);
                        std::vector<float> work(static_cast<std::size_t>(lwork));
                        sgels_("N", &m, &n, &m, a.data(), &m, b.data(), &m, work.data(), &lwork, &info, 1);
                    } else {
                        info = torva::blocked_sgels('N', m, n, m, a.data(), m, b.data(), m);
                    }
                }, cpu);
            }
            if (info != 0) std::fprintf(stderr, "factor_bench: info %d\n", info);
            (lapack ? t_lapack : t_ours) = t;
            (lapack ? cpu_lapack : cpu_ours) = cpu;
        }
        report(mode.c_str(), flops, t_lapack, t_ours, cpu_lapack, cpu_ours);
    }
    return 0;
}
