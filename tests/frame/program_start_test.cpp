// The listing header page and the program start.
//
// Expected pages are built here from columns worked out by hand from the layout rules (see
// the comment of each case), not from the page code.
#include "frame/program_start.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/command_line.hpp"
#include "frame/frame_variables.hpp"
#include "frame/message_box.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "support/run_program.hpp"

namespace {

using torva::ListingHeaderFields;
using torva::listing_header_lines;
using torva::testing::TempDir;
using Page = std::vector<std::string>;

// One record: texts placed at 1-based columns, cut to `width`, trailing blanks dropped, at
// least one character.
std::string record(std::vector<std::pair<int, std::string>> pieces, std::size_t width = 79)
{
    std::string line(200, ' ');
    for (const auto& [column, text] : pieces)
        for (std::size_t k = 0; k < text.size(); ++k)
            if (column + static_cast<int>(k) >= 1) line[static_cast<std::size_t>(column - 1) + k] = text[k];
    line.resize(width);
    while (line.size() > 1 && line.back() == ' ') line.pop_back();
    return line;
}

const std::string kBlank = " ";

ListingHeaderFields setup_fields()
{
    ListingHeaderFields f;
    f.identity.program_id = "TORVA_SETUP";
    f.identity.title = "Setup matrices for Torva_Solve";
    f.identity.title.resize(100, ' ');
    f.identity.version = "3.1-03    ";
    f.identity.impl_update = std::string(10, ' ');
    f.identity.special_notes = std::string(100, ' ');
    f.identity.release_date = "29-NOV-2010";
    f.date = "05-DEC-2025";
    f.time = "23:50:01";
    f.user = "kim";
    f.user.resize(20, ' ');
    f.account = std::string(80, ' ');
    f.processor = "8664";
    f.operating_system = "Linux 6.1 [6.1.0-18-amd64]";
    f.machine_number = 20251205;
    f.installation = " node7";
    return f;
}

// The field lines 26 to 30 of the setup's fields, moved down by `shift` lines: first line
// index (0-based) is 25 + shift.
std::vector<std::string> setup_field_records()
{
    return {
        record({{3, "Program id   : 3.1-03"}, {43, "Computer         : 8664"}}),
        record({{3, "Release date : 29-NOV-2010"}, {43, "Impl. update     :"}}),
        // The operating-system text runs past column 79 and is cut there.
        record({{3, "Access time  : 05-DEC-2025 23:50:01"},
                {43, "Operating system : Linux 6.1 [6.1.0-18-amd64]"}}),
        record({{3, "User id      : kim"}, {43, "CPU id           : 20251205"}}),
        record({{43, "Installation     :  node7"}}),   // blank account: no left field
    };
}

void expect_banner(const Page& page, std::size_t first)
{
    for (std::size_t l = first; l < first + 10; ++l) {
        ASSERT_LT(l, page.size());
        const std::string& line = page[l];
        EXPECT_EQ(line.substr(0, 6), "      ") << "banner line " << l + 1 << " starts in column 7";
        EXPECT_NE(line.find('*'), std::string::npos) << l + 1;
        EXPECT_EQ(line.find_first_not_of("* "), std::string::npos) << l + 1;
        EXPECT_LE(line.size(), 79u);
    }
}

TEST(listing_header, short_page_of_the_setup)
{
    // n = 11, m = 30.  Rule (1) gives frame columns 24 and 55; 45 + m - m/2 = 60 lies
    // further right, so (2): columns 35 - 15 = 20 and 60.  Id from 40 - 11 = 29, title
    // from 40 - 15 = 25.
    const Page page = listing_header_lines(setup_fields(), "SHORT", false);
    ASSERT_EQ(page.size(), 32u);                       // last filled line 30, plus two
    for (const std::size_t l : {0u, 1u, 2u, 13u, 14u, 22u, 23u, 24u, 30u, 31u}) EXPECT_EQ(page[l], kBlank) << l + 1;
    expect_banner(page, 3);
    const std::string rule = record({{20, std::string(41, '*')}});
    const std::string sides = record({{20, "*"}, {60, "*"}});
    EXPECT_EQ(page[15], rule);
    EXPECT_EQ(page[16], sides);
    EXPECT_EQ(page[17], record({{20, "*"}, {29, "T O R V A _ S E T U P"}, {60, "*"}}));
    EXPECT_EQ(page[18], sides);
    EXPECT_EQ(page[19], record({{20, "*"}, {25, "Setup matrices for Torva_Solve"}, {60, "*"}}));
    EXPECT_EQ(page[20], sides);
    EXPECT_EQ(page[21], rule);
    const auto fields = setup_field_records();
    for (std::size_t k = 0; k < fields.size(); ++k) EXPECT_EQ(page[25 + k], fields[k]) << 26 + k;
    EXPECT_EQ(page[27].size(), 79u);
}

TEST(listing_header, other_styles_are_the_short_page_moved_narrowed_or_widened)
{
    const ListingHeaderFields f = setup_fields();
    const Page short_page = listing_header_lines(f, "SHORT", false);
    Page narrow{"1"};
    narrow.insert(narrow.end(), short_page.begin(), short_page.end());
    EXPECT_EQ(listing_header_lines(f, "NARROW", false), narrow);
    EXPECT_TRUE(listing_header_lines(f, "NONE", false).empty());
    EXPECT_EQ(listing_header_lines(f, "SHORT     ", false), short_page);
    EXPECT_EQ(listing_header_lines(f, "FANCY", false), short_page);   // any other word: SHORT ...
    // /SMALL: the family word in capitals on line 5 from column 33, inside the raised frame.
    const Page small = listing_header_lines(f, "SHORT/SMALL", false);
    EXPECT_EQ(small[2], record({{20, std::string(41, '*')}}));
    EXPECT_EQ(small[4], record({{20, "*"}, {33, "K  E  S  T  A"}, {60, "*"}}));
    EXPECT_EQ(listing_header_lines(f, "NARROW/SMALL", false)[5], small[4]);
    // LONG and WIDE: 131 columns, the title centred on 65, nothing cut at 79; any other word
    // in a batch run.
    const Page wide = listing_header_lines(f, "LONG", false);
    EXPECT_EQ(wide[0], "1");
    EXPECT_EQ(listing_header_lines(f, "WIDE", false), wide);
    EXPECT_EQ(listing_header_lines(f, "short", true), wide);
    bool title = false, os = false;
    for (const std::string& line : wide) {
        EXPECT_LE(line.size(), 131u);
        title = title || line.find("Setup matrices") == 49u;
        os = os || line.find("Linux 6.1 [6.1.0-18-amd64]") != std::string::npos;
    }
    EXPECT_TRUE(title && os);
}

TEST(listing_header, date_and_time_texts)
{
    std::tm t{};
    t.tm_year = 2010 - 1900;
    t.tm_mon = 10;
    t.tm_mday = 29;
    t.tm_hour = 7;
    t.tm_min = 4;
    t.tm_sec = 9;
    EXPECT_EQ(torva::listing_date(t), "29-NOV-2010");
    EXPECT_EQ(torva::listing_time(t), "07:04:09");
    t.tm_mon = 0;
    t.tm_mday = 1;
    EXPECT_EQ(torva::listing_date(t), "01-JAN-2010");
}

TEST(run_mode, batch_in_any_case_and_the_first_answer_kept)
{
    std::ostringstream quiet;
    torva::CommandLine batch(quiet);
    batch.parse("P", std::vector<std::string>{"P", "/RUN-MODE=batch"});
    torva::CommandLine interactive(quiet);
    interactive.parse("P", std::vector<std::string>{"P", "/RUN-MODE=Interactive"});
    torva::CommandLine none(quiet);
    none.parse("P", std::vector<std::string>{"P", ""});

    torva::RunModeQuery first;
    EXPECT_TRUE(first.is_batch(batch));
    EXPECT_TRUE(first.is_batch(interactive));          // fixed by its first computation
    torva::RunModeQuery second;
    EXPECT_FALSE(second.is_batch(interactive));
    EXPECT_FALSE(second.is_batch(batch));
    torva::RunModeQuery third;
    EXPECT_FALSE(third.is_batch(none));
}

// The program start on units of its own, with the frame variables it reads restored.
class program_start : public ::testing::Test {
protected:
    static constexpr int kInput = 75;
    static constexpr int kOutput = 76;
    TempDir dir{"program_start"};
    std::ostringstream boxes;
    bool status = false;

