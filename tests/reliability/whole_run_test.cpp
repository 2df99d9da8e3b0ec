// How whole runs end: every stop, the I/O faults of the machine (an unwritable directory, a
// full disk, a file-size or address-space limit) included, leaves its reason as the listing's
// last line, beginning "ERROR:" and naming the file and the system's reason, with the exit
// status the options ask for, never a silent loss or a killed process; sizes that would make
// a run hang are refused before any work; journal and filter files appear under their names
// only when the run succeeds.  One table, each row a run of the program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "frame/units.hpp"
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
        } else {
            out += (line == "     2      2      2      1" && ++headers == 6 ? "     2      2      3      1" : line) + "\n";
        }
    }
    return out;
}

// A flat n x n sheet in z = -1 (kind 2, flag 1): cheap to read, with regular panels.
std::string plate(int n)
{
    std::string text = "Version 2.0\nplate\n0 N\n1\n0 0 0 0 0 0\nF\n" + std::to_string(n) + " " + std::to_string(n) + " 2 1\n";
    for (int b = 0; b <= n; ++b)
        for (int a = 0; a <= n; ++a) text += std::to_string(a) + " " + std::to_string(b) + " -1\n";
    return text;
}

// The command prefix that runs a program without root's rights, so that file permissions
// apply; empty when the tests do not run as root.  nullopt when rights cannot be dropped.
std::optional<std::string> as_ordinary_user()
{
    if (::geteuid() != 0) return std::string();
    if (run_command("setpriv --reuid=65534 --regid=65534 --clear-groups true").exit_code != 0) return std::nullopt;
    return std::string("setpriv --reuid=65534 --regid=65534 --clear-groups ");
}

const char* const kJournals[] = {"j.jou1", "j.jou1a", "j.jou2", "j.jou3", "j.jou4"};

struct RunCase {
    const char* name;
    std::string deck;                    // the TORVA_INP items after FILE_SSG and FILEJOU
    std::string options;                 // after /INPUT=run
    std::vector<std::string> lines;      // in order in the listing, the last one its last line
    int status;
    bool journals;                       // the five journals under their final names afterwards
    std::string prefix = "";             // shell commands before the program ("ulimit ... && ")
    std::function<void(const TempDir&)> setup = {};   // the run directory beyond cube.ssg and run.inp
    const char* earlier = "";            // a file of an earlier run, j.jou3, that must survive
    std::string input = "run";           // the INPUT option's name
    bool on_output = false;              // the lines are the program's output, not its listing
    const char* same_jou4_as = "";       // an earlier row whose j.jou4 this run's must equal
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
    if (c.setup) c.setup(dir);
    const auto start = std::chrono::steady_clock::now();
    Outcome out{run_command("cd " + shell_quote(dir.path().string()) + " && " + c.prefix + "timeout 10 " +
                            shell_quote(built_program("torva_setup")) + " /INPUT=" + c.input + " " + c.options),
                lines_of(read_bytes(dir.file(c.input + ".LIS")))};
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0);
    return out;
}

