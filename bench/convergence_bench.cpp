// Convergence of the main system's added mass with the mesh, for each influence path.
//
// For a sphere and prolate spheroids of 2:1 and 4:1 at four mesh sizes, the relative error of
// the added mass of each translation (the B-spline potential integrated to high order on the
// exact surface, tests/support/ellipsoid_added_mass.hpp) and the observed order of
// convergence between successive sizes,
//     order = 2 ln(e_coarse / e_fine) / ln(N_fine / N_coarse)
// (N the panel count; the panel size goes as N^-1/2).  Not a timed benchmark.
//
//     convergence_bench [INFMETH ...] [--ispline c l q] [--shape sphere|2|4] [--sizes n,n,...]
// prints the table for INFMETH -1, 0 and 3 unless others are named (--sizes: panels per cube
// edge across the body instead of the four default sizes).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../tests/support/ellipsoid_added_mass.hpp"

namespace {

using torva::testing::Ellipsoid;

struct Shape {
    const char* name;
    double a;                   // semi-axis along x (b = 0.5)
    int ratio;                  // panels along x per panel across
    std::vector<int> sizes;     // panels per cube edge across the body
};

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> methods;
    std::array<int, 3> ispline{1, 1, 1};
    std::string only;
    std::vector<int> sizes;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--ispline" && k + 3 < argc) {
            for (int m = 0; m < 3; ++m) ispline[static_cast<std::size_t>(m)] = std::atoi(argv[++k]);
        } else if (arg == "--sizes" && k + 1 < argc) {
            for (const char* p = argv[++k]; *p;) {
                char* end = nullptr;
                sizes.push_back(static_cast<int>(std::strtol(p, &end, 10)));
                p = *end == ',' ? end + 1 : end;
            }
        } else if (arg == "--shape" && k + 1 < argc) {
            only = argv[++k];
        } else {
            methods.push_back(std::atoi(arg.c_str()));
        }
    }
    if (methods.empty()) methods = {-1, 0, 3};

    // Panel counts: sphere 6 n^2 (216 .. 1,944), 2:1 spheroid 10 n^2 (250 .. 1,960),
    // 4:1 spheroid 18 n^2 (288 .. 1,800).
    const std::vector<Shape> shapes = {{"sphere", 0.5, 1, {6, 10, 14, 18}},
                                       {"2", 1.0, 2, {5, 8, 11, 14}},
                                       {"4", 2.0, 4, {4, 6, 8, 10}}};
    std::printf("ISPLINE %d %d %d\n", ispline[0], ispline[1], ispline[2]);
    std::printf("%-8s %7s %6s %6s | %10s %10s %10s | %6s %6s %6s\n", "body", "INFMETH", "panels", "N", "err x",
                "err y", "err z", "ord x", "ord y", "ord z");
    for (const Shape& shape : shapes) {
        if (!only.empty() && only != shape.name) continue;
        for (const int infmeth : methods) {
            double last_n = 0;
            std::array<double, 3> last{};
            for (const int n : sizes.empty() ? shape.sizes : sizes) {
                Ellipsoid e;
                e.a = shape.a;
                e.b = 0.5;
                e.n[0] = shape.ratio * n;
                e.n[1] = e.n[2] = n;
                e.depth = 10.0;
                const auto err = torva::testing::added_mass_errors(e, infmeth, ispline);
                const int panels = 2 * (e.n[0] * e.n[1] + e.n[1] * e.n[2] + e.n[2] * e.n[0]);
                const torva::PanelModel model = torva::testing::ellipsoid_model(e);
                if (torva::testing::corner_mismatch(e, model) > 1e-6) {
                    std::fprintf(stderr, "the mesh is not the surface the errors are measured on\n");
                    return 1;
                }
                std::printf("%-8s %7d %6d %6d | %10.3e %10.3e %10.3e |", shape.name, infmeth, panels, model.n_panels,
                            err[0], err[1], err[2]);
                for (int d = 0; d < 3; ++d) {
                    if (last_n == 0) {
                        std::printf(" %6s", "");
                        continue;
                    }
                    const double order = 2.0 * std::log(std::abs(last[d] / err[d])) / std::log(panels / last_n);
                    std::printf(" %6.2f", order);
                }
                std::printf("\n");
                std::fflush(stdout);
                last = err;
                last_n = panels;
            }
        }
    }
    return 0;
}
