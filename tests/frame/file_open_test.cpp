// Program files opened by name parts, status word and form word.
#include "frame/file_open.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "frame/units.hpp"
#include "support/run_program.hpp"

namespace {

using torva::file_open;
using torva::testing::TempDir;
using torva::testing::read_text;
using torva::testing::write_text;
using torva::units;

// A unit no other test of the frame uses.
constexpr int kUnit = 71;

class file_open_status : public ::testing::Test {
protected:
    TempDir dir{"file_open"};
    void TearDown() override { units().close(kUnit); }
};

TEST(compose_file_name, joins_trimmed_parts_and_cuts_at_255)
{
    EXPECT_EQ(torva::compose_file_name("run/   ", "ship    ", ".LIS  "), "run/ship.LIS");
    EXPECT_EQ(torva::compose_file_name("    ", "ship", "   "), "ship");
    EXPECT_EQ(torva::compose_file_name("", "", ""), "");
    const std::string composed = torva::compose_file_name(std::string(200, 'd'), std::string(100, 'n'), ".x");
    EXPECT_EQ(composed, std::string(200, 'd') + std::string(55, 'n'));
}

TEST(form_word, record_length_and_ieee_alias)
{
    const auto unformatted = torva::parse_form_word("UNFORMATTED=512");
    ASSERT_TRUE(unformatted.has_value());
    EXPECT_EQ(unformatted->form, torva::FileForm::unformatted);
    EXPECT_EQ(unformatted->record_length, 512);
    const auto ieee = torva::parse_form_word("IEEE-UNFORMATTED    ");
    ASSERT_TRUE(ieee.has_value());
    EXPECT_EQ(ieee->form, torva::FileForm::unformatted);
    EXPECT_EQ(ieee->record_length, 0);
    const auto formatted = torva::parse_form_word("FORMATTED");
    ASSERT_TRUE(formatted.has_value());
    EXPECT_EQ(formatted->form, torva::FileForm::formatted);
    EXPECT_FALSE(torva::parse_form_word("UNFORMATTED=abc").has_value());
    EXPECT_FALSE(torva::parse_form_word("BINARY").has_value());
}

TEST_F(file_open_status, print_keeps_the_old_listing_as_bak)
{
    const std::string listing = dir.file("ship.LIS");
    write_text(listing, "old listing\n");
    write_text(listing + ".bak", "older listing\n");
    ASSERT_EQ(file_open(kUnit, dir.path().string() + "/", "ship", ".LIS", "PRINT", "FORMATTED"), 0);
    units().write_line(kUnit, "1page one");
    units().write_line(kUnit, " line two");
    units().close(kUnit);
    EXPECT_EQ(read_text(listing + ".bak"), "old listing\n");
    // The carriage-control characters stay in the file, in column 1.
    EXPECT_EQ(read_text(listing), "1page one\n line two\n");
}

TEST_F(file_open_status, new_makes_a_backup_only_of_an_existing_file)
{
    const std::string name = dir.file("fresh.dat");
    ASSERT_EQ(file_open(kUnit, "", name, "", "NEW", "FORMATTED"), 0);
    units().close(kUnit);
    EXPECT_FALSE(std::filesystem::exists(name + ".bak"));
    write_text(name, "first\n");
    ASSERT_EQ(file_open(kUnit, "", name, "", "NEW       ", "FORMATTED"), 0);
    units().close(kUnit);
    EXPECT_EQ(read_text(name + ".bak"), "first\n");
    EXPECT_EQ(read_text(name), "");
}

TEST_F(file_open_status, very_long_names_are_not_backed_up)
{
    const std::string sub = dir.file(std::string(240, 'd'));
    std::filesystem::create_directory(sub);
    const std::string name = sub + "/ship.LIS";
    ASSERT_GE(name.size(), 256u);
    write_text(name, "kept\n");
    torva::backup_existing_file(name);
    EXPECT_FALSE(std::filesystem::exists(name + ".bak"));
    EXPECT_EQ(read_text(name), "kept\n");
}

TEST_F(file_open_status, append_writes_after_the_last_record)
{
    const std::string name = dir.file("log.txt");
    write_text(name, "a\nb\n");
    ASSERT_EQ(file_open(kUnit, "", name, "", "APPEND", "FORMATTED"), 0);
    units().write_line(kUnit, "c");
    units().close(kUnit);
    EXPECT_EQ(read_text(name), "a\nb\nc\n");
}

TEST_F(file_open_status, other_statuses_start_at_the_first_record_and_read_is_read_only)
{
    const std::string name = dir.file("data.txt");
    write_text(name, "first\nsecond\n");
    for (const char* status : {"OLD", "READ", "UNKNOWN"}) {
        ASSERT_EQ(file_open(kUnit, "", name, "", status, "FORMATTED"), 0) << status;
        std::string line;
        ASSERT_TRUE(units().read_line(kUnit, line)) << status;
        EXPECT_EQ(line, "first") << status;
        if (std::string(status) == "READ") {
            EXPECT_THROW(units().write_line(kUnit, "no"), torva::IoError);
        }
        units().close(kUnit);
    }
    EXPECT_EQ(read_text(name), "first\nsecond\n");
}

TEST_F(file_open_status, failures_come_back_as_the_error_status)
{
    EXPECT_EQ(file_open(kUnit, "", dir.file("absent"), "", "OLD", "FORMATTED"), torva::kIostatFileNotFound);
    EXPECT_FALSE(units().is_open(kUnit));
    // Status words are compared exactly: a lower-case or unknown word opens nothing.
    write_text(dir.file("x"), "x\n");
    EXPECT_EQ(file_open(kUnit, "", dir.file("x"), "", "old", "FORMATTED"), torva::kIostatBadStatus);
    EXPECT_EQ(file_open(kUnit, "", dir.file("x"), "", "REPLACE", "FORMATTED"), torva::kIostatBadStatus);
    EXPECT_EQ(file_open(kUnit, "", dir.file("x"), "", "OLD", "BINARY"), torva::kIostatBadStatus);
    EXPECT_FALSE(units().is_open(kUnit));
}

TEST_F(file_open_status, scratch_has_no_name_and_unknown_creates)
{
    ASSERT_EQ(file_open(kUnit, "", "ignored", "", "SCRATCH", "UNFORMATTED"), 0);
    EXPECT_EQ(units().name_of(kUnit), "");
    EXPECT_FALSE(std::filesystem::exists("ignored"));
    units().close(kUnit);
    const std::string name = dir.file("created.txt");
    ASSERT_EQ(file_open(kUnit, "", name, "", "UNKNOWN", "FORMATTED"), 0);
    units().close(kUnit);
    EXPECT_TRUE(std::filesystem::exists(name));
}

TEST_F(file_open_status, unformatted_with_record_length_is_read_by_fortran)
{
    // A file opened with UNFORMATTED=512 holds sequential unformatted records that a
    // Fortran program reads back with form="unformatted".
    const std::string name = dir.file("rec.bin");
    ASSERT_EQ(file_open(kUnit, "", name, "", "NEW", "UNFORMATTED=512"), 0);
    const std::int32_t values[3] = {11, -2, 300};
    units().write_record(kUnit, std::as_bytes(std::span(values)));
    units().close(kUnit);
    const auto run = torva::testing::compile_and_run_fortran(dir,
        "program p\n"
        "  integer :: v(3)\n"
        "  open(1, file='rec.bin', form='unformatted', status='old', recl=512)\n"
        "  read(1) v\n"
        "  print '(3i6)', v\n"
        "end program p\n");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(run.output, "    11    -2   300\n");
}

}  // namespace
