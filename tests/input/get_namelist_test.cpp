// get_namelist end to end on real files through the unit table: the log lines, the error
// search's line number and text, the derived values and the echo file beside the log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "input/get_namelist.hpp"
#include "input/namelist_test_support.hpp"
#include "support/run_program.hpp"

namespace torva {
namespace {

using input_testing::fresh_parameters;
using input_testing::read_text;
using input_testing::same_parameters;
using input_testing::WorkingDirectory;
using torva::testing::TempDir;

constexpr int kLogUnit = 16;

struct Outcome {
    bool stopped = false;
    int status = -1;
    std::vector<std::string> stop_lines;
    std::vector<std::string> log_lines;
    bool input_still_open = false;
};

// Writes `input` to dir/run.inp, opens it on unit 5 and dir/setup_nml.log on unit 16 as the
// driver does, runs get_namelist in `dir`, and closes what is left open.
class GetNamelistRun {
public:
    GetNamelistRun() : dir_("get_namelist"), cwd_(dir_.path()) {}
    ~GetNamelistRun()
    {
        units().close(kInputUnit);
        units().close(kLogUnit);
    }

    std::string input_path() const { return dir_.file("run.inp"); }
    std::string log_path() const { return dir_.file("setup_nml.log"); }
    std::string echo_path() const { return log_path() + "2"; }
    const TempDir& dir() const { return dir_; }