    torva::ProgramIdentityTexts identity()
    {
        const ListingHeaderFields f = setup_fields();
        return f.identity;
    }
    void SetUp() override
    {
        torva::set_standard_units(kInput, kOutput);
        torva::set_message_box_stream(&boxes);
    }
    void TearDown() override
    {
        torva::units().close(kInput);
        torva::units().close(kOutput);
        torva::frame_variables().put("OUTNAME", "");
        torva::frame_variables().put("INPNAME", "");
        torva::set_standard_units(5, 6);
        torva::set_message_box_stream(nullptr);
    }
};

TEST_F(program_start, opens_the_listing_with_a_backup_and_writes_the_header)
{
    const std::string listing = dir.file("ship.LIS");
    std::ofstream(listing) << "old\n";
    std::ofstream(listing + ".bak") << "older\n";
    torva::frame_variables().put("OUTNAME", listing);
    torva::program_start(identity(), "SHORT", status);
    EXPECT_TRUE(status);
    ASSERT_TRUE(torva::units().is_open(kOutput));
    torva::units().close(kOutput);

    EXPECT_EQ(torva::testing::read_lines(listing + ".bak"), std::vector<std::string>{"old"});
    const auto lines = torva::testing::read_lines(listing);
    // Everything above the fields is independent of the date and the machine.
    const Page expected = listing_header_lines(setup_fields(), "SHORT", false);
    ASSERT_GE(lines.size(), 30u);
    for (std::size_t l = 0; l < 25; ++l) EXPECT_EQ(lines[l], expected[l]) << l + 1;
    EXPECT_EQ(lines[25].substr(0, 24), "  Program id   : 3.1-03 ");
    EXPECT_EQ(lines[27].substr(0, 17), "  Access time  : ");
    EXPECT_EQ(lines[28].find("CPU id           : "), 42u);
}

TEST_F(program_start, noopen_opens_nothing_and_blank_opens_the_program_id_with_mlg)
{
    torva::frame_variables().put("OUTNAME", "NOOPEN");
    ::testing::internal::CaptureStdout();
    torva::program_start(identity(), "SHORT", status);
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("T O R V A _ S E T U P"), std::string::npos);
    EXPECT_TRUE(status);
    EXPECT_FALSE(torva::units().is_open(kOutput));
    torva::frame_variables().put("OUTNAME", "");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    torva::program_start(identity(), "NONE", status);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(torva::units().name_of(kOutput), "TORVA_SETUP.MLG");
    EXPECT_TRUE(std::filesystem::exists(dir.file("TORVA_SETUP.MLG")));
}

