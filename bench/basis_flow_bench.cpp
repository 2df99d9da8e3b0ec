// Timing of the steady basis flow (matrix, sleqbf, field at every collocation point):
//   - the shipped example hull (examples/wigley: half Wigley hull 32 x 10 with its free
//     surface, symmetry 1, N = 748 of which 320 hull panels);
//   - the whole Wigley hull of the 8,000-panel benchmark mesh (72 x 26 panels a side, 3,744
//     hull panels) alone, as the phase of a large run.
// The first argument is INFNMR (0 integrated builder, 1 source kernel), the second the
// thread count (OpenMP for the builders and the field, OpenBLAS's own for sleqbf).
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "../tests/support/panel_models.hpp"
#include "../tools/mesh_shapes.hpp"
#include "equations/basefl.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_geometry.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

extern "C" void openblas_set_num_threads(int threads);

namespace {

using namespace torva;
namespace mt = torva::mesh_tool;

void finish(PanelModel& model)
{
    classify_panels(model);
    fill_moment_tables(model);
}

const PanelModel& example_model()
{
    static const PanelModel model = [] {
        const std::string dir = std::string(TORVA_SOURCE_DIR) + "/examples/wigley/";
        std::ifstream hull_sizing(dir + "wigley_hull.ssg"), fs_sizing(dir + "wigley_fs.ssg");
        const MeshSizes sizes = size_mesh(hull_sizing, "wigley_hull.ssg", &fs_sizing, "wigley_fs.ssg");
        PanelModel m;
        allocate_panel_model(m, sizes.n_panels, sizes.n_sheets, false);
        std::ifstream hull(dir + "wigley_hull.ssg"), fs(dir + "wigley_fs.ssg");
        if (read_mesh_two_files(hull, "wigley_hull.ssg", fs, "wigley_fs.ssg", 1.0f, m) != 0)
            throw std::runtime_error("the example mesh did not read");
        finish(m);
        return m;
    }();
    return model;
}

const PanelModel& large_hull_model()
{
    static const PanelModel model = [] {
        mt::WigleyParams w;
        w.nx = 72;
        w.nz = 26;
        return torva::testing::panel_model_from(mt::wigley_hull(w, false), 0);
    }();
    return model;
}

void basis_flow(benchmark::State& state, const PanelModel& model)
{
    const int infnmr = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
#if defined(_OPENMP)
    omp_set_num_threads(threads);
#endif
    openblas_set_num_threads(threads);
    const int symmetry = model.header.symmetry;
    const int m = model.n_interior_body;
    BasisFlowArrays arrays;
    allocate_basis_flow_arrays(arrays, model.n_panels, m, kListingUnit);
    for (auto _ : state) {
        solve_basis_flow(model, kListingUnit, symmetry, model.n_panels, 0, m, model.interior_body,
                         BasisFlowSettings{0, infnmr, 0, -1.0f}, {}, arrays);
        benchmark::DoNotOptimize(arrays.u.data());
    }
    state.counters["hull panels"] = m;
    state.counters["panels"] = model.n_panels;
}

void BM_basis_flow_example_hull(benchmark::State& state) { basis_flow(state, example_model()); }
void BM_basis_flow_large_hull(benchmark::State& state) { basis_flow(state, large_hull_model()); }

}  // namespace

BENCHMARK(BM_basis_flow_example_hull)->ArgsProduct({{0, 1}, {1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_basis_flow_large_hull)->Args({1, 1})->Args({1, 2})->Iterations(2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
