#include "driver/run_estimate.hpp"

#include <sys/statvfs.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <random>

#include "linalg/dense_linear_algebra.hpp"
#include "equations/seteqn.hpp"
#include "equations/seteqn1.hpp"
#include "filter/bspline_filter.hpp"
#include "frame/threads.hpp"
#include "integrals/source_kernel.hpp"

namespace torva {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Processor seconds of the calling thread, or of the whole process (all threads).  The
// calibration counts processor time rather than wall time: on a machine that other programs
// share, wall time says more about them than about the run.
double cpu_seconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Seconds per operation of sgetrf on a random, diagonally dominant matrix of `order`, as
// processor time shared out over the threads; the best of a few tries.
double lu_seconds_per_flop(int order)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    const std::size_t nn = static_cast<std::size_t>(order) * static_cast<std::size_t>(order);
    std::vector<float> a(nn), work(nn);
    for (float& x : a) x = value(random);
    for (int i = 0; i < order; ++i) a[static_cast<std::size_t>(i) * (order + 1)] += static_cast<float>(order);
    std::vector<int> pivots(static_cast<std::size_t>(order));
    double best = 1e300;
    for (int attempt = 0; attempt < 3; ++attempt) {
        work = a;
        const double t0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
        (void)sgetrf(order, work, pivots);
        best = std::min(best, cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - t0);
    }
    const double flops = 2.0 / 3.0 * static_cast<double>(order) * order * order;
    return best / flops / std::max(1, team_threads());
}

// 6 n^2 c: the operations of a filter of n = np1 np2 values and c coarse functions.
double filter_operations(int np1, int np2, int h1, int h2)
{
    const double n = static_cast<double>(np1) * np2;
    return 6.0 * n * n * coarse_count(np1, h1) * coarse_count(np2, h2);
}

// Seconds per operation of a filter built as the run builds them (its least-squares solve
// takes LAPACK's unblocked path, slower per operation than the LU), processor time shared
// out over the threads.
double filter_seconds_per_operation(int listing_unit, int h1, int h2)
{
    constexpr int kSide = 24;
    BsplineFilter filter;
    const double t0 = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
    create_bspline_filter_2D(listing_unit, h1, h2, kSide, kSide, -0.001f, filter);
    const double spent = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - t0;
    return spent / filter_operations(kSide, kSide, h1, h2) / std::max(1, team_threads());
}

// Interior panels spread over the whole mesh (every sheet), in an order that samples them
// evenly whatever number of them is timed.
std::vector<int> sample_interior_panels(const PanelModel& model, std::size_t wanted)
{
    std::vector<int> interior;
    for (int p = 0; p < model.n_panels; ++p)
        if (model.active[static_cast<std::size_t>(p)] == 1) interior.push_back(p);
    std::vector<int> sample;
    if (interior.empty()) return sample;
    const std::size_t count = std::min(wanted, interior.size());
    for (std::size_t k = 0; k < count; ++k) sample.push_back(interior[k * interior.size() / count]);
    return sample;
}

