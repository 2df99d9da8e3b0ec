// What a run will need before it starts: the bytes of every journal and filter file, the
// peak memory, and a time measured on this machine.
//
// File sizes come from the record layout (driver/journal_layout.hpp): each record of L bytes
// takes L + 8 bytes per subrecord.  They are exact.
//
// Peak memory is the memory resident when the calibration ends (the program, its libraries
// and their buffers, the panel model; the model's own size when that is not known) plus the
// largest of the phases that follow it, counted
// from the arrays each phase holds at once (4-byte elements, N padded panels, k = 2 systems
// for a half hull with symmetry 1, else 1; T threads):
//   boundary integrals by rows (INFORDER 1)   k N^2 + 2 x 32 N (2k) + 96 N T
//     with INFINVS < 0 at the factorisation   (k + 2) N^2      (the product and its packed copy)
//   boundary integrals by panels              2k N^2 + 64 N max(32, 2T) (x2 with bottom images)
//     with INFINVS < 0 at the factorisation   (2k + 2) N^2
//   basis flow                                8 N' + M'^2 + 5 M'   (N' = 2N, M' = 2M when mirrored;
//                                                                   M the interior body panels)
//   B-spline filter of a sheet of n = NP'      n^2 + 2 n c        (c coarse functions)
// It is an estimate within some per cent: small work arrays are left out.
//
// Time is the sum of
//   assembly       the rows (INFORDER 1) or panels of influence integrals, timed on this mesh;
//   factorisation  (2/3) N^3 per system for sgetrf, + (4/3) N^3 for sgetri (INFINVS <= 0),
//                  + 2 N^3 for the product (INFINVS < 0), at the rate of a timed sgetrf;
//   basis flow     (2/3) M'^3 at that rate and M' (M' + N) influence pairs;
//   filters        6 n^2 c per sheet (QR of the n x c prolongation applied to n columns, and
//                  the product), at the rate of a timed filter of 24 x 24 panels, the LU rate
//                  when the run makes none.
// The writing of the files is not in it.  Times are measured as processor time and shared out
// over the threads, so they say what the run takes on an idle machine: on a shared one the
// other programs' share comes on top.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/journal_layout.hpp"
#include "input/run_parameters.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

struct Calibration {
    double seconds_per_flop = 0;    // time of sgetrf per floating-point operation, all threads
    double seconds_per_pair = 0;    // time of one panel's influence at one point, all threads
    double seconds_per_filter_flop = 0;   // of a timed filter, per 6 n^2 c (0: none timed)
    int lu_order = 0;               // the order timed
    int rows_timed = 0;             // rows (or panels) of influence integrals timed
    std::int64_t resident_bytes = 0;   // the process's resident memory after the timing: the
                                       // libraries, their buffers and the panel model
};

// Times an sgetrf and a few rows (INFORDER 1) or panels (otherwise) of the influence
// integrals of `model` with the routines the run will use, spending about `budget_seconds`.
// `model` must have its panel geometry.  Influence warnings, if any, go to `listing_unit`.
[[nodiscard]] Calibration calibrate_machine(const PanelModel& model, const RunParameters& params, int listing_unit,
                                            double budget_seconds = 0.3);

struct FileEstimate {
    std::string name;
    std::string role;
    std::int64_t bytes = 0;
};

struct RunEstimate {
    std::int64_t n = 0;             // padded panels
    std::int64_t interior = 0;
    std::int64_t model_bytes = 0;
    std::int64_t peak_memory_bytes = 0;
    Calibration calibration;
    std::vector<FileEstimate> files;   // every journal and filter file, .jou1a also when empty
    std::int64_t file_bytes = 0;       // all together
    std::int64_t peak_file_bytes = 0;  // the most they hold at once during the run: with IFSBC 3
                                       // the basis flow rewinds .jou4 and writes less than the
                                       // velocity records it replaces
    double assembly_seconds = 0, factorisation_seconds = 0, basis_flow_seconds = 0, filter_seconds = 0;
    [[nodiscard]] double total_seconds() const noexcept
    {
        return assembly_seconds + factorisation_seconds + basis_flow_seconds + filter_seconds;
    }
};

// The estimate from the layout facts; `threads` is the OpenMP team the run will use.
[[nodiscard]] RunEstimate estimate_run(const RunFacts& facts, int h1, int h2, int threads,
                                       const Calibration& calibration);

// Free bytes for an unprivileged writer on the file system holding `directory` (statvfs),
// -1 when it cannot be asked.
[[nodiscard]] std::int64_t free_space_bytes(const std::string& directory);
using FreeSpaceQuery = std::function<std::int64_t(const std::string& directory)>;

struct SpaceCheck {
    std::string directory;          // where the journal files go
    std::int64_t free_bytes = -1;   // -1: unknown
    std::int64_t reused_bytes = 0;  // files of the same names already there (they are replaced)
    [[nodiscard]] bool known() const noexcept { return free_bytes >= 0; }
};
[[nodiscard]] SpaceCheck journal_space(const RunEstimate& estimate, const std::string& filejou,
                                       const FreeSpaceQuery& query = free_space_bytes);
[[nodiscard]] bool journals_fit(const RunEstimate& estimate, const SpaceCheck& space) noexcept;

// The estimate as text lines, without leading blanks: N, the peak memory against
// `available_memory` (-1 unknown), every file, the total against the free space, the time.
[[nodiscard]] std::vector<std::string> estimate_lines(const RunEstimate& estimate, const SpaceCheck& space,
                                                      std::int64_t available_memory);

// "1,234,567": digits in groups of three.
[[nodiscard]] std::string with_thousands(std::int64_t v);
// "1,234,567 bytes (1.2 MiB)".
[[nodiscard]] std::string byte_text(std::int64_t bytes);

}  // namespace torva