TEST(whole_run, last_listing_line_status_and_journals_as_the_table_says)
{
    const std::string bad_key = " BOGUS = 1\n", deep_plate = " FILE_SSG = 'plate.ssg'\n";
    const auto with_plate = [](int n) { return [n](const TempDir& d) { write_text(d.file("plate.ssg"), plate(n)); }; };
    const std::optional<std::string> user = as_ordinary_user();
    std::vector<RunCase> cases = {
        {"success", " B_FILTER = .TRUE.\n H1 = 2\n H2 = 2\n SEA_DEPTH = 2.0\n", "", {"FINISHED: SUCCESS"}, 0, true},
        {"success with the opt-in status", "", "/ERROR-EXIT", {"FINISHED: SUCCESS"}, 0, true},
        // Depth 0 is deep water: it writes what the default negative depth writes.
        {"depth zero", " SEA_DEPTH = 0.0\n", "", {"FINISHED: SUCCESS"}, 0, true, "", {}, "", "run", false,
         "success with the opt-in status"},
        // A bottom-image count of millions (or an endless count) is refused before any work.
        {"tiny depth", " SEA_DEPTH = 1e-6\n", "",
         {"ERROR: SEA_DEPTH = * is outside its limit: a depth that needs at most 1000 bottom images*"}, 0, false},
        {"depth near zero", " SEA_DEPTH = 1e-40\n", "",
         {"ERROR: SEA_DEPTH = * is outside its limit: a depth that needs at most 1000 bottom images*"}, 0, false},
        {"images beyond memory", " N_KERNEL = 2147483647\n SEA_DEPTH = 10.0\n", "",
         {"ERROR: N_KERNEL = 2147483647 is outside its limit: at most 1000 bottom images"}, 0, false},
        {"scale that overflows the mesh", " ALENGTH = 1e-39\n", "", {"ERROR: ALENGTH = * is outside its limit*"}, 0, false},
        // Stops whose own message goes elsewhere close the listing with their reason.
        {"parameter fault", bad_key, "",
         {"ERROR: An error condition occured during reading line 4: BOGUS = 1 (see setup_nml.log)"}, 0, false},
        {"parameter fault with the opt-in status", bad_key, "/ERROR-EXIT", {"ERROR: An error condition *"}, 2, false},
        {"earlier journal and status new", "", "", {"ERROR: j.jou3: File exists (FILESTATUS \"new\" protects*"}, 0,
         false, "", {}, "earlier journal: must survive"},
        {"missing parameter file", "", "", {"ERROR: Unable to open rundata file"}, 1, false, "", {}, "", "nosuch"},
        // A stop after the journals were written leaves none of them under its final name.
        {"stop in the filters", " B_FILTER = .TRUE.\n H1 = 99\n H2 = 2\n", "",
         {"ERROR: The requested filter is not implemented*"}, 0, false},
        {"stop in the filters, opt-in status", " B_FILTER = .TRUE.\n H1 = 99\n H2 = 2\n", "/ERROR-EXIT",
         {"ERROR: The requested filter is not implemented*"}, 2, false},
        // Both files' link records count together: the first file's one link record names
        // panel 100, in the second file (the cube twice, 96 panels each).
        {"link record into the second mesh file", " FILE_SSG = 'first.ssg'\n FILE_FS = 'second.ssg'\n FILEJOU = 'nodir/j'\n",
         "", {"GRID INFORMATION", "ERROR: Could not open jou-file", "ERROR: nodir/j.jou1: No such file*"}, 0, false, "",
         [](const TempDir& d) {
             write_text(d.file("first.ssg"), read_bytes(kCube) + "1\n100 1 2 3 4 5 6\n");
             write_text(d.file("second.ssg"), read_bytes(kCube) + "1\n5 1 2 3 4 5 6\n");
         }},
        // Every journal written under its temporary name, a link to /dev/full: each write
        // fails with ENOSPC.
        {"full disk", "", "", {"ERROR: *j.jou*: No space left on device"}, 0, false, "", [](const TempDir& d) {
             for (const char* journal : kJournals)
                 std::filesystem::create_symlink("/dev/full", d.file(std::string(journal) + kPendingSuffix));
         }},
        // ulimit -f 100: 100 blocks of 512 or 1024 bytes, far below the 0.6 MB system matrix
        // of a 400-panel plate, far above the listing; without care the system kills the run
        // (status 153 = 128 + SIGXFSZ) before it could say anything.
        {"file-size limit", deep_plate, "", {"ERROR: *j.jou*: File too large"}, 0, false, "ulimit -f 100 && ",
         with_plate(20)},
#if !defined(__SANITIZE_ADDRESS__)   // its shadow memory lies beyond any address-space limit
        // ulimit -v 1500000 (KiB, about 1.4 GiB): the machine has the memory, so the check
        // before the allocation passes and the allocation itself fails: a 140 x 140 plate's
        // 20164 panels need a 1.6 GB system matrix.  Both numbers are given.
        {"address-space limit", deep_plate, "", {"ERROR: *", "*need* bytes*available*"}, 0, false,
         "ulimit -v 1500000 && ", with_plate(140)},
#endif
    };
    // A directory the run may not write: the frame's own failure to open the listing, with
    // status 1, "Error opening" and the name, then the system's words for the reason.
    if (user)
        cases.push_back({"unwritable run directory", "", "", {"Error opening run.LIS", "*ERROR:*run.LIS*Permission denied*"},
                         1, false, *user, [](const TempDir& d) { ::chmod(d.path().c_str(), 0555); }, "", "run", true});
    // A mesh on a read-only file system is read (its grid table is printed), in a mount
    // namespace of the run's own where one can be made.
    if (run_command("unshare -m sh -c 'mount --bind /tmp /tmp && mount -o remount,bind,ro /tmp'").exit_code == 0)
        cases.push_back({"mesh on a read-only file system", " FILE_SSG = 'ro/cube.ssg'\n FILEJOU = 'nodir/j'\n", "",
                         {"GRID INFORMATION", "ERROR: Could not open jou-file", "ERROR: nodir/j.jou1: *"}, 0, false,
                         "unshare -m sh -c 'mount --bind ro ro && mount -o remount,bind,ro ro && exec \"$@\"' sh ",
                         [](const TempDir& d) {
                             std::filesystem::create_directory(d.path() / "ro");
                             std::filesystem::copy_file(kCube, d.path() / "ro" / "cube.ssg");
                         }});
    std::map<std::string, std::string> jou4;
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir("runstop");
        ::chmod(dir.path().c_str(), 0755);   // readable by the user a row runs as
        const Outcome out = run_case(dir, c);
        ::chmod(dir.path().c_str(), 0755);
        EXPECT_EQ(out.run.exit_code, c.status) << out.run.output;
        const std::vector<std::string> lines = c.on_output ? lines_of(out.run.output) : out.listing;
        EXPECT_EQ(find_in_order(c.lines, lines), "") << show(lines);
        if (!c.on_output) {
            ASSERT_FALSE(out.listing.empty()) << out.run.output;
            EXPECT_TRUE(matches(c.lines.back(), trim(out.listing.back()))) << show(out.listing);
        }
        for (const char* journal : kJournals) {
            const bool earlier = *c.earlier && std::string(journal) == "j.jou3";
            EXPECT_EQ(std::filesystem::exists(dir.file(journal)), c.journals || earlier) << journal;
            EXPECT_FALSE(c.journals && std::filesystem::exists(dir.file(std::string(journal) + kPendingSuffix))) << journal;
        }
        EXPECT_EQ(std::filesystem::exists(dir.file("j.jou05")), c.journals && c.deck.find("B_FILTER") != std::string::npos);
        EXPECT_TRUE(!*c.earlier || read_bytes(dir.file("j.jou3")) == c.earlier);
        jou4[c.name] = read_bytes(dir.file("j.jou4"));
        EXPECT_TRUE(!*c.same_jou4_as || (!jou4[c.name].empty() && jou4[c.name] == jou4.at(c.same_jou4_as)));
    }
}

TEST(whole_run, killed_run_shows_its_phase_and_leaves_no_finished_journal)
{
    // A plate of 3,600 panels: the system assembly takes seconds, long enough to be killed in.
    TempDir dir("killed");
    write_text(dir.file("plate.ssg"), plate(60));
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

}  // namespace
}  // namespace torva
