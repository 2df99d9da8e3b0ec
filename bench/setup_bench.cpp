// Phases of the main system on one mesh, timed side by side with a standalone sgetrf of the
// same order, and the whole program on the same mesh:
//     setup_bench <torva-mesh arguments...>
// prints one line: N, symmetry, threads, assembly, the program's factorisation
// (blocked_sgetrf, and its GFLOP/s), writing
// .jou2, standalone sgetrf (and its GFLOP/s), dd of the same bytes, the .jou1 and .jou4
// records of the assembly written again from memory and dd of as many bytes (every write
// timed from a clean page cache), the INFINVS < 0 product
// (ordered_matrix_product) and sgemm of the same order in GFLOP/s, the end-to-end run of
// torva_setup with default parameters (seconds, and over the standalone sgetrf), its peak
// resident memory and the least memory a run needs (its system matrices), in MB; then the
// MB the run wrote, dd of those bytes from a clean page cache and again at once (earlier
// writes still draining), and the sum of the parts measured alone (assembly + factorisation
// + dd) with the run over it, for each dd.
// SETUP_BENCH_NO_PRODUCT=1 leaves the two products out, SETUP_BENCH_NO_RUN=1 the run (0 in
// their columns).  bench/run_setup_bench.sh runs it for the standard sizes and thread counts.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "linalg/blocked_lu.hpp"
#include "linalg/dense_linear_algebra.hpp"
#include "driver/journal.hpp"
#include "equations/seteqn.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_file.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

extern "C" void sgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
                      const float* alpha, const float* a, const int* lda, const float* b, const int* ldb,
                      const float* beta, float* c, const int* ldc, std::size_t, std::size_t);

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double lu_gflops(int n, double seconds) { return 2.0 / 3.0 * double(n) * n * n / seconds * 1e-9; }

}  // namespace