    Outcome run(const std::string& input, RunParameters& params, bool remove_input = false)
    {
        std::ofstream(input_path(), std::ios::binary) << input;
        OpenOptions old;
        old.status = "OLD";
        old.read_only = true;
        EXPECT_EQ(units().open(kInputUnit, input_path(), old), kIostatOk);
        if (remove_input) std::filesystem::remove(input_path());
        OpenOptions replace;
        replace.status = "REPLACE";
        EXPECT_EQ(units().open(kLogUnit, log_path(), replace), kIostatOk);

        Outcome outcome;
        int input_unit = kInputUnit;
        int log_unit = kLogUnit;
        try {
            get_namelist(input_unit, log_unit, params);
        } catch (const RunStopped& stop) {
            outcome.stopped = true;
            outcome.status = stop.status;
            outcome.stop_lines = stop.lines;
        }
        outcome.input_still_open = units().is_open(kInputUnit);
        EXPECT_TRUE(units().is_open(kLogUnit)) << "the log unit belongs to the caller";
        units().close(kLogUnit);
        outcome.log_lines = torva::testing::read_lines(log_path());
        return outcome;
    }

private:
    TempDir dir_;
    WorkingDirectory cwd_;
};

TEST(get_namelist, group_and_slash_alone_give_the_defaults_and_a_complete_echo)
{
    GetNamelistRun run;
    auto p = fresh_parameters();
    p->ALENGTH = 50.0f;   // whatever the caller held is replaced by the defaults
    const Outcome outcome = run.run("&TORVA_INP\n/\n", *p);
    ASSERT_FALSE(outcome.stopped) << (outcome.stop_lines.empty() ? "" : outcome.stop_lines.back());
    EXPECT_FALSE(outcome.input_still_open);
    ASSERT_EQ(outcome.log_lines.size(), 1u);
    EXPECT_EQ(outcome.log_lines[0], " Reading namelist data from: " + run.input_path());

    // The defaults with the derived values of an empty file: the speeds follow SPEEDX = 0,
    // the rudder point follows the motion centre, and ILIN = 0 clears IBERNOULLI = 1.
    auto expected = fresh_parameters();
    expected->REFSPEEDX = 0.0f;
    expected->UVRSLAM = 0.0f;
    expected->XMTN_RUD = expected->YMTN_RUD = expected->ZMTN_RUD = 0.0f;
    expected->IBERNOULLI = 0;
    EXPECT_TRUE(same_parameters(*expected, *p));

    ASSERT_TRUE(std::filesystem::exists(run.echo_path()));
    auto echoed = fresh_parameters();
    const NamelistStatus status = read_text(torva::testing::read_text(run.echo_path()), *echoed);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_TRUE(same_parameters(*p, *echoed));
    EXPECT_FALSE(std::filesystem::exists(run.dir().file(kNamelistScratchName)));
}

TEST(get_namelist, unknown_key_on_the_fifth_line_stops_with_k_5_and_that_line)
{
    GetNamelistRun run;
    auto p = fresh_parameters();
    const Outcome outcome = run.run(
        "! ship run\n&TORVA_INP\n ALENGTH = 120.0\n FILE_SSG = 'hull.ssg'\n SPEED_X = 5.0   \n FILEJOU = 'ship'\n/\n", *p);
    ASSERT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.status, 0);
    const std::vector<std::string> expected = {"[get_namelist]",
                                               "ERROR: An error condition occured during reading line 5",
                                               " SPEED_X = 5.0"};
    EXPECT_EQ(outcome.stop_lines, expected);
    ASSERT_EQ(outcome.log_lines.size(), 4u);
    EXPECT_EQ(outcome.log_lines[1], " [get_namelist]");
    EXPECT_EQ(outcome.log_lines[2], " ERROR: An error condition occured during reading line 5");
    EXPECT_EQ(outcome.log_lines[3], "  SPEED_X = 5.0");
    // The scratch file of the search is gone and no echo was written.
    EXPECT_FALSE(std::filesystem::exists(run.dir().file(kNamelistScratchName)));
    EXPECT_FALSE(std::filesystem::exists(run.echo_path()));
}

TEST(get_namelist, every_malformed_input_is_reported_at_its_line)
{
    struct Case { const char* what; std::string text; int line; std::string shown; };
    // The whole program's log shows the corpus faults (tests/corpus/namelist); these add a value
    // fault on the last item line, faults before the group after other lines, binary text, and
    // long or split lines before the fault.
    const std::vector<Case> cases = {
        {"misspelled value on the last item line", "&TORVA_INP\n ALENGTH = 120.0,\n INFORDER = 1\n SEA_DEPTH = 2O.0\n/\n",
         4, " SEA_DEPTH = 2O.0"},
        {"wrong group after a comment", "! deck\n&TORVA_IN\n/\n", 2, "&TORVA_IN"},
        {"text before group after blank lines", "\n\nship run 7\n&TORVA_INP\n/\n", 3, "ship run 7"},
        {"binary garbage", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), 1, "\x89PNG"},
        // A long correct line before the fault: copied whole, so it does not fail the search.
        {"long line before the fault",
         "&TORVA_INP\n FILE_SHAPE = '" + std::string(195, 'a') + "', '" + std::string(195, 'b') +
             "'\n ICOMP = 1 2 3 4\n/\n", 3, " ICOMP = 1 2 3 4"},
        // A faulty long line is shown by its first 200 characters.
        {"long faulty line", "&TORVA_INP\n TITLEVTF = '" + std::string(190, 'c') + "'\n/\n", 2,
         " TITLEVTF = '" + std::string(187, 'c')},
        // A key split from its "=" reads as a whole, but its prefix does not: the search
        // reports the key's line.
        {"split item before the fault", "&TORVA_INP\n SPEEDX\n = 5.0\n NOKEY = 1\n/\n", 2, " SPEEDX"},
    };
    for (const Case& c : cases) {
        GetNamelistRun run;
        auto p = fresh_parameters();
        const Outcome outcome = run.run(c.text, *p);
        ASSERT_TRUE(outcome.stopped) << c.what;
        ASSERT_EQ(outcome.stop_lines.size(), 3u) << c.what;
        EXPECT_EQ(outcome.stop_lines[1], "ERROR: An error condition occured during reading line " + std::to_string(c.line))
            << c.what;
        EXPECT_EQ(outcome.stop_lines[2], c.shown) << c.what;
        EXPECT_FALSE(std::filesystem::exists(run.dir().file(kNamelistScratchName))) << c.what;
    }
}