// Seconds per influence call (one row or one panel) with the calls shared out over the
// threads: processor seconds of the calling threads over the thread count; 0 when nothing
// could be timed.
double seconds_per_influence_call(const PanelModel& model, const RunParameters& params, int listing_unit,
                                  double budget_seconds, int& calls_timed)
{
    const int n = model.n_panels;
    const int threads = std::max(1, team_threads());
    const std::array<int, 3> ispline = {params.ISPLINE[0], params.ISPLINE[1], 1};
    const int symmetry = model.header.symmetry;
    const float sea_depth = params.SEA_DEPTH != 0.0f ? params.SEA_DEPTH / params.ALENGTH : 0.0f;
    // Rounds of one call per thread until the budget is spent (at least one round).
    const std::vector<int> sample = sample_interior_panels(model, static_cast<std::size_t>(threads) * 64);
    if (sample.empty()) return 0;

    std::function<void(int, int)> call;   // (panel index, thread)
    std::vector<RowInfluenceArrays> rows;
    std::vector<ColumnInfluenceArrays> columns;
    RowInfluence row_influence;
    VelocityPanels velocity;
    int sweeps = 0;
    std::vector<VelocitySweepWork> sweep_work;
    std::vector<std::vector<float>> sweep_out;
    ColumnInfluenceRoutine column_influence;
    if (params.INFORDER == 1) {
        row_influence = select_row_influence(model, listing_unit, symmetry, params.INFMETH, ispline);
        rows.reserve(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t) rows.emplace_back(n);
        // A row also sweeps the velocity panels (interior panels of flagged body sheets): at the
        // point, its mirror image with symmetry 1, and the bottom images of both.
        std::vector<int> velocity_columns;
        int offset = 0;
        for (int s = 0; s < model.n_sheets; ++s) {
            if (model.kp[s] == kSheetKindBody && model.mp[s] != 0)
                for (int c = offset; c < offset + model.np[s]; ++c)
                    if (model.active[static_cast<std::size_t>(c)] != 0) velocity_columns.push_back(c);
            offset += model.np[s];
        }
        if (sea_depth != 0.0f && !velocity_columns.empty()) {
            std::vector<KernelPanel> kernel_panels(static_cast<std::size_t>(n));
            for (const int c : velocity_columns)
                kernel_panels[static_cast<std::size_t>(c)] = kernel_panel(model, to_panel_number(c));
            velocity = velocity_panels(kernel_panels, velocity_columns);
            sweeps = (symmetry == 1 ? 2 : 1) * (sea_depth > 0.0f ? 2 : 1);
            sweep_work.resize(static_cast<std::size_t>(threads));
            sweep_out.assign(static_cast<std::size_t>(threads), std::vector<float>(3 * velocity.size()));
        }
        call = [&](int p, int t) {
            const std::size_t q = static_cast<std::size_t>(p), tt = static_cast<std::size_t>(t);
            const std::array<float, 3> field = {model.colloc[3 * q], model.colloc[3 * q + 1], model.colloc[3 * q + 2]};
            row_influence(field, to_panel_number(p), rows[tt]);
            const std::size_t count = velocity.size();
            for (int k = 0; k < sweeps; ++k) {
                float* out = sweep_out[tt].data();
                velocity_sweep(field, velocity, out, out + count, out + 2 * count, sweep_work[tt]);
            }
        };
    } else {
        column_influence = select_column_influence(model, listing_unit, symmetry, params.INFMETH, ispline, sea_depth);
        columns.reserve(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t) columns.emplace_back(n);
        call = [&](int p, int t) {
            column_influence.fill(to_panel_number(p), ColumnPass::direct, columns[static_cast<std::size_t>(t)]);
        };
    }

    // One untimed round first: each thread's first call sizes its work arrays.
    bool failed = false;
    double cpu = 0;
    const auto run_round = [&](std::size_t first, std::size_t round) {
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : cpu)
        for (std::size_t k = 0; k < round; ++k) {
            try {
                const double t0 = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
                call(sample[(first + k) % sample.size()], team_member());
                cpu += cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - t0;
            } catch (...) {
#pragma omp critical(calibration_failure)
                failed = true;
            }
        }
    };
    run_round(sample.size() / 2, static_cast<std::size_t>(threads));
    cpu = 0;
    std::size_t next = 0;
    const Clock::time_point t0 = Clock::now();
    while (next < sample.size() && !failed) {
        const std::size_t round = std::min<std::size_t>(static_cast<std::size_t>(threads), sample.size() - next);
        run_round(next, round);
        next += round;
        if (seconds_since(t0) > budget_seconds) break;
    }
    if (failed) return 0;
    calls_timed = static_cast<int>(next);
    return cpu / static_cast<double>(next) / threads;
}

// VmRSS of /proc/self/status, 0 when it cannot be read.
std::int64_t resident_memory_bytes()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %lld kB", &kib) == 1) break;
    std::fclose(f);
    return static_cast<std::int64_t>(kib) * 1024;
}

std::string seconds_text(double s)
{
    char buf[64];
    if (s < 120)
        std::snprintf(buf, sizeof buf, "%.3g s", s);
    else if (s < 7200)
        std::snprintf(buf, sizeof buf, "%.3g s (%.1f min)", s, s / 60);
    else
        std::snprintf(buf, sizeof buf, "%.3g s (%.1f h)", s, s / 3600);
    return buf;
}

}  // namespace

