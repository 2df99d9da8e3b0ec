// The listing header page, the program start and the answers to --help and --version.  The header pages of each style are kept
// in listing_header.golden, checked by hand against the layout rules when it was made: the
// SHORT page of these fields (n = 11, m = 30) has its frame in columns 20 and 60 (rule (1)
// gives 24 and 55, but 45 + m - m/2 = 60 lies further right), the spaced id from column 29,
// the title from 25, the field lines 26 to 30 cut at column 79; SMALL raises the frame and puts
// the family word on line 5 from column 33; LONG is 131 columns with the title centred on 65.
#include "frame/program_start.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "driver/setup_driver.hpp"
#include "frame/command_line.hpp"
#include "frame/frame_variables.hpp"
#include "frame/list_directed.hpp"
#include "frame/message_box.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "frame/usage.hpp"
#include "support/run_program.hpp"

namespace {

using torva::ListingHeaderFields;
using torva::listing_header_lines;
using torva::testing::TempDir;
using Page = std::vector<std::string>;

// The program's own identity, with the fields of one run.
ListingHeaderFields setup_fields()
{
    ListingHeaderFields f;
    f.identity = torva::setup_program_identity();
    f.date = "05-DEC-2025", f.time = "23:50:01", f.user = torva::fixed_text("kim", 20), f.account = std::string(80, ' ');
    f.processor = "8664", f.operating_system = "Linux 6.1 [6.1.0-18-amd64]";
    f.machine_number = 20251205;
    f.installation = " node7";
    return f;
}

const std::string kGolden = std::string(TORVA_SOURCE_DIR) + "/tests/frame/listing_header.golden";

// The golden file: "== STYLE" lines, each followed by its page.
std::map<std::string, Page> golden_pages()
{
    std::map<std::string, Page> pages;
    Page* page = nullptr;
    for (const std::string& line : torva::testing::read_lines(kGolden))
        if (line.rfind("== ", 0) == 0) page = &pages[line.substr(3)];
        else if (page) page->push_back(line);
    return pages;
}

TEST(listing_header, each_style_gives_its_golden_page)
{
    const ListingHeaderFields f = setup_fields();
    const auto golden = golden_pages();
    ASSERT_EQ(golden.size(), 3u) << kGolden;
    for (const auto& [style, page] : golden) EXPECT_EQ(listing_header_lines(f, style, false), page) << style;
    const Page short_page = golden.at("SHORT");
    Page narrow{"1"};
    narrow.insert(narrow.end(), short_page.begin(), short_page.end());
    EXPECT_EQ(listing_header_lines(f, "NARROW", false), narrow);
    EXPECT_EQ(listing_header_lines(f, "NARROW/SMALL", false)[5], golden.at("SHORT/SMALL")[4]);
    EXPECT_TRUE(listing_header_lines(f, "NONE", false).empty());
    EXPECT_EQ(listing_header_lines(f, "SHORT     ", false), short_page);
    EXPECT_EQ(listing_header_lines(f, "FANCY", false), short_page);   // any other word: SHORT ...
    EXPECT_EQ(listing_header_lines(f, "WIDE", false), golden.at("LONG"));
    EXPECT_EQ(listing_header_lines(f, "short", true), golden.at("LONG"));   // ... or LONG in a batch run
    std::tm t{};
    t.tm_year = 2010 - 1900, t.tm_mon = 10, t.tm_mday = 29, t.tm_hour = 7, t.tm_min = 4, t.tm_sec = 9;
    EXPECT_EQ(torva::listing_date(t) + " " + torva::listing_time(t), "29-NOV-2010 07:04:09");
    t.tm_mon = 0, t.tm_mday = 1;
    EXPECT_EQ(torva::listing_date(t), "01-JAN-2010");
}

TEST(run_mode, batch_in_any_case_and_the_first_answer_kept)
{
    std::ostringstream quiet;
    torva::CommandLine batch(quiet), interactive(quiet), none(quiet);
    batch.parse("P", std::vector<std::string>{"P", "/RUN-MODE=batch"});
    interactive.parse("P", std::vector<std::string>{"P", "/RUN-MODE=Interactive"});
    none.parse("P", std::vector<std::string>{"P", ""});
    torva::RunModeQuery first, second, third;
    EXPECT_TRUE(first.is_batch(batch));
    EXPECT_TRUE(first.is_batch(interactive));          // fixed by its first computation
    EXPECT_FALSE(second.is_batch(interactive));
    EXPECT_FALSE(second.is_batch(batch));
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

    torva::ProgramIdentityTexts identity() { return torva::setup_program_identity(); }
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
    const Page expected = golden_pages().at("SHORT");
    ASSERT_GE(lines.size(), 30u);
    for (std::size_t l = 0; l < 25; ++l) EXPECT_EQ(lines[l], expected[l]) << l + 1;
    EXPECT_EQ(lines[25].substr(0, 24), "  Program id   : 3.1-03 ");
    EXPECT_EQ(lines[27].substr(0, 17), "  Access time  : ");
    EXPECT_EQ(lines[28].find("CPU id           : "), 42u);
}

TEST_F(program_start, noopen_opens_nothing_blank_opens_mlg_and_a_shared_listing_is_not_reopened)
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
    torva::units().close(kOutput);
    // A listing already open on another unit is not opened again.
    const std::string shared = dir.file("shared.LIS");
    ASSERT_EQ(torva::units().open(77, shared, {}), 0);
    torva::frame_variables().put("OUTNAME", shared);
    torva::program_start(identity(), "NONE", status);
    EXPECT_FALSE(torva::units().is_open(kOutput));
    EXPECT_EQ(torva::units().unit_of(shared), 77);
    torva::units().close(77);
}

