// Program files opened by name parts, status word and form word.
#include "frame/file_open.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

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

TEST(file_open, names_join_trimmed_parts_cut_at_255_and_form_words_carry_a_record_length)
{
    EXPECT_EQ(torva::compose_file_name("run/   ", "ship    ", ".LIS  "), "run/ship.LIS");
    EXPECT_EQ(torva::compose_file_name("    ", "ship", "   "), "ship");
    EXPECT_EQ(torva::compose_file_name("", "", ""), "");
    EXPECT_EQ(torva::compose_file_name(std::string(200, 'd'), std::string(100, 'n'), ".x"),
              std::string(200, 'd') + std::string(55, 'n'));
    const std::tuple<const char*, torva::FileForm, int> forms[] = {{"UNFORMATTED=512", torva::FileForm::unformatted, 512},
                                                                   {"IEEE-UNFORMATTED    ", torva::FileForm::unformatted, 0},
                                                                   {"FORMATTED", torva::FileForm::formatted, 0}};
    for (const auto& [word, form, length] : forms) {
        const auto parsed = torva::parse_form_word(word);
        ASSERT_TRUE(parsed.has_value()) << word;
        EXPECT_EQ(parsed->form, form) << word;
        EXPECT_EQ(parsed->record_length, length) << word;
    }
    EXPECT_FALSE(torva::parse_form_word("UNFORMATTED=abc").has_value());
    EXPECT_FALSE(torva::parse_form_word("BINARY").has_value());
}

// Each status word on a file "f" that holds "old\n" (or is absent), with "old.bak\n" as its
// backup: the status returned, a line read first (where the file is read), and the file and
// its backup afterwards ("-" absent).
TEST(file_open, each_status_word_opens_backs_up_and_positions_as_its_row_says)
{
    TempDir dir{"file_open"};
    struct Row {
        const char* status;
        bool present;
        int rc;
        const char* read;
        const char* file;
        const char* bak;
    };
    const Row rows[] = {
        {"PRINT", true, 0, "", "1page one\n", "old\n"},              // the old listing kept as .bak
        {"NEW       ", true, 0, "", "1page one\n", "old\n"},
        {"NEW", false, 0, "", "1page one\n", "old.bak\n"},          // nothing to back up
        {"APPEND", true, 0, "", "old\n1page one\n", "old.bak\n"},    // after the last record
        {"OLD", true, 0, "old", "old\n1page one\n", "old.bak\n"},   // at the first record
        {"UNKNOWN", true, 0, "old", "old\n1page one\n", "old.bak\n"},
        {"UNKNOWN", false, 0, "", "1page one\n", "old.bak\n"},      // created
        {"READ", true, 0, "old", "old\n", "old.bak\n"},             // and never written
        {"OLD", false, torva::kIostatFileNotFound, "", "-", "old.bak\n"},
        {"old", true, torva::kIostatBadStatus, "", "old\n", "old.bak\n"},   // words compared exactly
        {"REPLACE", true, torva::kIostatBadStatus, "", "old\n", "old.bak\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.status);
        const std::string name = dir.file("f");
        std::filesystem::remove(name);
        if (row.present) write_text(name, "old\n");
        write_text(name + ".bak", "old.bak\n");
        ASSERT_EQ(file_open(kUnit, dir.path().string() + "/", "f", "", row.status, "FORMATTED"), row.rc);
        if (row.rc == 0) {
            std::string line;
            if (*row.read) {
                ASSERT_TRUE(units().read_line(kUnit, line));
                EXPECT_EQ(line, row.read);
            }
            if (std::string(row.status) == "READ") EXPECT_THROW(units().write_line(kUnit, "1page one"), torva::IoError);
            else units().write_line(kUnit, "1page one");   // carriage control stays in column 1
            units().close(kUnit);
        }
        EXPECT_EQ(std::filesystem::exists(name) ? read_text(name) : "-", row.file);
        EXPECT_EQ(read_text(name + ".bak"), row.bak);
    }
    EXPECT_EQ(file_open(kUnit, "", dir.file("f"), "", "OLD", "BINARY"), torva::kIostatBadStatus);
    ASSERT_EQ(file_open(kUnit, "", "ignored", "", "SCRATCH", "UNFORMATTED"), 0);
    EXPECT_EQ(units().name_of(kUnit), "");
    units().close(kUnit);
    // A name of 256 characters or more is not backed up.
    const std::string sub = dir.file(std::string(240, 'd'));
    std::filesystem::create_directory(sub);
    write_text(sub + "/ship.LIS", "kept\n");
    torva::backup_existing_file(sub + "/ship.LIS");
    EXPECT_FALSE(std::filesystem::exists(sub + "/ship.LIS.bak"));
}

}  // namespace
