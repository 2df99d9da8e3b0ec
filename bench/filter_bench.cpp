// Timing of the B-spline filter of a free-surface sheet of 50 x 50 padded panels
// (n = 2500 coefficients; with H1 = H2 = 2 the coarse space has c = 26 x 26 = 676 nodes):
//   - the product F = P X by the ordered kernel, with the real (sparse) prolongation P and
//     with a dense random A of the same shape (no zero terms to skip, the fair comparison
//     of arithmetic rates), on the AVX2 and generic code paths;
//   - sgemm of the same sizes (it gives no summation-order guarantee; the reference rate);
//   - the least-squares fit by sgels with the filter's workspace of 2n reals;
//   - the whole create_bspline_filter_2D.
// The argument of each case is the thread count (OpenMP for the kernel, OpenBLAS's own
// threads for sgemm and sgels).  Rates are reported as 2 n n c / time, the dense flop count,
// also for the sparse product, so every line is comparable with sgemm's.
#include <benchmark/benchmark.h>

#include <vector>

#include "linalg/dense_linear_algebra.hpp"
#include "filter/bspline_filter.hpp"
#include "linalg/ordered_product.hpp"
#include "../tests/support/linalg_random.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

extern "C" {
void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const float* alpha, const float* a, const int* lda, const float* b, const int* ldb,
            const float* beta, float* c, const int* ldc, std::size_t transa_len, std::size_t transb_len);
void openblas_set_num_threads(int threads);
}

namespace {

using torva::testing::random_matrix;

constexpr int kNp1 = 50, kNp2 = 50, kH1 = 2, kH2 = 2;
const int kN = kNp1 * kNp2;
const int kC = torva::coarse_count(kNp1, kH1) * torva::coarse_count(kNp2, kH2);

void set_threads(int threads)
{
#if defined(_OPENMP)
    omp_set_num_threads(threads);
#endif
    openblas_set_num_threads(threads);
}

std::vector<float> prolongation()
{
    std::vector<float> p(static_cast<std::size_t>(kN) * kC);
    torva::build_prolongation(kNp1, kNp2, kH1, kH2, p);
    return p;
}

void report_rate(benchmark::State& state)
{
    state.counters["GFLOP/s"] = benchmark::Counter(2.0 * kN * kN * kC * 1e-9 * static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

void product(benchmark::State& state, const std::vector<float>& a, bool generic)
{
    set_threads(static_cast<int>(state.range(0)));
    torva::force_generic_ordered_product(generic);
    const std::vector<float> x = random_matrix(static_cast<std::size_t>(kC) * kN, 2);
    std::vector<float> f(static_cast<std::size_t>(kN) * kN);
    for (auto _ : state) {
        torva::ordered_product(kN, kN, kC, a.data(), kN, x.data(), kC, f.data(), kN);
        benchmark::DoNotOptimize(f.data());
    }
    torva::force_generic_ordered_product(false);
    state.SetLabel(generic ? "generic" : torva::ordered_product_isa());
    report_rate(state);
}

void BM_filter_product_prolongation(benchmark::State& state) { product(state, prolongation(), false); }
void BM_dense_ordered_product(benchmark::State& state) { product(state, random_matrix(std::size_t(kN) * kC, 1), false); }
void BM_dense_ordered_product_generic(benchmark::State& state) { product(state, random_matrix(std::size_t(kN) * kC, 1), true); }

void BM_sgemm_same_sizes(benchmark::State& state)
{
    set_threads(static_cast<int>(state.range(0)));
    const std::vector<float> a = random_matrix(static_cast<std::size_t>(kN) * kC, 1);
    const std::vector<float> x = random_matrix(static_cast<std::size_t>(kC) * kN, 2);
    std::vector<float> f(static_cast<std::size_t>(kN) * kN);
    const float one = 1.0f, zero = 0.0f;
    for (auto _ : state) {
        sgemm_("N", "N", &kN, &kN, &kC, &one, a.data(), &kN, x.data(), &kC, &zero, f.data(), &kN, 1, 1);
        benchmark::DoNotOptimize(f.data());
    }
    report_rate(state);
}

void BM_least_squares_sgels(benchmark::State& state)
{
    set_threads(static_cast<int>(state.range(0)));
    const std::vector<float> p = prolongation();
    std::vector<float> a, b;
    std::vector<float> work(2 * static_cast<std::size_t>(kN));
    for (auto _ : state) {
        state.PauseTiming();
        a = p;
        b.assign(static_cast<std::size_t>(kN) * kN, 0.0f);
        for (int i = 0; i < kN; ++i) b[i + static_cast<std::size_t>(i) * kN] = 1.0f;
        state.ResumeTiming();
        if (torva::sgels(kN, kC, kN, a, kN, b, kN, work, 2 * kN) != 0) state.SkipWithError("sgels failed");
    }
}

void BM_create_bspline_filter_2D(benchmark::State& state)
{
    set_threads(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        torva::BsplineFilter fmat;
        torva::create_bspline_filter_2D(6, kH1, kH2, kNp1, kNp2, -0.001f, fmat);
        benchmark::DoNotOptimize(fmat.f.data());
    }
}

}  // namespace

BENCHMARK(BM_filter_product_prolongation)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dense_ordered_product)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_dense_ordered_product_generic)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sgemm_same_sizes)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_least_squares_sgels)->Arg(1)->Arg(2)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_create_bspline_filter_2D)->Arg(1)->Arg(2)->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