TEST_F(program_start, inpname_is_read_a_missing_one_stops_with_status_1_and_a_box_per_batch_rule)
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
        EXPECT_EQ(stop.lines.at(1), "    29:FILE NOT FOUND");
    }
    // The second box, with the reason, only outside batch runs.
    boxes.str("");
    EXPECT_THROW(torva::stop_on_open_failure("ship.LIS", 58, false), torva::RunStopped);
    EXPECT_EQ(boxes.str(), "Error: Error opening ship.LIS\nError: OPERATING SYSTEM MESSAGE NO.:     58\n");
    boxes.str("");
    EXPECT_THROW(torva::stop_on_open_failure("ship.LIS", 29, true), torva::RunStopped);
    EXPECT_EQ(boxes.str(), "Error: Error opening ship.LIS\n");
}

// --help and --version: answered only for those exact first arguments, with the identity the
// listing header prints, and the manual page kept in step with it.
// Runs answer_usage_request on a command line; returns (answered, printed text).
std::pair<bool, std::string> ask(std::vector<const char*> argv)
{
    std::ostringstream out;
    const bool answered = torva::answer_usage_request(static_cast<int>(argv.size()), argv.data(),
                                                      torva::setup_program_identity(), out);
    return {answered, out.str()};
}

TEST(usage, help_names_the_input_option_and_the_files_written)
{
    const auto [answered, text] = ask({"/opt/torva/bin/torva_setup", "--help"});
    ASSERT_TRUE(answered);
    EXPECT_EQ(text.rfind("Usage: torva_setup ", 0), 0u) << "the directories of argv[0] are dropped:\n" << text;
    for (const char* needed : {"/INPUT=name", ".LIS", ".jou1", ".jou1a", ".jou2", ".jou3", ".jou4", ".jou05",
                               "setup_nml.log", "FINISHED: SUCCESS", "Exit status", "/ERROR-EXIT", "torva-inspect"})
        EXPECT_NE(text.find(needed), std::string::npos) << "missing " << needed;
    // A terminal of 80 columns shows every line whole.
    std::istringstream lines(text);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        EXPECT_LE(line.size(), 80u) << "line " << number << ": " << line;
    }
    const torva::ProgramIdentityTexts id = torva::setup_program_identity();
    const auto [shown, version] = ask({"torva_setup", "--version"});
    ASSERT_TRUE(shown);
    EXPECT_EQ(version.rfind("torva_setup ", 0), 0u) << version;
    for (const std::string& part : {torva::trimmed(id.version), torva::trimmed(id.release_date), torva::trimmed(id.title)})
        EXPECT_NE(version.find(part), std::string::npos) << version;
}

TEST(usage, every_other_command_line_goes_to_the_frame_untouched)
{
    const std::vector<std::vector<const char*>> others = {
        {"torva_setup"},                          // no arguments: a run with INPUT "setup"
        {"torva_setup", "/INPUT=wigley.inp"},
        {"torva_setup", "/INPUT=x", "--help"},    // only the first argument counts
        {"torva_setup", "--HELP"},                // exact words only
        {"torva_setup", "-help"},
        {"torva_setup", "--version=1"},
        {"torva_setup", "/HELP"},
    };
    for (const auto& argv : others) {
        const auto [answered, text] = ask(argv);
        EXPECT_FALSE(answered) << argv.back();
        EXPECT_TRUE(text.empty()) << argv.back() << " printed: " << text;
    }
    std::ostringstream out;
    EXPECT_FALSE(torva::answer_usage_request(0, nullptr, torva::setup_program_identity(), out));
}

TEST(usage, manual_page_carries_the_version_and_renders_without_troff_warnings)
{
    using torva::testing::run_command;
    using torva::testing::shell_quote;
    const std::string page = std::string(TORVA_SOURCE_DIR) + "/doc/torva_setup.1";
    const torva::ProgramIdentityTexts id = torva::setup_program_identity();
    const std::string text = torva::testing::read_text(page);
    const std::string th = text.substr(text.find("\n.TH ") + 1, text.find('\n', text.find("\n.TH ") + 1) - text.find("\n.TH ") - 1);
    EXPECT_NE(th.find("\"Torva Setup " + torva::trimmed(id.version) + "\""), std::string::npos) << th;
    EXPECT_NE(th.find("\"" + torva::trimmed(id.release_date) + "\""), std::string::npos) << th;
    if (run_command("command -v groff").exit_code != 0) GTEST_SKIP() << "groff is not installed";
    const auto check = run_command("groff -man -Tutf8 -ww -z " + shell_quote(page));   // all warnings, no output
    EXPECT_EQ(check.exit_code, 0) << check.output;
    EXPECT_TRUE(check.output.empty()) << check.output;
    const auto shown = run_command("groff -man -Tascii " + shell_quote(page) + " | col -b");
    for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "EXIT STATUS", "EXAMPLES"})
        EXPECT_NE(shown.output.find(std::string("\n") + section + "\n"), std::string::npos) << "no section " << section;
}

}  // namespace
