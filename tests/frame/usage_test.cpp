// --help and --version: answered only for those exact first arguments, with the identity the
// listing header prints, and the manual page kept in step with it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/setup_driver.hpp"
#include "frame/list_directed.hpp"
#include "frame/usage.hpp"
#include "support/run_program.hpp"

namespace {

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
