// How whole runs end: every stop leaves its reason as the listing's last line, beginning
// "ERROR:", with the exit status the options ask for; sizes that would make a run hang are
// refused before any work; journal and filter files appear under their names only when the
// run succeeds.  One table, each row a run of the program on the corpus cube.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

const std::filesystem::path kCube = corpus_dir("mesh") / "valid_cube.ssg";

// The corpus cube (a sphere of radius 1 in six sheets, centre at depth 3) raised to pierce
// the water plane, so that it has a waterline of length 2, with its last sheet made a
// free-surface sheet, so that filters are built.
std::string piercing_cube()
{
    std::string out;
    int headers = 0;
    for (const std::string& line : lines_of(read_bytes(kCube))) {
        std::istringstream in(line);
        double x, y, z;
        std::string extra;
        char text[96];
        if (line.find('.') != std::string::npos && (in >> x >> y >> z) && !(in >> extra)) {
            std::snprintf(text, sizeof text, "%17.9E %17.9E %17.9E", x, y, z + 3.0);
            out += std::string(text) + "\n";
        } else if (line == "     2      2      2      1" && ++headers == 6) {
            out += "     2      2      3      1\n";
        } else {
            out += line + "\n";
        }
    }
    return out;
}
const char* const kJournals[] = {"j.jou1", "j.jou1a", "j.jou2", "j.jou3", "j.jou4"};

struct RunCase {
    const char* name;
    std::string deck;          // the TORVA_INP items besides FILE_SSG and FILEJOU
    std::string options;       // after /INPUT=run
    std::string last_line;     // pattern of the listing's last line
    int status;
    bool journals;             // the five journals under their final names afterwards
    const char* earlier = "";  // a file of an earlier run, j.jou3, that must survive
};

struct Outcome {
    FortranRun run;
    std::vector<std::string> listing;
};

Outcome run_case(const TempDir& dir, const RunCase& c)
{
    write_text(dir.file("cube.ssg"), piercing_cube());
    write_text(dir.file("run.inp"), "&TORVA_INP\n FILE_SSG = 'cube.ssg'\n FILEJOU = 'j'\n" + c.deck + "/\n");
    if (*c.earlier) write_text(dir.file("j.jou3"), c.earlier);
    const auto start = std::chrono::steady_clock::now();
    Outcome out{run_in(dir, "timeout", "10 " + shell_quote(built_program("torva_setup")) + " /INPUT=run " + c.options),
                lines_of(read_bytes(dir.file("run.LIS")))};
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
    return out;
}

TEST(run_stops, last_listing_line_status_and_journals_as_the_table_says)
{
    const std::string bad_key = " BOGUS = 1\n";
    const RunCase cases[] = {
        {"success", " B_FILTER = .TRUE.\n H1 = 2\n H2 = 2\n SEA_DEPTH = 2.0\n", "", "FINISHED: SUCCESS", 0, true},
        {"success with the opt-in status", "", "/ERROR-EXIT", "FINISHED: SUCCESS", 0, true},
        // A bottom-image count of millions (or an endless count) is refused before any work.
        {"tiny depth", " SEA_DEPTH = 1e-6\n", "",
         "ERROR: SEA_DEPTH = * is outside its limit: a depth that needs at most 1000 bottom images*", 0, false},
        {"depth near zero", " SEA_DEPTH = 1e-40\n", "",
         "ERROR: SEA_DEPTH = * is outside its limit: a depth that needs at most 1000 bottom images*", 0, false},
        {"images beyond memory", " N_KERNEL = 2147483647\n SEA_DEPTH = 10.0\n", "",
         "ERROR: N_KERNEL = 2147483647 is outside its limit: at most 1000 bottom images", 0, false},
        {"scale that overflows the mesh", " ALENGTH = 1e-39\n", "", "ERROR: ALENGTH = * is outside its limit*", 0, false},
        // Stops whose own message goes elsewhere close the listing with their reason.
        {"parameter fault", bad_key, "",
         "ERROR: An error condition occured during reading line 4: BOGUS = 1 (see setup_nml.log)", 0, false},
        {"parameter fault with the opt-in status", bad_key, "/ERROR-EXIT", "ERROR: An error condition *", 2, false},
        {"earlier journal and status new", "", "", "ERROR: j.jou3: File exists (FILESTATUS \"new\" protects*", 0,
         false, "earlier journal: must survive"},
        // A stop after the journals were written leaves none of them under its final name.
        {"stop in the filters", " B_FILTER = .TRUE.\n H1 = 99\n H2 = 2\n", "",
         "ERROR: The requested filter is not implemented*", 0, false},
        {"stop in the filters, opt-in status", " B_FILTER = .TRUE.\n H1 = 99\n H2 = 2\n", "/ERROR-EXIT",
         "ERROR: The requested filter is not implemented*", 2, false},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("runstop");
        const Outcome out = run_case(dir, c);
        EXPECT_EQ(out.run.exit_code, c.status) << out.run.output;
        ASSERT_FALSE(out.listing.empty()) << out.run.output;
        EXPECT_TRUE(matches(c.last_line, trim(out.listing.back()))) << show(out.listing);
        for (const char* journal : kJournals) {
            const bool earlier = *c.earlier && std::string(journal) == "j.jou3";
            EXPECT_EQ(std::filesystem::exists(dir.file(journal)), c.journals || earlier) << journal;
        }
        if (c.journals && c.deck.find("B_FILTER") != std::string::npos) {
            EXPECT_TRUE(std::filesystem::exists(dir.file("j.jou05")));
        }
        if (*c.earlier) {
            EXPECT_EQ(read_bytes(dir.file("j.jou3")), c.earlier);
        }
        for (const char* journal : kJournals) {
            EXPECT_FALSE(c.journals && std::filesystem::exists(dir.file(std::string(journal) + ".part"))) << journal;
        }
    }
}

