// The run sequence from the command line, judged by what a user finds in the run directory.
#include "driver/setup_driver.hpp"

#include <gtest/gtest.h>

#include "frame/list_directed.hpp"
#include "support/panel_models.hpp"
#include "support/run_program.hpp"

namespace {

using namespace torva::testing;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class SetupRun : public ::testing::Test {
protected:
    TempDir dir{"run"};
    std::string program = built_program("torva_setup");
    FortranRun run(const std::string& args) { return run_in(dir, program, args); }
    std::string listing(const std::string& name) { return read_text(dir.file(name)); }
};

TEST_F(SetupRun, no_input_option_uses_setup_and_reports_a_missing_rundata_file)
{
    const auto r = run("");
    EXPECT_EQ(r.exit_code, 1) << r.output;   // no run-parameter file: as the frame's own open failures
    const std::string lis = listing("setup.LIS");
    EXPECT_TRUE(contains(lis, "T O R V A _ S E T U P")) << lis;
    EXPECT_TRUE(contains(lis, "\n ERROR: Unable to open rundata file\n")) << lis;
    EXPECT_TRUE(contains(r.output, "ERROR: Unable to open rundata file")) << r.output;
}

TEST_F(SetupRun, input_name_falls_back_to_the_inp_extension_and_names_the_listing)
{
    write_text(dir.file("ship.inp"), "&TORVA_INP\n FILE_SSG = 'hull.ssg'\n FILEJOU = 'ship'\n/\n");
    const auto r = run("/INPUT=ship");
    EXPECT_EQ(r.exit_code, 0);
    const auto lines = read_lines(dir.file("ship.LIS"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], " ERROR: Unable to open mesh ssg file");
    EXPECT_EQ(lines[lines.size() - 2], " " + torva::fixed_text("hull.ssg", 200));
    EXPECT_EQ(lines.back(), " ERROR: Unable to open mesh ssg file: hull.ssg");   // the reason closes the listing
    EXPECT_TRUE(contains(listing("setup_nml.log"), "Reading namelist data from: ship.inp"));
    EXPECT_TRUE(contains(listing("setup_nml.log2"), "FILE_SSG = 'hull.ssg'"));
}

TEST_F(SetupRun, namelist_fault_is_reported_in_the_log_with_its_line)
{
    write_text(dir.file("bad.inp"), "&TORVA_INP\n FILE_SSG = 'hull.ssg'\n INFMETH = x3\n/\n");
    const auto r = run("/INPUT=bad.inp");
    EXPECT_EQ(r.exit_code, 0);
    const std::string log = listing("setup_nml.log");
    EXPECT_TRUE(contains(log, " [get_namelist]\n ERROR: An error condition occured during reading line 3\n"))
        << log;
    EXPECT_TRUE(contains(log, "INFMETH = x3")) << log;
}

// The grid tables on the listing of a real run: every length is printed in file units again
// (times ALENGTH), the volume with its cube, so the particulars are the closed forms of the
// box in file units: V = LBT = 16, S = LB + 2LT + 2BT = 36, VCB -T/2 from the waterline and
// T/2 from the keel.  A journal file that exists already is not overwritten.
TEST_F(SetupRun, grid_tables_are_printed_and_new_journal_files_are_protected)
{
    // A box barge L x B x T = 8 x 2 x 1 in file units, 4 x 2 x 1 panels, read with ALENGTH 2.
    write_text(dir.file("box.ssg"), mesh_text(box_barge(8.0, 2.0, 1.0, 4, 2, 1, false), 0, 1.0, "Small box barge"));
    write_text(dir.file("box.inp"), "&TORVA_INP\n FILE_SSG = 'box.ssg'\n FILEJOU = 'box'\n ALENGTH = 2.0\n/\n");
    write_text(dir.file("box.jou1a"), "old results");
    const auto r = run("/INPUT=box.inp");
    EXPECT_EQ(r.exit_code, 0);
    const std::string lis = listing("box.inp.LIS");
    const std::string rule = "         " + std::string(58, '-') + "\n";
    // Sheet 1, the bottom: 4 x 2 panels padded with one ring of ghosts, kind 2, flag 1.
    for (const std::string& line :
         {rule + "                              GRID INFORMATION\n" + "                    Name    :    Small box barge\n" +
              rule + "                Sheet#    NP1     NP2      NP      KP      MP\n" +
              "                    1       6       4      24       2       1\n",
          rule + "                            PRINCIPAL PARTICULARS\n" + rule +
              "                  Overall Length        (L)  :   8.000E+00\n" +
              "                  Waterline Length      (L)  :   8.000E+00\n" +
              "                  Waterline Beam        (L)  :   2.000E+00\n" +
              "                  Maximum Draft         (L)  :   1.000E+00\n" +
              "                  Displacement        (L^3)  :   1.600E+01\n" +
              "                  Wetted Surface Area (L^2)  :   3.600E+01\n",
          std::string("                  VCB (from origin)     (L)  :  -5.000E-01\n") +
              "                  VCB (from keel)       (L)  :   5.000E-01\n" + rule,
          std::string("\n ERROR: Could not open jou-file\n")})
        EXPECT_TRUE(contains(lis, line)) << "missing\n" << line << "in\n" << lis;
    EXPECT_TRUE(contains(r.output, "box.jou1a")) << r.output;   // stderr names the file and why
    EXPECT_EQ(read_text(dir.file("box.jou1a")), "old results");
}

TEST(kernel_count, images_reach_five_waterline_lengths)
{
    EXPECT_EQ(torva::kernel_count(1.0f, 2.0f), 10);
    EXPECT_EQ(torva::kernel_count(3.0f, 2.0f), 4);    // 3 * 4 = 12 >= 10
    EXPECT_EQ(torva::kernel_count(100.0f, 2.0f), 1);
}

}  // namespace
