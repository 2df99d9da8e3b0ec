// Entry point: builds the frame's command string, starts the frame, runs the setup, and ends
// through VekExit: status 0 after a completed run and after every "ERROR:" stop, 1 when the
// frame could not open the listing or the input file.
#include <csignal>
#include <iostream>
#include <span>
#include <string>

#include "driver/setup_driver.hpp"
#include "linalg/dense_linear_algebra.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "frame/usage.hpp"
#include "frame/vekmain.hpp"

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
    try {
        const std::string command =
            torva::frame_command_string(torva::kProgramTag, std::span<const char* const>(argv, static_cast<std::size_t>(argc)));
        torva::Vekmain(0, torva::kProgramTag, command);
        torva::run_setup();
    } catch (const torva::RunStopped& stop) {
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
    torva::VekExit(status);
}
