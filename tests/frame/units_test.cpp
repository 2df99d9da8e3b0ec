// Numbered units and unformatted records, judged by gfortran reading what we write.
#include "frame/units.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <numeric>
#include <thread>
#include <stdexcept>
#include <span>
#include <string>
#include <vector>

#include "frame/allocation.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "support/run_program.hpp"

namespace {

using torva::FileForm;
using torva::OpenOptions;
using torva::testing::TempDir;

std::string file_bytes(const std::string& name) { return torva::testing::read_text(name); }

OpenOptions unformatted(const char* status)
{
    OpenOptions o;
    o.status = status;
    o.form = FileForm::unformatted;
    return o;
}

// gfortran built with -fmax-subrecord-length=16 splits records exactly as our writer does
// with a 16-byte limit, so one program proves the record and subrecord markers in both
// directions (gfortran reads journal records in the journal tests; the equation tests read
// back whole systems of megabyte records).
TEST(records, subrecords_follow_gfortran_rule)
{
    TempDir dir("sub");
    torva::UnitTable table;
    table.set_max_subrecord(16);
    ASSERT_EQ(table.open(12, dir.file("ours.bin"), unformatted("NEW")), 0);
    std::vector<std::int32_t> n(20);
    for (int i = 0; i < 20; ++i) n[i] = (i + 1) * (i + 1);
    table.write_record(12, torva::bytes_of(n));
    table.close(12);

    const std::string prog = R"(
program sub
  implicit none
  integer :: n(20), m(20), i
  n = (/ (i**2, i=1, 20) /)
  open(10, file='theirs.bin', form='unformatted', status='new')
  write(10) n
  close(10)
  open(11, file='ours.bin', form='unformatted', status='old')
  read(11) m
  close(11)
  if (all(m == n)) then
    write(*,'(a)') 'READ-OK'
  end if
end program
)";
    const auto run = torva::testing::compile_and_run_fortran(dir, prog, "-fmax-subrecord-length=16");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("READ-OK"), std::string::npos) << run.output;
    EXPECT_EQ(file_bytes(dir.file("ours.bin")), file_bytes(dir.file("theirs.bin")));

    // And our reader joins the subrecords again.
    ASSERT_EQ(table.open(13, dir.file("theirs.bin"), unformatted("OLD")), 0);
    const auto rec = table.read_record(13);
    ASSERT_TRUE(rec.has_value());
    ASSERT_EQ(rec->size(), 80u);
    std::vector<std::int32_t> back(20);
    std::memcpy(back.data(), rec->data(), 80);
    EXPECT_EQ(back, n);
    EXPECT_FALSE(table.read_record(13).has_value());
}