Calibration calibrate_machine(const PanelModel& model, const RunParameters& params, int listing_unit,
                              double budget_seconds)
{
    Calibration c;
    // Large enough that the library works blocked, as on the run's matrices; small enough to
    // take a few hundredths of a second.
    c.lu_order = 1024;
    c.seconds_per_flop = lu_seconds_per_flop(c.lu_order);
    int calls = 0;
    const double per_call = seconds_per_influence_call(model, params, listing_unit, budget_seconds, calls);
    c.rows_timed = calls;
    if (model.n_panels > 0) c.seconds_per_pair = per_call / static_cast<double>(model.n_panels);
    bool filters = false;
    for (int s = 0; s < model.n_sheets; ++s) filters = filters || model.kp[s] == kSheetKindFreeSurface;
    if (params.B_FILTER && filters && params.H1 > 0 && params.H2 > 0)
        c.seconds_per_filter_flop = filter_seconds_per_operation(listing_unit, params.H1, params.H2);
    c.resident_bytes = resident_memory_bytes();
    return c;
}

RunEstimate estimate_run(const RunFacts& facts, int h1, int h2, int threads, const Calibration& calibration)
{
    RunEstimate e;
    const double n = facts.n;
    e.n = facts.n;
    e.interior = interior_panel_count(facts);
    const bool symmetric = facts.symmetry == 1;
    const double k = symmetric ? 2 : 1;
    const bool mirrored = facts.ifsbc == 3 && symmetric;
    std::int64_t interior_body = 0;
    for (const SheetFacts& s : facts.sheets)
        if (s.kp == kSheetKindBody) interior_body += s.active;
    const double t = std::max(1, threads);

    // Files.
    for (const ExpectedFile& f : expected_files(facts)) {
        e.files.push_back({f.name, f.role, expected_file_bytes(f)});
        e.file_bytes += e.files.back().bytes;
    }
    e.peak_file_bytes = e.file_bytes;
    if (facts.ifsbc == 3) {
        RunFacts before_rewind = facts;
        before_rewind.ifsbc = 1;
        const std::string jou4 = facts.filejou + ".jou4";
        for (const ExpectedFile& f : expected_files(before_rewind))
            if (f.name == jou4)
                for (const FileEstimate& g : e.files)
                    if (g.name == jou4) e.peak_file_bytes += std::max<std::int64_t>(0, expected_file_bytes(f) - g.bytes);
    }

    // Memory, in 4-byte elements.
    const std::int64_t capacity = mirrored ? 2 * facts.n : facts.n;
    e.model_bytes = panel_model_bytes(facts.n, capacity, mirrored ? 2 * static_cast<std::int64_t>(facts.sheets.size())
                                                                  : static_cast<std::int64_t>(facts.sheets.size()));
    double equations = 0;
    if (facts.inforder == 1) {
        equations = k * n * n + 2.0 * 32 * n * 2 * k + 96.0 * n * t;
        if (facts.infinvs < 0) equations = std::max(equations, (k + 2) * n * n);
    } else {
        const bool images = facts.sea_depth > 0.0f;
        equations = 2 * k * n * n + 64.0 * n * std::max(32.0, 2 * t) * (images ? 2 : 1);
        if (facts.infinvs < 0) equations = std::max(equations, (2 * k + 2) * n * n);
    }
    const double n_work = mirrored ? 2 * n : n;
    const double m_work = static_cast<double>(mirrored ? 2 * interior_body : interior_body);
    const double basis_flow = 8 * n_work + m_work * m_work + 5 * m_work;
    double filters = 0, filter_flops = 0;
    if (facts.b_filter && h1 > 0 && h2 > 0)
        for (const SheetFacts& s : facts.sheets) {
            if (s.kp != kSheetKindFreeSurface) continue;
            const double order = s.np;
            const double coarse = static_cast<double>(coarse_count(s.np1, h1)) * coarse_count(s.np2, h2);
            filters = std::max(filters, order * order + 2 * order * coarse);
            filter_flops += filter_operations(s.np1, s.np2, h1, h2);
        }
    e.calibration = calibration;
    e.peak_memory_bytes = std::max(e.model_bytes, calibration.resident_bytes) +
                          static_cast<std::int64_t>(4 * std::max({equations, basis_flow, filters}));

    // Time.
    const double pair = calibration.seconds_per_pair;
    const double flop = calibration.seconds_per_flop;
    const double images = facts.sea_depth > 0.0f ? 2 : 1;
    e.assembly_seconds = static_cast<double>(e.interior) * n * pair * images;
    double per_system = 2.0 / 3.0 * n * n * n;
    if (facts.infinvs <= 0) per_system += 4.0 / 3.0 * n * n * n;
    if (facts.infinvs < 0) per_system += 2.0 * n * n * n;
    e.factorisation_seconds = k * per_system * flop;
    e.basis_flow_seconds = 2.0 / 3.0 * m_work * m_work * m_work * flop + m_work * (m_work + n_work) * pair;
    e.filter_seconds =
        filter_flops * (calibration.seconds_per_filter_flop > 0 ? calibration.seconds_per_filter_flop : flop);
    return e;
}

