// Entry point: builds the frame's command string, starts the frame, runs the setup, and ends
// through VekExit: status 0 after a completed run and after every "ERROR:" stop, 1 when the
// frame could not open the listing or the run-parameter file (2 after an "ERROR:" stop with
// the option /ERROR-EXIT).
#include <algorithm>
#include <csignal>
#include <iostream>
#include <span>
#include <string>

#include "driver/setup_driver.hpp"
#include "frame/command_line.hpp"
#include "frame/list_directed.hpp"
#include "linalg/dense_linear_algebra.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "frame/usage.hpp"
#include "frame/vekmain.hpp"

namespace {

// Every stop leaves its reason as the listing's last line, beginning "ERROR:": a batch user
// reads that line.  Most stops write such a line there themselves; a stop whose message went
// to another file (the parameter reader's log, the small solver's unit) or ended otherwise
// gets a closing line that repeats it and says where the whole message is.
void close_listing_with_reason(const torva::RunStopped& stop)
{
    using torva::trimmed;
    using torva::units;
    if (!units().is_open(torva::kListingUnit)) return;
    if (stop.unit == torva::kListingUnit && !stop.lines.empty() && stop.lines.back().starts_with("ERROR:")) return;
    std::string reason;
    for (const std::string& text : stop.lines) {
        const std::string line = trimmed(text.substr(std::min(text.find_first_not_of(' '), text.size())));
        if (line.empty() || line.front() == '[') continue;    // the routine's name in brackets
        if (reason.empty()) reason = line.starts_with("ERROR:") ? line : "ERROR: the run stopped: " + line;
        else reason += (reason.back() == ':' ? " " : ": ") + line;
    }
    if (reason.empty()) reason = "ERROR: the run stopped";
    const std::string where = units().name_of(stop.unit);
    if (stop.unit != torva::kListingUnit && !where.empty()) reason += " (see " + where + ")";
    try {
        units().write_line(torva::kListingUnit, " " + reason);
        units().flush(torva::kListingUnit);
    } catch (const torva::IoError&) {
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // --help and --version are answered before the frame's parser sees the command line.
    if (torva::answer_usage_request(argc, argv, torva::setup_program_identity(), std::cout)) return 0;
    // Under a file-size limit (ulimit -f) the system kills a process that writes past it
    // with SIGXFSZ, before it can say which file failed.  Ignored, the write fails with
    // EFBIG instead, and the unit layer reports it as an "ERROR:" line naming the file.
    std::signal(SIGXFSZ, SIG_IGN);
    torva::settle_blas_threads();
    int status = 0;
    bool stopped = true;
    try {
        const std::string command =
            torva::frame_command_string(torva::kProgramTag, std::span<const char* const>(argv, static_cast<std::size_t>(argc)));
        torva::Vekmain(0, torva::kProgramTag, command);
        torva::run_setup();
        stopped = false;
    } catch (const torva::RunStopped& stop) {
        close_listing_with_reason(stop);
        status = stop.status;
    } catch (const torva::IoError& e) {
        // A failed write or read of a unit: the file and the system's reason, on the listing
        // when it still works, and on stderr in any case.
        try {
            torva::stop_run({std::string("ERROR: ") + e.what()});
        } catch (const torva::RunStopped& stop) {
            status = stop.status;
        }
    } catch (const std::exception& e) {
        try {
            torva::stop_run({std::string("ERROR: internal failure: ") + e.what()});
        } catch (const torva::RunStopped& stop) {
            status = stop.status;
        }
    }
    // Opt-in: /ERROR-EXIT makes an "ERROR:" stop end with status 2 instead of 0, for scripts
    // that judge a run by its status.  Without it every such stop ends with 0.
    if (status == 0 && stopped && torva::command_line().is_present("ERROR-EXIT") == 1) status = 2;
    torva::VekExit(status);
}
