// get_namelist end to end on real files through the unit table: the log lines, the derived
// values and the echo file beside the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "input/get_namelist.hpp"
#include "input/namelist_test_support.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using input_testing::fresh_parameters;
using input_testing::same_parameters;
using torva::testing::TempDir;

constexpr int kLogUnit = 16;

struct Outcome {
    bool stopped = false;
    std::vector<std::string> stop_lines, log_lines;
    std::string echo;
};

// Writes `input` to run.inp, opens it on unit 5 and setup_nml.log on unit 16 as the driver
// does, and runs get_namelist.
Outcome run_get_namelist(const std::string& input, RunParameters& params, bool remove_input = false,
                         bool block_echo = false)
{
    TempDir dir("get_namelist");
    const std::string in = dir.file("run.inp"), log = dir.file("setup_nml.log");
    std::ofstream(in, std::ios::binary) << input;
    if (block_echo) std::filesystem::create_directory(log + "2");
    OpenOptions old, replace;
    old.status = "OLD";
    replace.status = "REPLACE";
    EXPECT_EQ(units().open(kInputUnit, in, old), kIostatOk);
    if (remove_input) std::filesystem::remove(in);
    EXPECT_EQ(units().open(kLogUnit, log, replace), kIostatOk);
    Outcome outcome;
    int input_unit = kInputUnit, log_unit = kLogUnit;
    try {
        get_namelist(input_unit, log_unit, params);
        EXPECT_FALSE(units().is_open(kInputUnit));
    } catch (const RunStopped& stop) {
        outcome.stopped = true;
        outcome.stop_lines = stop.lines;
        EXPECT_EQ(stop.status, 0);
    }
    units().close(kInputUnit);
    units().close(kLogUnit);
    outcome.log_lines = torva::testing::read_lines(log);
    EXPECT_EQ(outcome.log_lines.at(0), " Reading namelist data from: " + in);
    if (!block_echo) outcome.echo = torva::testing::read_text(log + "2");
    return outcome;
}

TEST(get_namelist, defaults_derived_values_and_an_echo_that_reads_back)
{
    auto p = fresh_parameters();
    p->ALENGTH = 50.0f;   // whatever the caller held is replaced by the defaults
    const Outcome outcome = run_get_namelist("&TORVA_INP\n DETFRC = 'ship'\n SPEEDX = 5.0\n/\n", *p);
    ASSERT_FALSE(outcome.stopped);
    ASSERT_EQ(outcome.log_lines.size(), 1u);
    // The defaults with the derived values: the speeds follow SPEEDX, the rudder point the
    // motion centre, ILIN = 0 clears IBERNOULLI = 1, DETFRC names the force file.
    auto expected = fresh_parameters();
    expected->DETFRC = fixed_text("ship", 200);
    expected->FILEFRC = fixed_text("ship_total.frc", 200);
    expected->SPEEDX = expected->REFSPEEDX = expected->UVRSLAM = 5.0f;
    expected->XMTN_RUD = expected->YMTN_RUD = expected->ZMTN_RUD = 0.0f;
    expected->IBERNOULLI = 0;
    EXPECT_TRUE(same_parameters(*expected, *p));
    auto echoed = fresh_parameters();
    const NamelistStatus status = input_testing::read_text(outcome.echo, *echoed);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_TRUE(same_parameters(*p, *echoed));
    EXPECT_NE(outcome.echo.find("\n FILEFRC = 'ship_total.frc'\n"), std::string::npos);
}

// The stops of the reader itself are the corpus's (its whole runs check the log lines).
TEST(get_namelist, a_vanished_input_stops_without_an_echo_and_an_unwritable_echo_is_no_stop)
{
    auto p = fresh_parameters();
    const Outcome missing = run_get_namelist("&TORVA_INP\n/\n", *p, /*remove_input=*/true);
    ASSERT_TRUE(missing.stopped);
    EXPECT_EQ(missing.stop_lines.at(0), "[get_namelist]");
    EXPECT_TRUE(torva::testing::matches("ERROR: The input file *run.inp does not exist!!!", missing.stop_lines.at(1)));
    EXPECT_EQ(missing.log_lines.at(2), " " + missing.stop_lines.at(1));
    EXPECT_TRUE(missing.echo.empty());
    EXPECT_FALSE(run_get_namelist("&TORVA_INP\n FILEJOU = 'j'\n/\n", *p, false, true).stopped);
}

}  // namespace
}  // namespace torva
