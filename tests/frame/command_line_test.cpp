// The command-line parser, judged by the option syntax it must accept and the exact message
// lines it must print.
#include "frame/command_line.hpp"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/fortran_runner.hpp"

namespace {

using torva::CommandLine;
using torva::keyword_match;
using torva::lookup_keyword;
using torva::testing::TempDir;

// A store with its own message stream, parsed as the frame start parses: {tag, command}.
struct Parsed {
    std::ostringstream messages;
    CommandLine arguments{messages};
    int errors = 0;

    explicit Parsed(const std::string& command, const std::string& program = "TORVA_SETUP")
    {
        errors = arguments.parse(program, std::vector<std::string>{program, command});
    }
    std::string text(const std::string& name) const
    {
        int status = -1;
        const auto value = arguments.get_text(name, status);
        return status == torva::kQueryOk ? *value : "<status " + std::to_string(status) + ">";
    }
    const torva::StoredArgument& at(const std::string& name) const
    {
        const torva::StoredArgument* a = arguments.find(name);
        if (a == nullptr) throw std::runtime_error("no argument " + name);
        return *a;
    }
};

TEST(keyword_match, exact_abbreviation_hyphen_segments_and_exit)
{
    // -1: exact; the keyword's length: an abbreviation; 0: no match.
    EXPECT_EQ(keyword_match("HEADER", "HEADER"), -1);
    EXPECT_EQ(keyword_match("header", "HEADER"), -1);          // case ignored
    EXPECT_EQ(keyword_match("INP", "INPUT-FILE"), 10);          // keyword's length
    EXPECT_EQ(keyword_match("HEADERS", "HEADER"), 0);           // keyword used up first
    EXPECT_EQ(keyword_match("", "HEADER"), 0);
    EXPECT_EQ(keyword_match("HEX", "HEADER"), 0);
    // A hyphen skips the rest of a segment.
    EXPECT_EQ(keyword_match("DISP-DEV", "DISPLAY-DEVICE"), 14);
    EXPECT_EQ(keyword_match("P-P-S", "PLOT-PAGE-SIZE"), 14);
    EXPECT_EQ(keyword_match("P-F", "PLOT-PAGE-SIZE"), 0);       // F is not the next segment
    EXPECT_EQ(keyword_match("-FILE", "INPUT-FILE"), 0);         // nothing matched before it
    EXPECT_EQ(keyword_match("HEAD-X", "HEADER"), 0);            // no hyphen left to skip to
    EXPECT_EQ(keyword_match("A-C", "AB-CD"), 5);
    EXPECT_EQ(keyword_match("A-C", "AB-CD EF"), 0);             // keyword with a blank
    // EXIT matches only exactly.
    EXPECT_EQ(keyword_match("EXIT", "EXIT"), -1);
    EXPECT_EQ(keyword_match("ex", "exit"), 0);
    EXPECT_EQ(keyword_match("EXI", "EXIT"), 0);
    EXPECT_EQ(keyword_match("FORCED-E", "FORCED-EXIT"), 11);    // only the whole word EXIT
}

TEST(lookup_keyword, exact_beats_abbreviations_and_ties_are_ambiguous)
{
    constexpr std::array<std::string_view, 4> words{"NAME", "NAMES", "NAMELIST", "NETDEBUG"};
    EXPECT_EQ(lookup_keyword("NAME", words), 0);                // exact wins over two others
    EXPECT_EQ(lookup_keyword("NAMEL", words), 2);
    EXPECT_EQ(lookup_keyword("NAMES", words), 1);
    EXPECT_EQ(lookup_keyword("N", words), torva::kLookupAmbiguous);
    EXPECT_EQ(lookup_keyword("X", words), torva::kLookupNotFound);
    constexpr std::array<std::string_view, 2> twins{"ON", "on"};
    EXPECT_EQ(lookup_keyword("ON", twins), torva::kLookupAmbiguous);
}

TEST(number_syntax, real_values)
{
    EXPECT_EQ(torva::parse_real_value("1d0"), 1.0);
    EXPECT_EQ(torva::parse_real_value("1D-2"), 0.01);
    EXPECT_EQ(torva::parse_real_value("-2.5e1"), -25.0);
    EXPECT_EQ(torva::parse_real_value("+3"), 3.0);
    EXPECT_EQ(torva::parse_real_value(".5"), 0.5);
    EXPECT_EQ(torva::parse_real_value("7  "), 7.0);                // trailing blanks allowed
    EXPECT_EQ(torva::parse_real_value("1e308"), 1e308);
    for (const char* bad : {"", " 5", "e5", "abc", "1x", "1.0.0", "0x10", "-nan", "-inf", "1e",
                            "1e309", "-1e309", "1.7976931348623157e308"})
        EXPECT_FALSE(torva::parse_real_value(bad).has_value()) << bad;
}

TEST(number_syntax, integer_values_are_whole_and_inside_the_32_bit_range)
{
    EXPECT_EQ(torva::parse_integer_value("42"), 42);
    EXPECT_EQ(torva::parse_integer_value("1e3"), 1000);
    EXPECT_EQ(torva::parse_integer_value("-2.0"), -2);
    EXPECT_EQ(torva::parse_integer_value("2147483646"), 2147483646);
    EXPECT_EQ(torva::parse_integer_value("-2147483646"), -2147483646);
    for (const char* bad : {"2.5", "2147483647", "-2147483647", "1e10", "x1"})
        EXPECT_FALSE(torva::parse_integer_value(bad).has_value()) << bad;
}

TEST(command_line, noheader_stores_header_none)
{
    Parsed p("/NOHEADER");
    EXPECT_EQ(p.errors, 0);
    EXPECT_EQ(p.text("HEADER"), "NONE");
    EXPECT_EQ(p.at("HEADER").integer, 0);
    EXPECT_EQ(p.at("HEADER").type, torva::kArgKeyword);
    EXPECT_EQ(p.text("EXECUTABLE"), "TORVA_SETUP");
    EXPECT_EQ(p.messages.str(), "");
}

TEST(command_line, negating_a_plain_option_is_refused)
{
    Parsed p("/NONAME /NOEXE");
    EXPECT_EQ(p.errors, 2);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: Negation (/NONAME) of /NAME is not allowed.\n"
              "Cmd.Line: Negation (/NOEXECUTABLE) of /EXECUTABLE is not allowed.\n"
              "Cmd.Line: 2 errors in parsing of command line arguments.\n");
    EXPECT_EQ(p.arguments.is_present("NAME"), 0);
    EXPECT_EQ(p.arguments.is_present("NONAME"), 0);
}

