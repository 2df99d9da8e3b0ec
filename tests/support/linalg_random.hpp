// Random matrices for the linear-algebra tests and benchmarks: `count` entries uniform on
// [-1, 1], the same for the same seed on every run.  With zero_fraction > 0 about that share
// of the entries is exactly zero, as in the filter's sparse prolongation, whose zero terms the
// ordered product skips.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace torva::testing {

inline std::vector<float> random_matrix(std::size_t count, unsigned seed, double zero_fraction = 0.0)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::bernoulli_distribution zero(zero_fraction);
    std::vector<float> v(count);
    for (auto& e : v) e = (zero_fraction > 0.0 && zero(rng)) ? 0.0f : value(rng);
    return v;
}

}  // namespace torva::testing
