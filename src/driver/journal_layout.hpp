// The record layout of the journal and filter files that a run writes, worked out from the
// mesh and the run parameters alone: what torva-inspect compares with the files a run left,
// and what the run estimate counts before any file is written.
//
// With N padded panels, s the symmetry indicator, K the free-surface (kind-3) sheets:
//   .jou1    N records of N reals                          rows of B
//   .jou1a   the same when s = 1, else nothing             rows of B_a
//   .jou2    per system (amat; amata too when s = 1):
//              INFINVS > 0   N*N reals (LU factors), N integers (pivots)
//              INFINVS <= 0  N*N reals (inverse, or inverse * B when negative)
//            then, with B_FILTER, one integer (K) and one record of K * 200 characters
//   .jou3    one record of 7N reals: phi u v w ux vy weight, panel after panel
//   .jou4    IFSBC = 3: one record of 3N reals per rigid-body mode other than 1, 2, 6
//            (the basis flow rewinds the file and replaces the equation systems' records);
//            otherwise one velocity record per (field point, velocity panel) pair, of
//            6 reals when s = 1 and 3 when not, none at all when SEA_DEPTH is exactly 0.
//            Velocity panels are the interior panels of kind-2 sheets with MP != 0.  Field
//            points: INFORDER = 1 visits the interior panels of every sheet; any other
//            INFORDER visits all N panels when INFBND = 1 and none otherwise.
//   filter   FILEJOU.jou05, .jou06, ... for the kind-3 sheets in order: three integers
//            (type 1, order n = NP', entry count n*n), then n records of n reals.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

inline constexpr std::int64_t kRealBytes = 4;
inline constexpr std::int64_t kIntegerBytes = 4;
inline constexpr std::int64_t kFileNameBytes = 200;
inline constexpr int kFirstFilterNumber = 5;   // FILEJOU.jou05 is the first filter file

struct SheetFacts {
    int np1 = 0, np2 = 0, np = 0;   // padded counts NP1', NP2', NP'
    int kp = 0, mp = 0;             // sheet kind and flag
    int active = 0;                 // interior panels
};

// What a run's files depend on.
struct RunFacts {
    int n = 0;                      // padded panel count N
    int symmetry = 0;
    std::vector<SheetFacts> sheets;
    int inforder = 1, infbnd = 1, infinvs = 1, ifsbc = 1;
    bool b_filter = false;
    float sea_depth = -1.0f;
    std::string filejou;            // trimmed
    int mode_count = 6;
};

struct ExpectedRun {
    std::int64_t count = 0;
    std::int64_t length = 0;        // bytes of each record
    std::string what;
};

struct ExpectedFile {
    std::string name;               // file name, FILEJOU + suffix
    std::string role;
    std::vector<ExpectedRun> runs;
    int filter_sheet = 0;           // for a filter file: its sheet, 1-based; else 0
};

// Rigid-body modes that get a .jou4 record with IFSBC = 3: 1 .. mode_count but 1, 2 and 6,
// which the basis flow skips.
[[nodiscard]] inline std::vector<int> modes_with_records(int mode_count)
{
    std::vector<int> modes;
    for (int m = 1; m <= mode_count; ++m)
        if (m != 1 && m != 2 && m != 6) modes.push_back(m);
    return modes;
}

[[nodiscard]] inline std::int64_t velocity_panel_count(const RunFacts& f)
{
    std::int64_t count = 0;
    for (const SheetFacts& s : f.sheets)
        if (s.kp == 2 && s.mp != 0) count += s.active;
    return count;
}

[[nodiscard]] inline std::int64_t interior_panel_count(const RunFacts& f)
{
    std::int64_t count = 0;
    for (const SheetFacts& s : f.sheets) count += s.active;
    return count;
}

// Field points at which the equation systems call for velocity records.
[[nodiscard]] inline std::int64_t velocity_field_points(const RunFacts& f)
{
    if (f.inforder == 1) return interior_panel_count(f);
    return f.infbnd == 1 ? f.n : 0;
}

[[nodiscard]] inline std::vector<std::string> filter_file_names(const RunFacts& f)
{
    std::vector<std::string> names;
    int k = 0;
    for (const SheetFacts& s : f.sheets) {
        if (s.kp != 3) continue;
        char digits[16];
        std::snprintf(digits, sizeof digits, "%02d", k + kFirstFilterNumber);
        names.push_back(f.filejou + ".jou" + digits);
        ++k;
    }
    return names;
}