TEST(command_line, ambiguous_option_is_ignored)
{
    Parsed p("/N /NAME=x");
    EXPECT_EQ(p.errors, 1);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: Ambiguous match: /N has been ignored.\n"
              "Cmd.Line: 1 error in parsing of command line arguments.\n");
    EXPECT_EQ(p.text("NAME"), "x");
    EXPECT_EQ(p.arguments.arguments().size(), 2u);   // EXECUTABLE and NAME only
}

TEST(command_line, abbreviated_option_is_stored_under_its_full_name_and_replaced)
{
    Parsed p("/INP=ship /INPUT-FILE=hull");
    EXPECT_EQ(p.errors, 0);
    ASSERT_NE(p.arguments.find("INPUT-FILE"), nullptr);
    EXPECT_EQ(p.arguments.find("INPUT-FILE")->name, "INPUT-FILE");
    EXPECT_EQ(p.text("INPUT"), "hull");          // a query may abbreviate the stored name
}

TEST(command_line, keyword_values_are_completed_and_numbered)
{
    Parsed p("/INTERFACE=win /DISP-DEV=svga-1024 /PLOT-F=post /PLOT-COL=grey");
    EXPECT_EQ(p.text("INTERFACE"), "WINDOWS");
    EXPECT_EQ(p.at("INTERFACE").integer, 1);
    EXPECT_EQ(p.text("DISPLAY-DEVICE"), "SVGA-1024x768");
    EXPECT_EQ(p.at("DISPLAY-DEVICE").integer, 6);
    EXPECT_EQ(p.text("PLOT-FORMAT"), "POSTSCRIPT");
    EXPECT_EQ(p.at("PLOT-FORMAT").integer, 5);
    EXPECT_EQ(p.text("PLOT-COLOUR"), "GREYSCALE");
    EXPECT_EQ(p.at("PLOT-COLOUR").integer, 2);
}

