// The one way out of a failed run.
//
// A routine that must stop the run calls stop_run with its message lines.  The lines are
// written list-directed (one leading blank) to the listing unit, echoed to stderr (the
// listing may be a file nobody watches), the listing is flushed, and RunStopped is thrown.
// Only app/main catches it and ends the process through VekExit; tests catch it to read
// the message.
#pragma once

#include <string>
#include <vector>

namespace torva {

struct RunStopped {
    int status = 0;                        // process exit status (0 for every ERROR: stop)
    std::vector<std::string> lines;        // the message lines as written (without the blank)
    int unit = 6;                          // where they were (or are to be) written
    bool written = true;                   // false when raised inside a parallel region
};

inline constexpr int kListingUnit = 6;
inline constexpr int kInputUnit = 5;

// Writes `lines` to `unit` (list-directed), mirrors them on stderr, flushes, throws
// RunStopped{status}.  When `unit` is not open the lines still reach stderr.
// Inside an OpenMP parallel region nothing is written (units are not shared between
// threads): RunStopped carries written = false, and the code that leaves the region
// passes it to reraise_stop, which writes it from one thread.
[[noreturn]] void stop_run_on(int unit, std::vector<std::string> lines, int status = 0);

// The usual case: the message goes to the listing.
[[noreturn]] inline void stop_run(std::vector<std::string> lines, int status = 0)
{ stop_run_on(kListingUnit, std::move(lines), status); }

// Writes a stop raised inside a parallel region and throws it again; a stop already written
// is rethrown as it is.
[[noreturn]] void reraise_stop(const RunStopped& stop);

// Ends the run-time I/O (flush and close every unit) and the process with `status`.
[[noreturn]] void VekExit(int& status);

}  // namespace torva