[[nodiscard]] inline std::vector<ExpectedFile> expected_files(const RunFacts& f)
{
    const std::int64_t n = f.n;
    const std::string nn = std::to_string(n);
    std::vector<ExpectedFile> files;

    files.push_back({f.filejou + ".jou1", "right-hand-side rows", {{n, n * kRealBytes, "row of B (" + nn + " reals)"}}, 0});
    ExpectedFile jou1a{f.filejou + ".jou1a", "antisymmetric right-hand-side rows", {}, 0};
    if (f.symmetry == 1) jou1a.runs.push_back({n, n * kRealBytes, "row of B_a (" + nn + " reals)"});
    files.push_back(jou1a);

    ExpectedFile jou2{f.filejou + ".jou2", "factorised systems", {}, 0};
    const std::vector<std::string> systems = f.symmetry == 1 ? std::vector<std::string>{"amat", "amata"}
                                                             : std::vector<std::string>{"amat"};
    for (const std::string& a : systems) {
        const std::string matrix = " (" + nn + " x " + nn + " reals)";
        if (f.infinvs > 0) {
            jou2.runs.push_back({1, n * n * kRealBytes, "LU factors of " + a + matrix});
            jou2.runs.push_back({1, n * kIntegerBytes, "pivots of " + a + " (" + nn + " integers)"});
        } else if (f.infinvs == 0) {
            jou2.runs.push_back({1, n * n * kRealBytes, "inverse of " + a + matrix});
        } else {
            jou2.runs.push_back({1, n * n * kRealBytes, "inverse of " + a + " times its right-hand side" + matrix});
        }
    }
    const std::vector<std::string> filters = filter_file_names(f);
    if (f.b_filter) {
        const auto k = static_cast<std::int64_t>(filters.size());
        jou2.runs.push_back({1, kIntegerBytes, "number of filter files"});
        jou2.runs.push_back({1, k * kFileNameBytes, "filter file names (" + std::to_string(k) + " x 200 characters)"});
    }
    files.push_back(jou2);

    files.push_back({f.filejou + ".jou3", "basis flow", {{1, 7 * n * kRealBytes, "phi u v w ux vy weight of " + nn + " panels"}}, 0});

    ExpectedFile jou4{f.filejou + ".jou4", "velocity records", {}, 0};
    if (f.ifsbc == 3) {
        jou4.role = "basis-flow mode derivatives";
        for (int m : modes_with_records(f.mode_count))
            jou4.runs.push_back({1, 3 * n * kRealBytes, "derivatives along mode " + std::to_string(m) + " (3 x " + nn + " reals)"});
    } else if (f.sea_depth != 0.0f) {
        const std::int64_t width = f.symmetry == 1 ? 6 : 3;
        const std::int64_t count = velocity_field_points(f) * velocity_panel_count(f);
        if (count > 0)
            jou4.runs.push_back({count, width * kRealBytes, "velocity record (" + std::to_string(width) + " reals)"});
    }
    files.push_back(jou4);

    if (f.b_filter) {
        std::size_t k = 0;
        for (std::size_t s = 0; s < f.sheets.size(); ++s) {
            if (f.sheets[s].kp != 3) continue;
            const std::int64_t order = f.sheets[s].np;
            ExpectedFile filter{filters[k++], "B-spline filter of sheet " + std::to_string(s + 1), {}, static_cast<int>(s + 1)};
            filter.runs.push_back({3, kIntegerBytes, "type, order, entry count"});
            filter.runs.push_back({order, order * kRealBytes, "column of the filter matrix (" + std::to_string(order) + " reals)"});
            files.push_back(filter);
        }
    }
    return files;
}

[[nodiscard]] inline std::int64_t expected_record_count(const ExpectedFile& file)
{
    std::int64_t count = 0;
    for (const ExpectedRun& r : file.runs) count += r.count;
    return count;
}

// The facts of a model read by the mesh readers (not mirrored) and its run parameters.
[[nodiscard]] RunFacts run_facts(const PanelModel& model, const RunParameters& params);

// Bytes a record of `length` bytes takes in a file: its data and a 4-byte count before and
// after each subrecord (a record longer than the largest subrecord is split).
[[nodiscard]] std::int64_t framed_record_bytes(std::int64_t length);

// Bytes of the whole file.
[[nodiscard]] std::int64_t expected_file_bytes(const ExpectedFile& file);

}  // namespace torva