TEST(command_line, unknown_keyword_value_is_kept_and_ambiguous_one_dropped)
{
    Parsed p("/PLOT-FORMAT=XYZ /PLOT-ORIENTATION=L /DISPLAY-DEVICE=WESTWARD /HEADER");
    EXPECT_EQ(p.text("PLOT-FORMAT"), "XYZ");
    EXPECT_EQ(p.at("PLOT-FORMAT").integer, -1);
    EXPECT_EQ(p.text("PLOT-ORIENTATION"), "LANDSCAPE");
    EXPECT_EQ(p.arguments.is_present("DISPLAY-DEVICE"), 0);   // WESTWARD-3219 or -3220
    EXPECT_EQ(p.arguments.is_present("HEADER"), 0);
    EXPECT_EQ(p.errors, 1);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: /HEADER must have a value.\n"
              "Cmd.Line: 1 error in parsing of command line arguments.\n");
}

TEST(command_line, switches_names_and_negated_values)
{
    Parsed p("/FORC /NONETDEBUG /NOARGFILE /NOREAD-SUPER /NOARGINFO /COMPANY-NAME=KESTA");
    EXPECT_EQ(p.text("FORCED-EXIT"), "ON");
    EXPECT_EQ(p.at("FORCED-EXIT").integer, 1);
    EXPECT_EQ(p.text("NETDEBUG"), "OFF");
    EXPECT_EQ(p.at("NETDEBUG").integer, 0);
    EXPECT_EQ(p.arguments.is_present("ARGFILE"), 1);
    EXPECT_EQ(p.text("ARGFILE"), "<status 1>");              // present without text
    EXPECT_EQ(p.at("READ-SUPERELEMENT").integer, 0);
    EXPECT_EQ(p.text("READ-SUPERELEMENT"), "<status 1>");
    EXPECT_EQ(p.text("ARGINFO"), "NONE");
    EXPECT_EQ(p.arguments.report_level(), torva::kReportNone);
    EXPECT_EQ(p.text("COMPANY-NAME"), "KESTA");
}

TEST(command_line, integer_and_real_values_are_checked)
{
    Parsed p("/WINDOW-SIZE=2.5 /EYEDIR-X=1d0 /EYEDIR-Y=abc /EYEDIR-Z /PARENT-NET /WRITE-SUP=-12");
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: /WINDOW-SIZE(=2.5) must have an integer value.\n"
              "Cmd.Line: /EYEDIR-Y(=abc) must have a numerical value.\n"
              "Cmd.Line: /EYEDIR-Z must have a numerical value.\n"
              "Cmd.Line: /PARENT-NETADDR must have an integer value.\n"
              "Cmd.Line: 4 errors in parsing of command line arguments.\n");
    EXPECT_EQ(p.errors, 4);
    EXPECT_EQ(p.arguments.is_present("WINDOW-SIZE"), 0);
    EXPECT_EQ(p.at("EYEDIR-X").real, 1.0);
    EXPECT_EQ(p.text("EYEDIR-X"), "1d0");                      // the typed text is kept
    EXPECT_EQ(p.at("WRITE-SUPERELEMENT").integer, -12);
}