// write_records must leave exactly the bytes of one write_record per record, wherever the
// records fall against its staging buffer (a quarter MiB) and however they split into
// subrecords.  Each file first holds three records, the second longer than all that follows,
// and is rewound and read once, so the batch also has to cut the file after the first record
// as a sequential write does; a record after the batch checks that the unit goes on from
// where the batch ended.  (gfortran judges the loop's bytes in the subrecord test.)
TEST(records, write_records_gives_the_bytes_of_a_write_record_loop)
{
    TempDir dir("batch");
    struct Case {
        std::size_t record_bytes, count;
        std::int64_t max_subrecord;
    };
    const Case cases[] = {
        {12, 100'000, torva::kMaxSubrecord},     // 2 MB of velocity records: many buffers and flushes
        {1'000, 700, torva::kMaxSubrecord},      // buffers that do not end on a record
        {300'000, 3, torva::kMaxSubrecord},      // records longer than the buffer
        {40, 50, 16},                            // each record in three subrecords (16, 16, 8)
    };
    int unit = 50;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " records of " + std::to_string(c.record_bytes) + " bytes");
        std::vector<unsigned char> data(c.record_bytes * c.count);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>((i * 131 + i / 7) & 0xFF);
        const auto bytes = std::as_bytes(std::span(data));
        const std::size_t subrecords =
            (c.record_bytes + static_cast<std::size_t>(c.max_subrecord) - 1) / static_cast<std::size_t>(c.max_subrecord);
        const std::size_t batch_bytes = c.count * (c.record_bytes + 8 * subrecords);
        std::string names[2];
        for (int batched = 0; batched < 2; ++batched) {
            torva::UnitTable table;
            table.set_max_subrecord(c.max_subrecord);
            names[batched] = dir.file("f" + std::to_string(unit) + (batched ? "b" : "a") + ".bin");
            ASSERT_EQ(table.open(unit, names[batched], unformatted("NEW")), 0);
            table.write_record(unit, torva::bytes_of(std::int32_t{1}));
            table.write_record(unit, std::vector<std::byte>(2 * data.size() + 64));   // longer than what replaces it
            table.write_record(unit, torva::bytes_of(std::int32_t{3}));
            table.rewind(unit);
            ASSERT_TRUE(table.read_record(unit).has_value());
            if (batched)
                table.write_records(unit, bytes, c.record_bytes);
            else
                for (std::size_t at = 0; at < data.size(); at += c.record_bytes)
                    table.write_record(unit, bytes.subspan(at, c.record_bytes));
            table.flush(unit);
            EXPECT_EQ(file_bytes(names[batched]).size(), 12 + batch_bytes) << "the file was not cut after the batch";
            table.write_record(unit, torva::bytes_of(std::int32_t{-1}));
            table.close(unit);
        }
        const auto a = file_bytes(names[0]), b = file_bytes(names[1]);
        EXPECT_EQ(b.size(), 2 * 12 + batch_bytes);
        EXPECT_TRUE(a == b) << "the batch differs from the loop";
        ++unit;
    }
    // A batch that is not whole records, or goes to a unit open for reading, is refused
    // before anything reaches the file; zero records touch nothing.
    torva::UnitTable table;
    const std::vector<float> v(6, 1.0f);
    ASSERT_EQ(table.open(60, dir.file("r.bin"), unformatted("NEW")), 0);
    table.write_record(60, torva::bytes_of(v));
    table.rewind(60);
    table.write_records(60, std::span<const std::byte>(), 12);
    EXPECT_THROW(table.write_records(60, torva::bytes_of(v), 16), std::invalid_argument);
    table.close(60);
    OpenOptions read_only = unformatted("OLD");
    read_only.read_only = true;
    ASSERT_EQ(table.open(61, dir.file("r.bin"), read_only), 0);
    EXPECT_THROW(table.write_records(61, torva::bytes_of(v), 12), torva::IoError);
    table.close(61);
    EXPECT_EQ(file_bytes(dir.file("r.bin")).size(), 32u);
}

// Fortran's status words, rewind, delete on close, the free-unit numbers (from 130, never
// handed out twice), a truncated record (an error, not a short read), and a sequential write
// at the start of an existing text file, which ends the file there.
TEST(units, status_words_free_units_truncation_and_cut_follow_fortran_rules)
{
    TempDir dir("status");
    torva::UnitTable table;
    const std::string name = dir.file("f.txt");
    OpenOptions o;
    o.status = "OLD";
    EXPECT_EQ(table.open(20, name, o), torva::kIostatFileNotFound);
    o.status = "new";
    ASSERT_EQ(table.open(20, name, o), 0);
    EXPECT_EQ(table.open(20, name, o), torva::kIostatUnitAlreadyOpen);
    table.write_line(20, " first");
    table.close(20);
    EXPECT_EQ(table.open(21, name, o), torva::kIostatFileExists);
    o.status = "APPEND";
    ASSERT_EQ(table.open(21, name, o), 0);
    table.write_line(21, " second");
    table.close(21);
    o.status = "UNKNOWN";
    ASSERT_EQ(table.open(22, name, o), 0);
    std::string line, all;
    while (table.read_line(22, line)) all += line + "|";
    EXPECT_EQ(all, " first| second|");
    table.rewind(22);
    ASSERT_TRUE(table.read_line(22, line));
    EXPECT_EQ(line, " first");
    EXPECT_EQ(table.name_of(22), name);
    table.close(22, /*keep=*/false);
    EXPECT_FALSE(torva::UnitTable::exists(name));
    o.status = "bogus";
    EXPECT_EQ(table.open(23, name, o), torva::kIostatBadStatus);
    o.status = "REPLACE";
    ASSERT_EQ(table.open(131, dir.file("x"), o), 0);
    EXPECT_EQ(table.free_unit(), 130);
    EXPECT_EQ(table.free_unit(), 132);
    { std::ofstream(dir.file("t.bin"), std::ios::binary).write("\x10\0\0\0abcd", 8); }
    ASSERT_EQ(table.open(14, dir.file("t.bin"), unformatted("OLD")), 0);
    EXPECT_THROW((void)table.read_record(14), torva::IoError);
    o.status = "UNKNOWN";
    { std::ofstream(dir.file("t.txt")) << "a\nb\nc\n"; }
    ASSERT_EQ(table.open(41, dir.file("t.txt"), o), 0);
    table.write_line(41, "z");
    table.close(41);
    EXPECT_EQ(file_bytes(dir.file("t.txt")), "z\n");
}

// A write behind puts its records where a plain write would, in order with the unit's
// later records, while other units are opened, written and closed meanwhile -- also when the
// job gives its record's memory back as it writes, in pieces that the subrecords of a long
// record straddle; a failure in it is raised by the unit's next use and names the file, as
// is a file removed under its name.
TEST(units, write_behind_lands_in_order_and_reports_its_failure_at_the_next_use)
{
    TempDir dir("behind");
    torva::UnitTable plain, behind, releasing;
    std::vector<float> big(5 << 20);   // 20 MiB: more than one piece of write_releasing
    std::iota(big.begin(), big.end(), 0.0f);
    const std::vector<int> small = {7, 8, 9};
    const std::int64_t subrecord = (7 << 20) + 3;   // ends inside pieces, off page boundaries
    for (torva::UnitTable* table : {&plain, &behind, &releasing}) {
        table->set_max_subrecord(subrecord);
        const std::string name = dir.file(table == &plain ? "plain" : table == &behind ? "behind" : "releasing");
        ASSERT_EQ(table->open(20, name, unformatted("REPLACE")), 0);
        table->write_record(20, torva::bytes_of(small));
        if (table == &plain) {
            table->write_record(20, torva::bytes_of(big));
            table->write_record(20, torva::bytes_of(small));
        } else {
            const bool give_back = table == &releasing;
            table->write_behind(20, [data = big, tail = small, give_back](torva::UnitTable::RecordSink& sink) mutable {
                if (give_back)
                    sink.write_releasing(std::as_writable_bytes(std::span(data)));
                else
                    sink.write(torva::bytes_of(data));
                sink.write(torva::bytes_of(tail));
            });
            // Other units come and go while the job writes.
            for (int unit = 21; unit < 40; ++unit) {
                ASSERT_EQ(table->open(unit, dir.file("other" + std::to_string(unit)), unformatted("REPLACE")), 0);
                table->write_record(unit, torva::bytes_of(small));
                table->close(unit);
            }
        }
        table->write_record(20, torva::bytes_of(small));
        table->close(20);
    }
    const auto want = file_bytes(dir.file("plain"));
    const std::size_t subrecords = (big.size() * 4 + subrecord - 1) / subrecord;
    EXPECT_EQ(want.size(), 3 * (12 + 8) + big.size() * 4 + 8 * subrecords);
    EXPECT_TRUE(file_bytes(dir.file("behind")) == want);
    EXPECT_TRUE(file_bytes(dir.file("releasing")) == want);

    torva::UnitTable table;
    ASSERT_EQ(table.open(30, "/dev/full", unformatted("UNKNOWN")), 0);
    table.write_behind(30, [data = big](torva::UnitTable::RecordSink& sink) {
        sink.write(torva::bytes_of(data));
    });
    try {
        table.close(30);
        FAIL() << "a write behind to /dev/full succeeded";
    } catch (const torva::IoError& e) {
        EXPECT_EQ(e.file(), "/dev/full");
        EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(table.is_open(30));
    // A file removed while open stays writable through its descriptor and its data vanish
    // with the last close: the close says so, naming the file.
    const std::string name = dir.file("v.jou1");
    ASSERT_EQ(table.open(11, name, unformatted("NEW")), 0);
    table.write_record(11, torva::bytes_of(small));
    std::filesystem::remove(name);
    table.write_record(11, torva::bytes_of(small));
    try {
        table.close(11);
        FAIL() << "closing a journal whose file was removed reported nothing";
    } catch (const torva::IoError& e) {
        EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
    // A write behind is memory about to come back: a request beyond what the machine has
    // waits for it before it stops the run, and the write is whole by then.
    std::atomic<bool> written{false};
    ASSERT_EQ(torva::units().open(77, dir.file("m.jou"), unformatted("REPLACE")), 0);
    torva::units().write_behind(77, [&written, data = big](torva::UnitTable::RecordSink& sink) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        sink.write(torva::bytes_of(data));
        written = true;
    });
    EXPECT_THROW(torva::check_memory_or_stop(std::uint64_t{1} << 62, {"ERROR: too much"}), torva::RunStopped);
    EXPECT_TRUE(written.load()) << "the stop came before the write behind ended";
    torva::units().close(77);
    EXPECT_EQ(file_bytes(dir.file("m.jou")).size(), big.size() * 4 + 8);
}

TEST(list_directed, lines_have_one_leading_blank_and_blank_separated_items)
{
    EXPECT_EQ(torva::list_directed("n_kernel", 3), " n_kernel 3");
    EXPECT_EQ(torva::list_directed("x", 0.5f, true), " x 0.5 T");
    EXPECT_EQ(torva::list_directed(1.0f), " 1.0");
    EXPECT_EQ(std::stof(torva::format_item(0.1f)), 0.1f);   // reals read back to the same float
    EXPECT_EQ(torva::trimmed_length(std::string("ab  \0 ", 6)), 2u);
    EXPECT_EQ(torva::fixed_text("abc", 5), "abc  ");
    EXPECT_EQ(torva::fixed_text("abcdef", 3), "abc");
}

// A file opened for a pending name is written under name + ".part" and takes its name only at
// the commit; until then nothing exists under the name.  Status NEW refuses an existing
// name and never overwrites one that appears meanwhile; a pending file deleted on close is
// not renamed; other statuses open the name itself.
TEST(units, pending_files_take_their_names_only_at_the_commit)
{
    TempDir dir("pending");
    torva::UnitTable table;
    const std::string a = dir.file("a.jou1"), b = dir.file("b.jou2"), c = dir.file("c.jou3"), d = dir.file("d.jou4");
    ASSERT_EQ(table.open_pending(11, a, unformatted("new")), 0);
    ASSERT_EQ(table.open_pending(12, b, unformatted("REPLACE")), 0);
    ASSERT_EQ(table.open_pending(13, c, unformatted("new")), 0);
    ASSERT_EQ(table.open_pending(14, d, unformatted("NEW")), 0);
    table.write_record(11, torva::bytes_of(std::int32_t{7}));
    table.close(11);                                 // closed early: still waits for the commit
    table.write_record(12, torva::bytes_of(std::int32_t{8}));
    table.close(14, /*keep=*/false);
    EXPECT_FALSE(torva::UnitTable::exists(a));
    EXPECT_TRUE(torva::UnitTable::exists(a + torva::kPendingSuffix));
    EXPECT_EQ(table.open_pending(15, a + "x", unformatted("new")), 0);
    table.close(15);
    std::ofstream(c) << "appeared meanwhile";
    EXPECT_THROW(table.commit_pending(), torva::IoError);
    EXPECT_EQ(file_bytes(a).size(), 12u);
    EXPECT_EQ(file_bytes(b).size(), 12u);
    EXPECT_FALSE(table.is_open(12));
    EXPECT_EQ(file_bytes(c).size(), 18u);            // not overwritten
    EXPECT_FALSE(torva::UnitTable::exists(d));
    EXPECT_FALSE(torva::UnitTable::exists(a + torva::kPendingSuffix));
    EXPECT_EQ(table.open_pending(16, a, unformatted("new")), torva::kIostatFileExists);
    ASSERT_EQ(table.open_pending(17, dir.file("e"), unformatted("OLD")), torva::kIostatFileNotFound);
}

}  // namespace
