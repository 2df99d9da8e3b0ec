// The run sequence from the command line, judged by what a user finds in the run directory.
#include "driver/setup_driver.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "frame/list_directed.hpp"
#include "support/run_program.hpp"

namespace {

using namespace torva::testing;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A box barge of 2 x 1 sheets, enough for the mesh reader and the grid tables.
const char* kBoxMesh = R"(Version 2.0
Small box barge
0 N
1
0.0 0.0 0.0 0.0 0.0 0.0
F
2 2 2 1
0.0 -0.5 -1.0
1.0 -0.5 -1.0
2.0 -0.5 -1.0
0.0  0.0 -1.0
1.0  0.0 -1.0
2.0  0.0 -1.0
0.0  0.5 -1.0
1.0  0.5 -1.0
2.0  0.5 -1.0
)";

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
    EXPECT_EQ(r.exit_code, 0) << r.output;   // an ERROR: stop ends with status 0
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
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], " ERROR: Unable to open mesh ssg file");
    EXPECT_EQ(lines.back(), " " + torva::fixed_text("hull.ssg", 200));
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

TEST_F(SetupRun, grid_tables_are_printed_and_new_journal_files_are_protected)
{
    write_text(dir.file("box.ssg"), kBoxMesh);
    write_text(dir.file("box.inp"), "&TORVA_INP\n FILE_SSG = 'box.ssg'\n FILEJOU = 'box'\n/\n");
    write_text(dir.file("box.jou1a"), "old results");
    const auto r = run("/INPUT=box.inp");
    EXPECT_EQ(r.exit_code, 0);
    const std::string lis = listing("box.inp.LIS");
    EXPECT_TRUE(contains(lis, "                    Name    :    Small box barge\n")) << lis;
    EXPECT_TRUE(contains(lis, "                    1       4       4      16       2       1\n")) << lis;
    EXPECT_TRUE(contains(lis, "Displacement        (L^3)  :   2.000E+00\n")) << lis;
    EXPECT_TRUE(contains(lis, "\n ERROR: Could not open jou-file\n")) << lis;
    EXPECT_TRUE(contains(r.output, "box.jou1a")) << r.output;   // stderr names the file and why
    EXPECT_EQ(read_text(dir.file("box.jou1a")), "old results");
}

// The thread counts change how fast a run goes, never what it writes: the shipped example
// (symmetric hull, free surface, filter) and a variant through the other paths (integrated
// basis-flow builder, mode derivatives, the inverse-times-B product) give the same bytes in
// every journal and filter file for OPENBLAS_NUM_THREADS 1, 2 or unset and OMP_NUM_THREADS
// 1 or 2 (the variant only at the two ends of that range, to keep the test short).
TEST(setup_threads, every_output_file_is_the_same_for_any_thread_counts)
{
    namespace fs = std::filesystem;
    const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/wigley/";
    const std::string shipped = read_text(example + "wigley.inp");
    std::string variant = shipped;
    variant.replace(variant.find(" SEA_DEPTH"), 0, " INFNMR = 0\n IFSBC = 3\n INFINVS = -1\n");
    const std::vector<std::string> every = {
        "OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=1", "OPENBLAS_NUM_THREADS=1 OMP_NUM_THREADS=2",
        "OPENBLAS_NUM_THREADS=2 OMP_NUM_THREADS=1", "OPENBLAS_NUM_THREADS=2 OMP_NUM_THREADS=2",
        "-u OPENBLAS_NUM_THREADS OMP_NUM_THREADS=1", "-u OPENBLAS_NUM_THREADS OMP_NUM_THREADS=2"};
    const std::vector<std::string> ends = {every.front(), every.back()};
    for (const auto& [deck, envs] : {std::pair{shipped, every}, std::pair{variant, ends}}) {
        std::map<std::string, std::string> first;
        std::string first_env;
        for (const std::string& env : envs) {
            TempDir dir("threads");
            for (const char* f : {"wigley_hull.ssg", "wigley_fs.ssg"})
                fs::copy_file(example + f, dir.file(f));
            write_text(dir.file("wigley.inp"), deck);
            const auto r = run_command("cd " + shell_quote(dir.path().string()) + " && env " + env + " " +
                                       shell_quote(built_program("torva_setup")) + " /INPUT=wigley.inp");
            ASSERT_TRUE(contains(r.output, "FINISHED: SUCCESS")) << r.output;
            std::map<std::string, std::string> files;
            for (const auto& entry : fs::directory_iterator(dir.path())) {
                const std::string name = entry.path().filename().string();
                if (name.rfind("wigley.jou", 0) == 0) files[name] = read_text(entry.path().string());
            }
            EXPECT_EQ(files.size(), 6u);   // .jou1, .jou1a, .jou2, .jou3, .jou4 and the filter's .jou05
            if (first.empty()) {
                first = files;
                first_env = env;
                continue;
            }
            for (const auto& [name, bytes] : files)
                EXPECT_TRUE(bytes == first[name]) << name << " differs between " << first_env << " and " << env;
        }
    }
}

TEST(kernel_count, images_reach_five_waterline_lengths)
{
    EXPECT_EQ(torva::kernel_count(1.0f, 2.0f), 10);
    EXPECT_EQ(torva::kernel_count(3.0f, 2.0f), 4);    // 3 * 4 = 12 >= 10
    EXPECT_EQ(torva::kernel_count(100.0f, 2.0f), 1);
}

}  // namespace