TEST(command_line, slash_ends_a_value_unless_quoted)
{
    Parsed plain("/NAME=a/b");
    EXPECT_EQ(plain.text("NAME"), "a");
    ASSERT_NE(plain.arguments.find("b"), nullptr);
    EXPECT_EQ(plain.at("b").type, torva::kArgText);
    EXPECT_EQ(plain.text("b"), "<status 1>");

    Parsed quoted("/NAME='a/b' /PREFIX=\"c d/e\"/MODE=''");
    EXPECT_EQ(quoted.text("NAME"), "a/b");
    EXPECT_EQ(quoted.text("PREFIX"), "c d/e");
    EXPECT_EQ(quoted.text("MODE"), "");                        // two quotes: empty value
    EXPECT_EQ(quoted.errors, 0);

    // Blanks around "=" are skipped; a missing closing quote runs to the end of the string,
    // which the join of the arguments ends with a blank.
    Parsed loose("/NAME = x /PREFIX='open end");
    EXPECT_EQ(loose.text("NAME"), "x");
    EXPECT_EQ(loose.text("PREFIX"), "open end ");
}

TEST(command_line, missing_value_ends_the_scan_of_the_string)
{
    Parsed p("/INPUT= /NAME=x");
    EXPECT_EQ(p.errors, 1);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: Missing value after /INPUT= \n"
              "Cmd.Line: 1 error in parsing of command line arguments.\n");
    EXPECT_EQ(p.arguments.is_present("NAME"), 0);

    Parsed at_end("/MODE=");
    EXPECT_EQ(at_end.messages.str().substr(0, 37), "Cmd.Line: Missing value after /MODE= ");
}

TEST(command_line, lone_slash_is_reported_and_scanning_goes_on)
{
    Parsed p("/ word");
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: Missing command line argument after / \n"
              "Cmd.Line: 1 error in parsing of command line arguments.\n");
    EXPECT_EQ(p.text("ARG1"), "word");
}

TEST(command_line, line_shorthand_must_stand_alone)
{
    Parsed bad("-LINEX -Lq");
    EXPECT_EQ(bad.messages.str(),
              "Cmd.Line: -LINE must stand by itself.\n"
              "Cmd.Line: -L must stand by itself.\n"
              "Cmd.Line: 2 errors in parsing of command line arguments.\n");
    EXPECT_EQ(bad.arguments.is_present("INTERFACE"), 0);

    Parsed l("-l");
    EXPECT_EQ(l.text("INTERFACE"), "LINE");
    EXPECT_EQ(l.at("INTERFACE").integer, 0);
    Parsed line("-line");
    EXPECT_EQ(line.text("INTERFACE"), "LINE");
    EXPECT_EQ(line.errors, 0);
}

TEST(command_line, three_positional_words_and_the_fourth_dropped_silently)
{
    // A word ends at a slash too: "/three" is an option between the words.
    Parsed p("one two/three four five");
    EXPECT_EQ(p.text("ARG1"), "one");
    EXPECT_EQ(p.text("ARG2"), "two");
    EXPECT_EQ(p.arguments.is_present("three"), 1);
    EXPECT_EQ(p.text("ARG3"), "four");
    EXPECT_EQ(p.arguments.is_present("ARG4"), 0);
    EXPECT_EQ(p.errors, 0);
    EXPECT_EQ(p.messages.str(), "");
    EXPECT_EQ(p.arguments.is_present("ARG"), 0);               // ambiguous query
    int status = -1;
    EXPECT_FALSE(p.arguments.get_text("ARG", status).has_value());
    EXPECT_EQ(status, torva::kQueryAmbiguous);
}