std::int64_t free_space_bytes(const std::string& directory)
{
    struct statvfs fs {};
    if (statvfs(directory.c_str(), &fs) != 0) return -1;
    return static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
}

SpaceCheck journal_space(const RunEstimate& estimate, const std::string& filejou, const FreeSpaceQuery& query)
{
    namespace fs = std::filesystem;
    SpaceCheck space;
    const fs::path parent = fs::path(filejou).parent_path();
    space.directory = parent.empty() ? "." : parent.string();
    space.free_bytes = query ? query(space.directory) : -1;
    // Files of the same names are replaced (or the open refuses them): their space comes free.
    for (const FileEstimate& f : estimate.files) {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(f.name, ec);
        if (!ec) space.reused_bytes += static_cast<std::int64_t>(size);
    }
    return space;
}

bool journals_fit(const RunEstimate& estimate, const SpaceCheck& space) noexcept
{
    return !space.known() || estimate.peak_file_bytes <= space.free_bytes + space.reused_bytes;
}

std::string with_thousands(std::int64_t v)
{
    std::string digits = std::to_string(v < 0 ? -v : v), out;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0) out += ',';
        out += digits[k];
    }
    return v < 0 ? "-" + out : out;
}

std::string byte_text(std::int64_t bytes)
{
    char buf[64];
    const double b = static_cast<double>(bytes);
    if (b >= 1024.0 * 1024 * 1024)
        std::snprintf(buf, sizeof buf, " (%.1f GiB)", b / (1024.0 * 1024 * 1024));
    else if (b >= 1024.0 * 1024)
        std::snprintf(buf, sizeof buf, " (%.1f MiB)", b / (1024.0 * 1024));
    else if (b >= 1024.0)
        std::snprintf(buf, sizeof buf, " (%.1f KiB)", b / 1024.0);
    else
        buf[0] = '\0';
    return with_thousands(bytes) + " bytes" + buf;
}

std::vector<std::string> estimate_lines(const RunEstimate& e, const SpaceCheck& space, std::int64_t available_memory)
{
    std::vector<std::string> lines;
    char buf[512];
    auto item = [&](const std::string& label, const std::string& value) {
        std::snprintf(buf, sizeof buf, "%-32s: %s", label.c_str(), value.c_str());
        lines.push_back(buf);
    };
    item("Padded panels N", with_thousands(e.n) + " (" + with_thousands(e.interior) + " interior)");
    item("Peak memory", byte_text(e.peak_memory_bytes) +
                            (available_memory >= 0 ? ", available " + byte_text(available_memory) : std::string()));
    for (const FileEstimate& f : e.files) item(f.name, byte_text(f.bytes));
    std::string room;
    if (space.known())
        room = ", free in " + space.directory + " " + byte_text(space.free_bytes) +
               (space.reused_bytes > 0 ? " + " + byte_text(space.reused_bytes) + " of files replaced" : std::string());
    item("Journal and filter files", byte_text(e.file_bytes) +
                                         (e.peak_file_bytes > e.file_bytes
                                              ? ", " + byte_text(e.peak_file_bytes) + " at most during the run"
                                              : std::string()) +
                                         room);
    const bool timed = e.calibration.rows_timed > 0;
    std::snprintf(buf, sizeof buf, "%s (influence integrals %s, factorisation %s, basis flow %s, filters %s)",
                  seconds_text(e.total_seconds()).c_str(),
                  timed ? seconds_text(e.assembly_seconds).c_str() : "not timed (the timed calls failed)",
                  seconds_text(e.factorisation_seconds).c_str(), seconds_text(e.basis_flow_seconds).c_str(),
                  seconds_text(e.filter_seconds).c_str());
    item("Time on an idle machine", buf);
    const Calibration& c = e.calibration;
    std::snprintf(buf, sizeof buf, "sgetrf of order %d at %.3g GFLOP/s; %d %s of influence integrals, %.3g ms each "
                  "(processor time over the threads; the files' writing not counted)",
                  c.lu_order, c.seconds_per_flop > 0 ? 1e-9 / c.seconds_per_flop : 0.0, c.rows_timed,
                  c.rows_timed == 1 ? "call" : "calls", 1e3 * c.seconds_per_pair * static_cast<double>(e.n));
    item("Timed on this machine", buf);
    return lines;
}

}  // namespace torva
