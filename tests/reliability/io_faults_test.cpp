// I/O faults met by a whole run: a run directory that cannot be written, a full disk, a
// file-size limit, a journal removed while open.  Each must end in a message that names the
// file and the system's reason, never in a silent loss or a killed process.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "frame/units.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

const std::filesystem::path kMesh = corpus_dir("mesh") / "valid_cube.ssg";

// A directory for a run: the cube mesh and run.inp, readable by everyone, since a run below
// drops root's rights (root writes into read-only directories).
struct RunDir {
    TempDir dir{"iofault"};
    RunDir()
    {
        std::filesystem::copy_file(kMesh, dir.path() / "valid_cube.ssg");
        write_text(dir.file("run.inp"), "&TORVA_INP\n FILE_SSG = 'valid_cube.ssg'\n FILEJOU = 'j'\n/\n");
        ::chmod(dir.path().c_str(), 0755);
    }
    FortranRun run(const std::string& prefix = "") const
    {
        return run_command("cd " + shell_quote(dir.path().string()) + " && " + prefix +
                           shell_quote(built_program("torva_setup")) + " /INPUT=run");
    }
    std::vector<std::string> listing() const { return lines_of(read_bytes(dir.file("run.LIS"))); }
};

// The command prefix that runs a program without root's rights, so that file permissions
// apply; empty when the tests do not run as root.  nullopt when rights cannot be dropped.
std::optional<std::string> as_ordinary_user()
{
    if (::geteuid() != 0) return std::string();
    const FortranRun probe = run_command("setpriv --reuid=65534 --regid=65534 --clear-groups true");
    if (probe.exit_code != 0) return std::nullopt;
    return std::string("setpriv --reuid=65534 --regid=65534 --clear-groups ");
}

TEST(io_faults, unwritable_run_directory_stops_with_status_1_naming_the_listing_and_the_reason)
{
    const auto user = as_ordinary_user();
    if (!user) GTEST_SKIP() << "running as root and setpriv cannot drop the rights";
    RunDir run;
    ::chmod(run.dir.path().c_str(), 0555);
    const FortranRun result = run.run(*user);
    ::chmod(run.dir.path().c_str(), 0755);
    // The frame's own failure to open the listing: status 1, "Error opening" and the name,
    // then an "ERROR:" line with the system's words for the reason.
    EXPECT_EQ(result.exit_code, 1) << result.output;
    const auto lines = lines_of(result.output);
    EXPECT_EQ(find_in_order({"Error opening run.LIS"}, lines), "") << result.output;
    EXPECT_EQ(find_in_order({"*ERROR:*run.LIS*Permission denied*"}, lines), "") << result.output;
}

TEST(io_faults, full_disk_stops_with_an_error_naming_the_journal_and_no_success)
{
    // Every journal file is written under its temporary name, here a link to /dev/full, where
    // each write fails with ENOSPC.
    RunDir run;
    for (const char* suffix : {".jou1", ".jou1a", ".jou2", ".jou3", ".jou4"})
        std::filesystem::create_symlink("/dev/full", run.dir.path() / (std::string("j") + suffix + kPendingSuffix));
    const FortranRun result = run.run();
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto listing = run.listing();
    EXPECT_EQ(find_in_order({"ERROR: *j.jou*: No space left on device"}, listing), "") << show(listing);
    EXPECT_NE(find_in_order({"FINISHED: SUCCESS"}, listing), "") << "a run that lost its journals succeeded";
}

TEST(io_faults, file_size_limit_stops_with_an_error_naming_the_file_instead_of_a_kill)
{
    // ulimit -f 100: 100 blocks of 512 or 1024 bytes, depending on the shell; either is far
    // below the 1.4 MB system matrix of the 600-panel sphere, and far above the listing.
    TempDir dir("fsize");
    for (const char* f : {"sphere.inp", "sphere.ssg"})
        std::filesystem::copy_file(std::filesystem::path(TORVA_SOURCE_DIR) / "examples" / "sphere" / f, dir.path() / f);
    const FortranRun result =
        run_command("cd " + shell_quote(dir.path().string()) + " && ulimit -f 100 && " +
                    shell_quote(built_program("torva_setup")) + " /INPUT=sphere.inp");
    // 153 = 128 + SIGXFSZ: killed before it could say anything.
    EXPECT_EQ(result.exit_code, 0) << result.output;
    const auto listing = lines_of(read_bytes(dir.file("sphere.inp.LIS")));
    EXPECT_EQ(find_in_order({"ERROR: *sphere.jou*: File too large"}, listing), "") << show(listing) << result.output;
    EXPECT_NE(find_in_order({"FINISHED: SUCCESS"}, listing), "");
}

TEST(io_faults, journal_removed_while_open_is_reported_when_it_is_closed)
{
    // On POSIX systems a removed file stays writable through the open descriptor, so every
    // write succeeds and the data vanish with the last close.  The unit layer must notice
    // that the name no longer leads to the file it wrote and say so.
    TempDir dir("vanish");
    UnitTable table;
    OpenOptions options;
    options.status = "NEW";
    options.form = FileForm::unformatted;
    const std::string name = dir.file("v.jou1");
    ASSERT_EQ(table.open(11, name, options), kIostatOk);
    const float row[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    table.write_record(11, std::as_bytes(std::span(row)));
    std::filesystem::remove(name);
    table.write_record(11, std::as_bytes(std::span(row)));
    try {
        table.close(11);
        FAIL() << "closing a journal whose file was removed reported nothing";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace torva