TEST(command_line, the_101st_name_is_refused)
{
    // EXECUTABLE is the first entry, so /X1 .. /X99 fill the store.
    std::string command;
    for (int k = 1; k <= 100; ++k) command += "/X" + std::to_string(k) + "=" + std::to_string(k) + " ";
    Parsed p(command);
    EXPECT_EQ(p.arguments.arguments().size(), 100u);
    EXPECT_EQ(p.text("X99"), "99");
    EXPECT_EQ(p.arguments.is_present("X100"), 0);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: Too many command line arguments. Max 100 allowed.\n"
              "Cmd.Line: 1 error in parsing of command line arguments.\n");
    // An existing name is still replaced when the store is full.
    EXPECT_EQ(p.errors, 1);
}

TEST(command_line, report_levels_follow_arginfo)
{
    Parsed quiet("/ARGINFO=NONE /N /WINDOW-SIZE=x");
    EXPECT_EQ(quiet.messages.str(), "");
    EXPECT_EQ(quiet.errors, 2);                                // counted all the same

    Parsed unknown("/ARGINFO=foo /N");                         // integer -1: below ERROR
    EXPECT_EQ(unknown.messages.str(), "");

    Parsed all("/ARGINFO=ALL /INP=ship /NOARGFILE /N");
    EXPECT_EQ(all.messages.str(),
              "     /INPUT-FILE = ship\n"
              "     /ARGFILE = (Not specified)\n"
              "Cmd.Line: Ambiguous match: /N has been ignored.\n"
              "Cmd.Line: 1 error in parsing of command line arguments.\n");
}

TEST(command_line, long_messages_are_cut_to_the_pending_buffer)
{
    // "Missing value after /" + name + "= \n" is 24 + len characters; the 112-byte buffer
    // holds 111 characters and its NUL, so a name of 87 fits and one of 88 does not.
    const std::string fits(87, 'Q');
    Parsed whole("/" + fits + "=");
    EXPECT_EQ(whole.messages.str().substr(0, whole.messages.str().find('\n') + 1),
              "Cmd.Line: Missing value after /" + fits + "= \n");

    const std::string one_over(88, 'Q');
    Parsed boundary("/" + one_over + "=");
    EXPECT_EQ(boundary.messages.str().substr(0, boundary.messages.str().find('\n') + 1),
              "Cmd.Line: Missing value after /" + one_over + "=\n");   // 110 characters + newline

    const std::string longer(200, 'Q');
    Parsed cut("/" + longer + "=");
    const std::string first = cut.messages.str().substr(0, cut.messages.str().find('\n') + 1);
    EXPECT_EQ(first.size(), 10u + 111u);                     // "Cmd.Line: " + buffer
    EXPECT_EQ(first, "Cmd.Line: Missing value after /" + std::string(89, 'Q') + "\n");
}

TEST(command_line, queries_report_their_status)
{
    Parsed p("/INP=ship /NOARGFILE");
    int status = -1;
    EXPECT_EQ(p.arguments.get_text("INPUT", status), std::optional<std::string>("ship"));
    EXPECT_EQ(status, torva::kQueryOk);
    EXPECT_FALSE(p.arguments.get_text("NOTHING", status).has_value());
    EXPECT_EQ(status, torva::kQueryMissing);
    EXPECT_FALSE(p.arguments.get_text("ARGFILE", status).has_value());
    EXPECT_EQ(status, torva::kQueryMissing);

    std::string buffer(10, 'x');
    EXPECT_EQ(p.arguments.get_into_fixed_text("INPUT     ", buffer), torva::kQueryOk);
    EXPECT_EQ(buffer, "ship      ");
    std::string small(3, 'x');
    EXPECT_EQ(p.arguments.get_into_fixed_text("INPUT", small), torva::kQueryTruncated);
    EXPECT_EQ(small, "shi");
    EXPECT_EQ(p.arguments.get_into_fixed_text("NOTHING", buffer), torva::kQueryMissing);
    EXPECT_EQ(buffer, std::string(10, ' '));
}

