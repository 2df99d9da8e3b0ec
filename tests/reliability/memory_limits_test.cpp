// A mesh too large for the machine must stop with a message that gives what is needed and
// what there is, never be killed by the system for taking more than it can have.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "frame/allocation.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

// A flat NP1 x NP2 sheet in z = -1 (kind 2, flag 1): cheap to read, with regular panels.
std::string plate(int np1, int np2)
{
    std::string text = "Version 2.0\nplate\n0 N\n1\n0 0 0 0 0 0\nF\n" + std::to_string(np1) + " " +
                       std::to_string(np2) + " 2 1\n";
    char line[64];
    for (int b = 0; b <= np2; ++b)
        for (int a = 0; a <= np1; ++a) {
            std::snprintf(line, sizeof line, "%d %d -1\n", a, b);
            text += line;
        }
    return text;
}

// Runs torva_setup on a side x side plate behind `limit` (shell commands ending in "&& ", or
// nothing) and expects the listing to hold an ERROR stop that names the bytes needed and the
// bytes available.
void expect_stop_with_both_numbers(int side, const std::string& limit)
{
    TempDir dir("plate");
    write_text(dir.file("plate.ssg"), plate(side, side));
    write_text(dir.file("run.inp"), "&TORVA_INP\n FILE_SSG = 'plate.ssg'\n FILEJOU = 'j'\n/\n");
    const FortranRun run = run_command("cd " + shell_quote(dir.path().string()) + " && " + limit +
                                       shell_quote(built_program("torva_setup")) + " /INPUT=run");
    EXPECT_EQ(run.exit_code, 0) << run.output;
    const auto listing = lines_of(read_bytes(dir.file("run.LIS")));
    EXPECT_EQ(find_in_order({"ERROR: *"}, listing), "") << show(listing) << run.output;
    EXPECT_EQ(find_in_order({"*need* bytes*available*"}, listing), "") << show(listing);
}

TEST(memory_limits, allocation_refused_by_an_address_space_limit_stops_with_both_numbers)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves its shadow memory beyond any address-space limit";
#else
    // ulimit -v 1500000 (KiB, about 1.4 GiB): the machine has the memory, so the check before
    // the allocation passes, and the allocation itself fails.  A 140 x 140 plate has 20164
    // panels: its 1.6 GB system matrix exceeds the limit.
    expect_stop_with_both_numbers(140, "ulimit -v 1500000 && ");
#endif
}

// A matrix still being written behind the run is memory about to come back: a request
// beyond what the machine has waits for that write before it stops the run, and the
// write is whole by then.
TEST(memory_limits, a_refused_request_first_waits_for_the_writes_behind_the_run)
{
    TempDir dir("behind");
    OpenOptions o;
    o.status = "REPLACE";
    o.form = FileForm::unformatted;
    constexpr int kUnit = 77;
    ASSERT_EQ(units().open(kUnit, dir.file("m.jou"), o), 0);
    std::atomic<bool> written{false};
    units().write_behind(kUnit, [&written, data = std::vector<float>(1 << 20, 1.0f)](UnitTable::RecordSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sink.write(bytes_of(data));
        written = true;
    });
    EXPECT_THROW(check_memory_or_stop(std::uint64_t{1} << 62, {"ERROR: too much"}), RunStopped);
    EXPECT_TRUE(written.load()) << "the stop came before the write behind ended";
    units().close(kUnit);
    EXPECT_EQ(std::filesystem::file_size(dir.file("m.jou")), (std::size_t{1} << 22) + 8);
}

}  // namespace
}  // namespace torva
