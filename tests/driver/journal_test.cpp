// Journal files: open rules, the waiting open, and the journal object over the units against
// the one in memory.  gfortran reads the journals of a whole run in end_to_end_test.cpp.
#include "driver/journal.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "support/journal_solver.hpp"
#include "support/run_program.hpp"

namespace {

using namespace torva::testing;

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        torva::OpenOptions o;
        o.status = "REPLACE";
        ASSERT_EQ(torva::units().open(torva::kListingUnit, dir.file("run.LIS"), o), 0);
    }
    void TearDown() override { torva::units().close_all(); }
    TempDir dir{"jou"};
};

// NEW protects existing files, REPLACE overwrites them, OLD stops naming a missing .jou1.
TEST_F(JournalTest, status_new_protects_existing_files_replace_overwrites_and_old_needs_them)
{
    const std::string base = dir.file("ship");
    ASSERT_EQ(torva::open_journal_files(6, base, "new"), 0);
    for (const auto& jf : torva::kJournalFiles) EXPECT_TRUE(torva::units().is_open(jf.unit));
    torva::units().write_record(torva::kJou1Unit, torva::bytes_of(std::int32_t{42}));
    torva::close_journal_files();
    for (const auto& jf : torva::kJournalFiles) EXPECT_FALSE(torva::UnitTable::exists(base + jf.suffix));
    torva::units().commit_pending();   // the names come with the run's success
    for (const auto& jf : torva::kJournalFiles) EXPECT_TRUE(torva::UnitTable::exists(base + jf.suffix));

    std::string why;
    EXPECT_EQ(torva::open_journal_files(6, base, "new", &why), -1);
    EXPECT_NE(why.find("ship.jou1"), std::string::npos) << why;
    EXPECT_NE(why.find("File exists"), std::string::npos) << why;
    torva::close_journal_files();
    // The old .jou1 was not touched by the failed open.
    EXPECT_EQ(std::filesystem::file_size(base + ".jou1"), 12u);

    ASSERT_EQ(torva::open_journal_files(6, base, "replace"), 0);
    torva::close_journal_files();
    torva::units().commit_pending();
    EXPECT_EQ(std::filesystem::file_size(base + ".jou1"), 0u);
    try {
        torva::open_journal_files(6, dir.file("none"), "OLD");
        FAIL() << "no stop";
    } catch (const torva::RunStopped& stop) {
        EXPECT_EQ(stop.lines, (std::vector<std::string>{"Error detected in OPEN_INPUT_FILES:",
                                                        "The following input file does not exist!!!",
                                                        dir.file("none") + ".jou1"}));
    }
}

// A child process holds a write lock for a moment; the open must warn once, wait, and
// report the file ready when the lock is gone.
TEST_F(JournalTest, locked_file_is_waited_for_with_one_warning)
{
    const std::string name = dir.file("held.jou2");
    std::ofstream(name) << "data";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(name.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        ::fcntl(fd, F_SETLKW, &lock);
        (void)!::write(ready[1], "x", 1);
        ::usleep(300000);
        ::_exit(0);
    }
    char byte;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    int sleeps = 0;
    torva::OPEN_INPUT_FILES(6, 41, name, "unformatted", [&](int seconds) {
        EXPECT_EQ(seconds, 10);
        ++sleeps;
        ::usleep(100000);
    });
    ::waitpid(child, nullptr, 0);
    EXPECT_GE(sleeps, 1);
    EXPECT_TRUE(torva::units().is_open(41));
    torva::units().close(6);
    EXPECT_EQ(read_lines(dir.file("run.LIS")),
              (std::vector<std::string>{" Warning detected in OPEN_INPUT_FILES:", " Input file: " + name,
                                        " is opened by another application. We have to wait...",
                                        " Input file ready: " + name}));
}

// The same operations through the units and in memory leave the same records: a batch is
// its records one by one, a job behind the caller writes in order, a write after a rewind
// ends the file there, and start_over empties it.  The unit side is read back by a second
// unit table, as another program would read the file.
TEST_F(JournalTest, unit_journal_and_memory_journal_keep_the_same_records)
{
    using torva::JournalFile;
    ASSERT_EQ(torva::open_journal_files(6, dir.file("ship"), "new"), 0);
    torva::UnitJournal on_units(6);
    torva::MemoryJournal in_memory;
    const std::vector<float> a = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    const std::vector<int> p = {3, 1, 2};
    for (torva::Journal* j : {static_cast<torva::Journal*>(&on_units), static_cast<torva::Journal*>(&in_memory)}) {
        j->write_record(JournalFile::jou1, torva::bytes_of(a));
        j->write_records(JournalFile::jou1, torva::bytes_of(a), 2 * sizeof(float));
        j->write_behind(JournalFile::jou2, [a, p](torva::JournalRecordSink& sink) {
            sink.write(torva::bytes_of(a));
            sink.write(torva::bytes_of(p));
        });
        j->write_record(JournalFile::jou4, torva::bytes_of(p));
        j->start_over(JournalFile::jou4);
        j->write_record(JournalFile::jou4, torva::bytes_of(a));
        j->rewind(JournalFile::jou1);
        ASSERT_TRUE(j->read_record(JournalFile::jou1));
        ASSERT_TRUE(j->read_record(JournalFile::jou1));
        j->write_record(JournalFile::jou1, torva::bytes_of(p));   // ends jou1 after its second record
    }
    torva::close_journal_files();
    torva::units().commit_pending();
    for (const auto& [file, suffix] :
         {std::pair{JournalFile::jou1, ".jou1"}, {JournalFile::jou2, ".jou2"}, {JournalFile::jou4, ".jou4"}})
        EXPECT_EQ(journal_records(dir.file("ship") + suffix), in_memory.records(file)) << suffix;
    EXPECT_EQ(in_memory.records(JournalFile::jou1).size(), 3u);
    EXPECT_EQ(in_memory.values<int>(JournalFile::jou1, 2), p);
    EXPECT_EQ(in_memory.records(JournalFile::jou4).size(), 1u);
}

}  // namespace