TEST(command_line, set_integer_keeps_the_low_32_bits_and_no_text)
{
    std::ostringstream out;
    CommandLine arguments(out);
    arguments.set_integer("HINST", (std::int64_t{7} << 32) + 5);
    const torva::StoredArgument* a = arguments.find("HINST");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->type, torva::kArgInteger);
    EXPECT_EQ(a->integer, 5);
    EXPECT_FALSE(a->text.has_value());
    arguments.set_integer("HINST", -1);
    EXPECT_EQ(arguments.find("HINST")->integer, -1);
    EXPECT_EQ(arguments.arguments().size(), 1u);
}

class argument_file : public ::testing::Test {
protected:
    TempDir dir{"argfile"};
    std::string path = dir.file("run.arg");

    void write(const std::string& text) { std::ofstream(path) << text; }
};

TEST_F(argument_file, active_sections_add_but_never_override)
{
    write("/MODE=before-any-section\n"
          "[OTHER]\n"
          "/COMPANY-NAME=other\n"
          "[TORVA_SETUP]\n"
          "INPUT-FILE=from_file\n"
          "   /PLOT-FORMAT=POST\n"
          "/PLOT-FORMAT=HPGL-2\n"
          "\n"
          "[kesta]\n"
          "/MODE=from-kesta\r\n"
          "[OTHER2]\n"
          "/VERSION=x\n");
    Parsed p("/INP=cmd /ARGFILE='" + path + "'");
    EXPECT_EQ(p.errors, 0);
    EXPECT_EQ(p.messages.str(), "");
    EXPECT_EQ(p.text("INPUT-FILE"), "cmd");                   // the command line wins
    EXPECT_EQ(p.text("PLOT-FORMAT"), "POSTSCRIPT");           // the first in the file wins
    EXPECT_EQ(p.text("MODE"), "from-kesta");
    EXPECT_EQ(p.arguments.is_present("COMPANY-NAME"), 0);
    EXPECT_EQ(p.arguments.is_present("VERSION"), 0);

    // The replace flag is back to 1 afterwards: a second command line replaces values.
    const int errors = p.arguments.parse("TORVA_SETUP",
                                         std::vector<std::string>{"TORVA_SETUP", "/MODE=again"});
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(p.text("MODE"), "again");
}

TEST_F(argument_file, bad_line_is_counted_and_named)
{
    write("[TORVA_SETUP]\n  /WINDOW-SIZE=big\n/NAME=ok\n");
    Parsed p("/ARGFILE='" + path + "'");
    EXPECT_EQ(p.errors, 1);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: /WINDOW-SIZE(=big) must have an integer value.\n"
              "Cmd.Line: Cannot interpret: /WINDOW-SIZE=big\n");
    EXPECT_EQ(p.text("NAME"), "ok");
}

TEST_F(argument_file, section_is_the_program_name)
{
    write("[OTHER_PROGRAM]\n/NAME=other\n[TORVA_SETUP]\n/NAME=setup\n");
    Parsed p("/ARGFILE='" + path + "'", "OTHER_PROGRAM");
    EXPECT_EQ(p.text("NAME"), "other");
}

TEST_F(argument_file, reading_is_reported_at_level_all)
{
    write("[KESTA]\n/MODE=m\n");
    Parsed read("/ARGINFO=ALL /ARGFILE='" + path + "'");
    EXPECT_EQ(read.messages.str(),
              "     /ARGFILE = " + path + "\n"
              "Reading arg. file: " + path + "\n"
              "     /MODE = m\n");

    const std::string missing = dir.file("none.arg");
    Parsed absent("/ARGINFO=ALL /ARGFILE='" + missing + "'");
    EXPECT_EQ(absent.messages.str(),
              "     /ARGFILE = " + missing + "\n"
              "Arg. file : " + missing + " not found\n");
    Parsed silent("/ARGFILE='" + missing + "'");
    EXPECT_EQ(silent.messages.str(), "");
}

}  // namespace
