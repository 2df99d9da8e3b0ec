// The equation systems on Wigley hulls with free-surface sheets (whole body, hull sheets
// flagged for velocity records), the meshes of bench/run_setup_bench.sh at about 1,000 and
// 4,000 padded panels:
//     size 1000: wigley --nx 24 --nz 10 --fs-radius 3 --fs-nr 8      (N = 1144)
//     size 4000: wigley --nx 50 --nz 18 --fs-radius 3 --fs-nr 16
// Wall time; OMP_NUM_THREADS sets the threads of the panel loop, OPENBLAS_NUM_THREADS those
// of the factorisation.
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>
#include <vector>

#include "../tools/mesh_shapes.hpp"
#include "equations/seteqn.hpp"
#include "driver/journal.hpp"
#include "equations/seteqn1.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_file.hpp"

namespace {

namespace mt = torva::mesh_tool;

torva::PanelModel wigley_model(int size)
{
    mt::WigleyParams w;
    mt::FreeSurfaceParams f;
    f.radius = 3.0;
    if (size <= 1000) {
        w.nx = 24;
        w.nz = 10;
        f.nr = 8;
    } else {
        w.nx = 50;
        w.nz = 18;
        f.nr = 16;
    }
    std::vector<mt::Sheet> sheets = mt::wigley_hull(w, false);
    for (auto& s : sheets) s.flag = 1;
    for (const auto& s : mt::free_surface(sheets, f, false)) sheets.push_back(s);
    std::ostringstream out;
    mt::write_mesh(out, {"bench", 0}, sheets, mt::Layout::version2);
    std::istringstream sizing(out.str()), reading(out.str());
    const torva::MeshSizes sizes = torva::size_mesh(sizing, "bench.ssg", nullptr, "");
    torva::PanelModel model;
    torva::allocate_panel_model(model, sizes.n_panels, sizes.n_sheets, false);
    if (torva::read_mesh_one_file(reading, "bench.ssg", 1.0f, model) != 0) throw std::runtime_error("mesh");
    torva::classify_panels(model);
    torva::fill_moment_tables(model);
    return model;
}

const torva::PanelModel& cached_model(int size)
{
    static const torva::PanelModel small = wigley_model(1000);
    static const torva::PanelModel large = wigley_model(4000);
    return size <= 1000 ? small : large;
}

// Listing and journals on scratch files, opened for one benchmark and closed after it.
struct ScratchJournals {
    ScratchJournals()
    {
        torva::OpenOptions o;
        o.status = "SCRATCH";
        torva::units().open(6, "", o);
        o.form = torva::FileForm::unformatted;
        for (const int unit : {11, 15, 12, 14}) torva::units().open(unit, "", o);
    }
    ~ScratchJournals() { (void)torva::units().close_all(); }
};

}  // namespace

// ---- seteqn1, the panel-wise system -----------------------------------------------------

// The assembly of seteqn1 (panel loop, INFBND 1 stencils and velocity records, row scaling),
// without the factorisation: args INFMETH, mesh size, SEA_DEPTH (0: deep water, else the
// depth, which adds the bottom-image pass).  Counter per_panel: wall time per active panel.
void BM_seteqn1_assembly(benchmark::State& state)
{
    const int infmeth = static_cast<int>(state.range(0));
    const torva::PanelModel& model = cached_model(static_cast<int>(state.range(1)));
    const float depth = state.range(2) > 0 ? static_cast<float>(state.range(2)) : -1.0f;
    const ScratchJournals journals;
    const torva::ColumnInfluenceRoutine influence =
        torva::select_column_influence(model, 6, 0, infmeth, {1, 1, 1}, depth);
    int active = 0;
    for (int p = 0; p < model.n_panels; ++p) active += model.active[p] != 0;
    torva::UnitJournal journal(6);
    for (auto _ : state) {
        torva::PanelwiseSystem sys = torva::assemble_panelwise_system(
            model, torva::SeteqnOutput{6, journal}, 0, model.n_sheets, model.n_panels, influence, 1, depth);
        benchmark::DoNotOptimize(sys.amat.data());
    }
    state.counters["N"] = model.n_panels;
    state.counters["per_panel"] =
        benchmark::Counter(double(active), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_seteqn1_assembly)
    ->ArgsProduct({{-1, 0, 3}, {1000, 4000}, {0}})
    ->Args({-1, 1000, 2})
    ->Args({-1, 4000, 2})
    ->Args({3, 1000, 2})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The whole of seteqn1 with the quadrature-based influence (INFMETH -1): assembly, the
// right-hand-side records, LU factors and pivots to .jou2 (INFINVS 1).  arg: mesh size.
void BM_seteqn1_whole(benchmark::State& state)
{
    const torva::PanelModel& model = cached_model(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const ScratchJournals journals;
        torva::UnitJournal journal(6);
        torva::seteqn1(model, torva::SeteqnOutput{6, journal}, 0, model.n_sheets, model.n_panels, {1, 1, 1}, -1, 1, 1, -1.0f);
    }
    state.counters["N"] = model.n_panels;
}
BENCHMARK(BM_seteqn1_whole)->Arg(1000)->Arg(4000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