TEST(run_stops, depth_zero_is_deep_water_and_writes_what_a_negative_depth_writes)
{
    std::string jou4[2];
    for (int k = 0; k < 2; ++k) {
        TempDir dir("depth0");
        const Outcome out = run_case(dir, {"depth", k ? " SEA_DEPTH = 0.0\n" : " SEA_DEPTH = -1.0\n", "",
                                           "FINISHED: SUCCESS", 0, true});
        ASSERT_EQ(trim(out.listing.back()), "FINISHED: SUCCESS") << out.run.output;
        jou4[k] = read_bytes(dir.file("j.jou4"));
    }
    EXPECT_FALSE(jou4[0].empty());
    EXPECT_TRUE(jou4[0] == jou4[1]) << "depth 0 wrote " << jou4[1].size() << " bytes, deep water " << jou4[0].size();
}

TEST(run_stops, missing_parameter_file_ends_with_status_1)
{
    TempDir dir("noinput");
    const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=nosuch");
    EXPECT_EQ(run.exit_code, 1) << run.output;
    EXPECT_EQ(trim(lines_of(read_bytes(dir.file("nosuch.LIS"))).back()), "ERROR: Unable to open rundata file");
}

TEST(run_stops, killed_run_shows_its_phase_and_leaves_no_finished_journal)
{
    // A plate of 3,600 panels: the system assembly takes seconds, long enough to be killed in.
    TempDir dir("killed");
    std::string mesh = "Version 2.0\nplate\n0 N\n1\n0 0 0 0 0 0\nF\n60 60 2 1\n";
    for (int b = 0; b <= 60; ++b)
        for (int a = 0; a <= 60; ++a) mesh += std::to_string(a) + " " + std::to_string(b) + " -1\n";
    write_text(dir.file("plate.ssg"), mesh);
    write_text(dir.file("run.inp"), "&TORVA_INP\n FILE_SSG = 'plate.ssg'\n FILEJOU = 'j'\n/\n");
    // Killed once its progress on stderr shows the assembly began (or after 8 s).
    const FortranRun run = run_command(
        "cd " + shell_quote(dir.path().string()) + " && (" + shell_quote(built_program("torva_setup")) +
        " /INPUT=run 2>progress.txt & pid=$!; for i in $(seq 80); do grep -q assembling progress.txt && break; "
        "sleep 0.1; done; sleep 0.2; kill -KILL $pid; wait $pid; echo status=$?)");
    if (run.output.find("status=137") == std::string::npos) GTEST_SKIP() << "the run ended before it was killed";
    const auto listing = lines_of(read_bytes(dir.file("run.LIS")));
    EXPECT_EQ(find_in_order({"GRID INFORMATION", "Setting up the boundary integral equation ..."}, listing), "")
        << show(listing);
    for (const char* journal : kJournals) EXPECT_FALSE(std::filesystem::exists(dir.file(journal))) << journal;
}

TEST(run_stops, mesh_on_a_read_only_file_system_is_read)
{
    TempDir dir("rofs");
    std::filesystem::create_directory(dir.path() / "ro");
    std::filesystem::copy_file(kCube, dir.path() / "ro" / "valid_cube.ssg");
    write_text(dir.file("run.inp"), "&TORVA_INP\n FILE_SSG = 'ro/valid_cube.ssg'\n FILEJOU = 'nodir/j'\n/\n");
    const std::string ro = shell_quote((dir.path() / "ro").string());
    const FortranRun run = run_command("cd " + shell_quote(dir.path().string()) + " && unshare -m sh -c " +
                                       shell_quote("mount --bind " + ro + " " + ro + " && mount -o remount,bind,ro " +
                                                   ro + " && " + shell_quote(built_program("torva_setup")) +
                                                   " /INPUT=run"));
    if (run.exit_code != 0) GTEST_SKIP() << "no private read-only mount here: " << run.output;
    // The mesh is read (its grid table is printed); the run then stops at the journals,
    // which this deck puts in a directory that does not exist.
    const auto listing = lines_of(read_bytes(dir.file("run.LIS")));
    EXPECT_EQ(find_in_order({"GRID INFORMATION", "ERROR: Could not open jou-file"}, listing), "") << show(listing);
}

TEST(run_stops, a_link_record_may_name_a_panel_of_the_second_mesh_file)
{
    TempDir dir("links");
    // The cube twice, 96 panels each; the first file's one link record names panel 100, in
    // the second file.  Both files' link records count together.
    std::string first = read_bytes(kCube);
    write_text(dir.file("first.ssg"), first + "1\n100 1 2 3 4 5 6\n");
    write_text(dir.file("second.ssg"), first + "1\n5 1 2 3 4 5 6\n");
    write_text(dir.file("run.inp"),
               "&TORVA_INP\n FILE_SSG = 'first.ssg'\n FILE_FS = 'second.ssg'\n FILEJOU = 'nodir/j'\n/\n");
    const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=run");
    const auto listing = lines_of(read_bytes(dir.file("run.LIS")));
    EXPECT_EQ(find_in_order({"GRID INFORMATION", "ERROR: Could not open jou-file"}, listing), "") << show(listing);
}

}  // namespace
}  // namespace torva
