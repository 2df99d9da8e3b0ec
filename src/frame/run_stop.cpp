#include "frame/run_stop.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "frame/progress.hpp"
#include "frame/units.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace torva {

void stop_run_on(int unit, std::vector<std::string> lines, int status)
{
#ifdef _OPENMP
    if (omp_in_parallel()) throw RunStopped{status, std::move(lines), unit, false};
#endif
    UnitTable& table = units();
    if (table.is_open(unit)) {
        try {
            for (const auto& line : lines) table.write_line(unit, " " + line);
            table.flush(unit);
        } catch (const IoError& e) {
            // The message must not be lost because its file failed: stderr still gets it.
            std::cerr << "torva_setup: " << e.what() << '\n';
        }
    }
    close_progress_line();   // never append the message to a half-drawn progress line
    for (const auto& line : lines) std::cerr << line << '\n';
    std::cerr.flush();
    throw RunStopped{status, std::move(lines), unit, true};
}

void reraise_stop(const RunStopped& stop)
{
    if (!stop.written) stop_run_on(stop.unit, stop.lines, stop.status);
    throw stop;
}

void VekExit(int& status)
{
    const int code = status;
    std::fflush(stdout);
    for (const auto& error : units().close_all()) std::cerr << "torva_setup: " << error << '\n';
    std::exit(code);
}

}  // namespace torva