TEST(get_namelist, ends_of_file_that_every_prefix_survives_stop_with_their_own_message)
{
    struct Case { const char* what; std::string text; std::string message_part; };
    const std::vector<Case> cases = {
        {"no closing slash", "&TORVA_INP\n ALENGTH = 2.0\n", "ends without its closing /"},
        {"empty file", "", "holds no namelist group &TORVA_INP"},
        {"only comments", "! nothing\n\n", "holds no namelist group &TORVA_INP"},
    };
    for (const Case& c : cases) {
        GetNamelistRun run;
        auto p = fresh_parameters();
        const Outcome outcome = run.run(c.text, *p);
        ASSERT_TRUE(outcome.stopped) << c.what;
        ASSERT_EQ(outcome.stop_lines.size(), 2u) << c.what;
        EXPECT_EQ(outcome.stop_lines[0], "[get_namelist]");
        EXPECT_EQ(outcome.stop_lines[1].rfind("ERROR: ", 0), 0u) << c.what;
        EXPECT_NE(outcome.stop_lines[1].find(c.message_part), std::string::npos) << outcome.stop_lines[1];
        EXPECT_NE(outcome.stop_lines[1].find(run.input_path()), std::string::npos) << outcome.stop_lines[1];
        EXPECT_FALSE(std::filesystem::exists(run.dir().file(kNamelistScratchName))) << c.what;
    }
}

TEST(get_namelist, missing_input_file_stops_before_reading)
{
    GetNamelistRun run;
    auto p = fresh_parameters();
    const Outcome outcome = run.run("&TORVA_INP\n/\n", *p, /*remove_input=*/true);
    ASSERT_TRUE(outcome.stopped);
    const std::vector<std::string> expected = {"[get_namelist]",
                                               "ERROR: The input file " + run.input_path() + " does not exist!!!"};
    EXPECT_EQ(outcome.stop_lines, expected);
    ASSERT_EQ(outcome.log_lines.size(), 3u);
    EXPECT_EQ(outcome.log_lines[0], " Reading namelist data from: " + run.input_path());
}

TEST(get_namelist, echo_holds_the_derived_values)
{
    GetNamelistRun run;
    auto p = fresh_parameters();
    const Outcome outcome = run.run(
        "&TORVA_INP\n DETFRC = 'ship'\n SPEEDX = 5.0\n ISPLINE(0) = 0\n ILIN = 1, GEOPRESS = T\n/\n", *p);
    ASSERT_FALSE(outcome.stopped);
    const std::string echo = torva::testing::read_text(run.echo_path());
    EXPECT_NE(echo.find("\n FILEFRC = 'ship_total.frc'\n"), std::string::npos);
    EXPECT_NE(echo.find("\n REFSPEEDX = 5.0\n"), std::string::npos);
    EXPECT_NE(echo.find("\n ISPLINE = 0, 1\n"), std::string::npos);
    EXPECT_NE(echo.find("\n GEOPRESS = T\n"), std::string::npos);
    EXPECT_EQ(p->ISPLINE[0], 0);

    GetNamelistRun second;
    auto q = fresh_parameters();
    ASSERT_FALSE(second.run("&TORVA_INP\n SPEEDX = 5.0, REFSPEEDX = 0.0\n/\n", *q).stopped);
    EXPECT_EQ(q->REFSPEEDX, 0.0f);
    EXPECT_NE(torva::testing::read_text(second.echo_path()).find("\n REFSPEEDX = 0.0\n"), std::string::npos);
}

TEST(get_namelist, echo_that_cannot_be_written_is_not_reported)
{
    GetNamelistRun run;
    std::filesystem::create_directory(run.echo_path());   // a directory where the file would go
    auto p = fresh_parameters();
    const Outcome outcome = run.run("&TORVA_INP\n ALENGTH = 3.0\n/\n", *p);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(p->ALENGTH, 3.0f);
    EXPECT_EQ(outcome.log_lines.size(), 1u);
}

}  // namespace
}  // namespace torva