TEST_F(program_start, a_listing_open_elsewhere_is_not_opened_again)
{
    constexpr int kOther = 77;
    const std::string listing = dir.file("shared.LIS");
    ASSERT_EQ(torva::units().open(kOther, listing, {}), 0);
    torva::frame_variables().put("OUTNAME", listing);
    torva::program_start(identity(), "NONE", status);
    EXPECT_FALSE(torva::units().is_open(kOutput));
    EXPECT_EQ(torva::units().unit_of(listing), kOther);
    torva::units().close(kOther);
}

TEST_F(program_start, failed_listing_open_stops_with_status_1)
{
    const std::string listing = dir.file("missing_dir/ship.LIS");
    torva::frame_variables().put("OUTNAME", listing);
    try {
        torva::program_start(identity(), "SHORT", status);
        FAIL() << "the start went on without its listing";
    } catch (const torva::RunStopped& stop) {
        EXPECT_EQ(stop.status, 1);
        ASSERT_EQ(stop.lines.size(), 3u);
        EXPECT_EQ(stop.lines[0], "Error opening " + listing);
        EXPECT_EQ(stop.lines[1], "    29:FILE NOT FOUND");
        // and the system's own reason
        EXPECT_EQ(stop.lines[2], "ERROR: Unable to open " + listing + ": No such file or directory");
    }
    EXPECT_FALSE(status);
    EXPECT_EQ(boxes.str().substr(0, boxes.str().find('\n') + 1), "Error: Error opening " + listing + "\n");
}

TEST_F(program_start, inpname_is_opened_for_reading_and_a_missing_one_stops_with_status_1)
{
    const std::string input = dir.file("deck.txt");
    std::ofstream(input) << "first record\n";
    torva::frame_variables().put("OUTNAME", dir.file("deck.LIS"));
    torva::frame_variables().put("INPNAME", input);
    torva::program_start(identity(), "NONE", status);
    std::string line;
    ASSERT_TRUE(torva::units().read_line(kInput, line));
    EXPECT_EQ(line, "first record");
    EXPECT_THROW(torva::units().write_line(kInput, "x"), torva::IoError);
    torva::units().close(kInput);
    torva::units().close(kOutput);
    torva::frame_variables().put("INPNAME", dir.file("absent.txt"));
    try {
        torva::program_start(identity(), "NONE", status);
        FAIL() << "the start went on without its input";
    } catch (const torva::RunStopped& stop) {
        EXPECT_EQ(stop.status, 1);
        EXPECT_EQ(stop.lines.at(0), "Error opening " + dir.file("absent.txt"));
    }
}

TEST_F(program_start, second_box_only_outside_batch_runs)
{
    EXPECT_THROW(torva::stop_on_open_failure("ship.LIS", 58, false), torva::RunStopped);
    EXPECT_EQ(boxes.str(),
              "Error: Error opening ship.LIS\n"
              "Error: OPERATING SYSTEM MESSAGE NO.:     58\n");
    boxes.str("");
    EXPECT_THROW(torva::stop_on_open_failure("ship.LIS", 29, true), torva::RunStopped);
    EXPECT_EQ(boxes.str(), "Error: Error opening ship.LIS\n");
}

}  // namespace