int main(int argc, char** argv)
{
    using namespace torva;
    const std::filesystem::path here = std::filesystem::canonical("/proc/self/exe").parent_path();
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("torva_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string args;
    for (int i = 1; i < argc; ++i) args += std::string(" ") + argv[i];
    const std::string mesh = (dir / "m.ssg").string();
    if (std::system(((here / "torva-mesh").string() + args + " --out " + mesh + " > /dev/null").c_str()) != 0) {
        std::fprintf(stderr, "setup_bench: torva-mesh%s failed\n", args.c_str());
        return 2;
    }
    OpenOptions old;
    old.status = "OLD";
    PanelModel model;
    units().open(kMeshUnit, mesh, old);
    const MeshSizes sizes = size_mesh(kMeshUnit, "0");
    units().close(kMeshUnit);
    allocate_panel_model(model, sizes.n_panels, sizes.n_sheets, false);
    units().open(kMeshUnit, mesh, old);
    if (read_mesh_one_file(kMeshUnit, 1.0f, model) != 0) return 2;
    classify_panels(model);
    fill_moment_tables(model);
    const int n = model.n_panels;
    const int sym = model.header.symmetry;

    OpenOptions o;
    o.status = "REPLACE";
    units().open(6, (dir / "b.LIS").string(), o);
    o.form = FileForm::unformatted;
    UnitJournal journal(6);
    const SeteqnOutput su{6, journal};
    for (const auto& [unit, name] : {std::pair{11, "b.jou1"}, {15, "b.jou1a"}, {12, "b.jou2"}, {14, "b.jou4"}})
        units().open(unit, (dir / name).string(), o);

    std::vector<float> amat(std::size_t(n) * n, 0.0f), amata;
    if (sym == 1) amata.assign(std::size_t(n) * n, 0.0f);
    // OpenBLAS's pool threads spin for about 0.1 s after the library loads (and after each
    // call) before they sleep, taking a core from the assembly's threads: the assembly is
    // timed once they are quiet, so that its own scaling is what the line shows.  (A run
    // pays that 0.1 s of one core while it reads the mesh and starts the assembly; it is
    // felt only in runs of well under a second.)
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    double t0 = now();
    assemble_system(model, su, sym, model.n_sheets, n, select_row_influence(model, 6, sym, -1, {1, 1, 1}), -1.0f,
                    amat, amata);
    units().flush(11);
    const double t_assembly = now() - t0;
    amata = {};

    std::vector<int> ipiv(n);
    t0 = now();
    if (blocked_sgetrf(n, n, amat.data(), std::max(n, 1), ipiv.data()) != 0)
        std::fprintf(stderr, "setup_bench: singular system\n");
    const double t_factor = now() - t0;
    ::sync();
    t0 = now();
    units().write_record(12, bytes_of(amat));
    units().write_record(12, bytes_of(ipiv));
    units().flush(12);
    const double t_write = now() - t0;
    units().close_all();

    // Standalone sgetrf of the same order on a random matrix: it pivots as a general system
    // does (a diagonally dominant one would never swap rows and factorise some 10% faster
    // than any boundary-integral system can).
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (std::size_t i = 0; i < amat.size(); ++i) amat[i] = u(rng);
    t0 = now();
    if (sgetrf(n, amat, ipiv) != 0) std::fprintf(stderr, "setup_bench: singular random matrix\n");
    const double t_standalone = now() - t0;

    // dd of `bytes` into the same directory, from a clean page cache (or, with `clean`
    // false, right after earlier writes, whose dirty pages are still draining to disk).
    const auto time_dd = [&](std::size_t bytes, bool clean = true) {
        if (clean) ::sync();
        const double start = now();
        // A new file each time: truncating the last one would drop its dirty pages.
        const std::string dd = "dd if=/dev/zero of=" + (dir / (clean ? "dd.bin" : "dd2.bin")).string() + " bs=1M count=" +
                               std::to_string((bytes + (1 << 20) - 1) >> 20) + " status=none";
        if (std::system(dd.c_str()) != 0) std::fprintf(stderr, "setup_bench: dd failed\n");
        return now() - start;
    };
    const double t_dd = time_dd(std::size_t(n) * n * 4 + std::size_t(n) * 4);

    // The journals of the assembly written again from memory as its writer writes them (a
    // .jou1 record per row; the .jou4 records of a row, one per hull panel, in one call),
    // against dd of as many bytes.
    double t_journals = 0.0, t_dd_journals = 0.0;
    {
        std::size_t velocity_panels = 0;
        for (int s = 0, first = 0; s < model.n_sheets; first += model.np[s], ++s)
            if (model.kp[s] == kSheetKindBody && model.mp[s] != 0)
                for (int p = first; p < first + model.np[s]; ++p) velocity_panels += model.active[p] != 0;
        const std::size_t jou4_bytes = std::filesystem::file_size(dir / "b.jou4");
        const std::size_t record = sym == 1 ? 24 : 12;
        const std::size_t velocity_rows = velocity_panels == 0 ? 0 : jou4_bytes / ((record + 8) * velocity_panels);
        const std::vector<float> row(std::size_t(n), 1.0f), velocities(velocity_panels * record / 4, 1.0f);
        ::sync();
        t0 = now();
        OpenOptions journal;
        journal.status = "REPLACE";
        journal.form = FileForm::unformatted;
        units().open(21, (dir / "r.jou1").string(), journal);
        units().open(24, (dir / "r.jou4").string(), journal);
        for (int r = 0; r < n; ++r) {
            units().write_record(21, bytes_of(row));
            if (std::size_t(r) < velocity_rows) units().write_records(24, bytes_of(velocities), record);
        }
        units().close(21);
        units().close(24);
        t_journals = now() - t0;
        if (std::filesystem::file_size(dir / "r.jou1") != std::filesystem::file_size(dir / "b.jou1") ||
            std::filesystem::file_size(dir / "r.jou4") != jou4_bytes)
            std::fprintf(stderr, "setup_bench: the journals written again differ in size from the assembly's\n");
        t_dd_journals = time_dd(std::filesystem::file_size(dir / "r.jou1") + std::filesystem::file_size(dir / "r.jou4"));
    }

    // The inverse-times-B product: the ordered kernel against sgemm on the same matrices.
    double product_rate = 0.0, sgemm_rate = 0.0;
    if (!std::getenv("SETUP_BENCH_NO_PRODUCT")) {
        std::vector<float> b(amat.size()), c(amat.size());
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = u(rng);
        const double flops = 2.0 * double(n) * n * n * 1e-9;
        t0 = now();
        ordered_matrix_product(n, amat, b, c);
        product_rate = flops / (now() - t0);
        const float one = 1.0f, zero = 0.0f;
        t0 = now();
        sgemm_("N", "N", &n, &n, &n, &one, amat.data(), &n, b.data(), &n, &zero, c.data(), &n, 1, 1);
        sgemm_rate = flops / (now() - t0);
    }

    // End to end: the program itself on the same mesh with the default parameters, timed
    // with its peak resident memory (the bench's own matrices are freed first).
    amat = {};
    amata = {};
    ipiv = {};
    double t_run = 0.0, run_peak_mb = 0.0, t_dd_run = 0.0, t_dd_run_draining = 0.0;
    std::size_t run_bytes = 0;
    if (!std::getenv("SETUP_BENCH_NO_RUN")) {
        {
            std::ofstream deck(dir / "run.inp");
            deck << "&TORVA_INP\n FILE_SSG = 'm.ssg'\n FILEJOU = 'run'\n/\n";
        }
        const std::string program = (here / "torva_setup").string();
        t0 = now();
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(dir.c_str()) != 0) ::_exit(127);
            if (!::freopen("/dev/null", "w", stderr)) ::_exit(127);
            ::execl(program.c_str(), program.c_str(), "/INPUT=run.inp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = 0;
        rusage child_usage{};
        if (child < 0 || ::wait4(child, &status, 0, &child_usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            std::fprintf(stderr, "setup_bench: the end-to-end run of torva_setup failed\n");
        t_run = now() - t0;
        run_peak_mb = static_cast<double>(child_usage.ru_maxrss) / 1024.0;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename().string().starts_with("run.") && entry.path().extension() != ".inp")
                run_bytes += entry.file_size();
        // The bytes the run wrote, by dd: from a clean page cache, and again at once, while the
        // first dd's pages (and the run's) are still being written back.
        t_dd_run = time_dd(run_bytes);
        t_dd_run_draining = time_dd(run_bytes, false);
        std::filesystem::remove(dir / "dd.bin");
        std::filesystem::remove(dir / "dd2.bin");
    }

    int threads = 1;
#ifdef _OPENMP
    threads = omp_get_max_threads();
#endif
    // The least memory a run needs: its N x N system matrices (two with symmetry).
    const double minimum_mb = (sym == 1 ? 2.0 : 1.0) * 4.0 * double(n) * n / (1024.0 * 1024.0);
    // The run against the sum of its parts measured alone: the assembly (which includes
    // handing its .jou1/.jou4 records to the page cache), the program's factorisation and dd
    // of every byte the run wrote, with dd timed from a clean page cache and while draining.
    const double parts_clean = t_assembly + t_factor + t_dd_run;
    const double parts_draining = t_assembly + t_factor + t_dd_run_draining;
    std::printf("%6d %3d %3d %9.3f %9.3f %7.1f %8.3f %9.3f %7.1f %7.3f %8.3f %7.3f %8.1f %7.1f %8.3f %6.2f %8.0f %8.0f"
                " %7.0f %7.3f %7.3f %7.3f %6.2f %7.3f %6.2f\n",
                n, sym, threads, t_assembly, t_factor, lu_gflops(n, t_factor), t_write, t_standalone,
                lu_gflops(n, t_standalone), t_dd, t_journals, t_dd_journals, product_rate, sgemm_rate, t_run,
                t_run / t_standalone, run_peak_mb, minimum_mb, double(run_bytes) / (1024.0 * 1024.0), t_dd_run,
                t_dd_run_draining, parts_clean, t_run / parts_clean, parts_draining, t_run / parts_draining);
    std::filesystem::remove_all(dir);
    return 0;
}
