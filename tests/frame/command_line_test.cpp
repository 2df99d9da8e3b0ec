// The command-line parser, judged by the option syntax it must accept and the exact message
// lines it must print, and the frame start: the command string from the process's arguments
// (read back through the parser; the corpus of command lines runs the whole program on many
// more) and what Vekmain leaves in the store.
#include "frame/command_line.hpp"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "frame/vekmain.hpp"
#include "reliability/corpus.hpp"

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
    Parsed(std::int64_t hinst, const std::string& command)   // as the frame start parses it
    {
        EXPECT_EQ(torva::Vekmain(hinst, torva::kProgramTag, command, arguments), 0);
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

TEST(keyword_match, abbreviations_hyphen_segments_exit_lookup_and_number_syntax)
{
    // -1: exact (case ignored); the keyword's length: an abbreviation; 0: no match.  A hyphen
    // skips the rest of a segment; EXIT matches only as the whole word.
    const std::tuple<const char*, const char*, int> matches[] = {
        {"HEADER", "HEADER", -1}, {"header", "HEADER", -1}, {"INP", "INPUT-FILE", 10}, {"HEADERS", "HEADER", 0},
        {"", "HEADER", 0}, {"HEX", "HEADER", 0}, {"DISP-DEV", "DISPLAY-DEVICE", 14}, {"P-P-S", "PLOT-PAGE-SIZE", 14},
        {"P-F", "PLOT-PAGE-SIZE", 0}, {"-FILE", "INPUT-FILE", 0}, {"HEAD-X", "HEADER", 0}, {"A-C", "AB-CD", 5},
        {"A-C", "AB-CD EF", 0}, {"EXIT", "EXIT", -1}, {"ex", "exit", 0}, {"EXI", "EXIT", 0},
        {"FORCED-E", "FORCED-EXIT", 11}};
    for (const auto& [given, keyword, want] : matches) EXPECT_EQ(keyword_match(given, keyword), want) << given << " " << keyword;
    // An exact match beats abbreviations; two abbreviations (or twins) are ambiguous.
    constexpr std::array<std::string_view, 4> words{"NAME", "NAMES", "NAMELIST", "NETDEBUG"};
    EXPECT_EQ(lookup_keyword("NAME", words), 0);
    EXPECT_EQ(lookup_keyword("NAMEL", words), 2);
    EXPECT_EQ(lookup_keyword("NAMES", words), 1);
    EXPECT_EQ(lookup_keyword("N", words), torva::kLookupAmbiguous);
    EXPECT_EQ(lookup_keyword("X", words), torva::kLookupNotFound);
    constexpr std::array<std::string_view, 2> twins{"ON", "on"};
    EXPECT_EQ(lookup_keyword("ON", twins), torva::kLookupAmbiguous);
    // Reals in Fortran forms, finite; integers whole and inside (-2^31+1, 2^31-1).
    const std::pair<const char*, double> reals[] = {{"1d0", 1.0}, {"1D-2", 0.01}, {"-2.5e1", -25.0}, {"+3", 3.0},
                                                    {".5", 0.5}, {"7  ", 7.0}, {"1e308", 1e308}};
    for (const auto& [text, value] : reals) EXPECT_EQ(torva::parse_real_value(text), value) << text;
    for (const char* bad : {"", " 5", "e5", "abc", "1x", "1.0.0", "0x10", "-nan", "-inf", "1e", "1e309", "-1e309",
                            "1.7976931348623157e308"})
        EXPECT_FALSE(torva::parse_real_value(bad).has_value()) << bad;
    const std::pair<const char*, int> integers[] = {{"42", 42}, {"1e3", 1000}, {"-2.0", -2}, {"2147483646", 2147483646},
                                                    {"-2147483646", -2147483646}};
    for (const auto& [text, value] : integers) EXPECT_EQ(torva::parse_integer_value(text), value) << text;
    for (const char* bad : {"2.5", "2147483647", "-2147483647", "1e10", "x1"})
        EXPECT_FALSE(torva::parse_integer_value(bad).has_value()) << bad;
}

// Each row: a command string, the messages it prints (without the "Cmd.Line: " of each
// line, '|' between lines) and what is stored: "NAME=text" (the text a query returns),
// "NAME#n" (the stored integer), "NAME?n" (is_present), "NAME~x" (the stored real).
struct Row {
    const char* command;
    const char* messages;
    std::vector<std::string> stored;
};

const Row kRows[] = {
    {"/NOHEADER", "", {"HEADER=NONE", "HEADER#0", "EXECUTABLE=TORVA_SETUP"}},
    {"/NONAME /NOEXE", "Negation (/NONAME) of /NAME is not allowed.|Negation (/NOEXECUTABLE) of /EXECUTABLE is "
     "not allowed.|2 errors in parsing of command line arguments.", {"NAME?0", "NONAME?0"}},
    {"/N /NAME=x", "Ambiguous match: /N has been ignored.|1 error in parsing of command line arguments.", {"NAME=x"}},
    {"/INP=ship /INPUT-FILE=hull", "", {"INPUT=hull", "INPUT-FILE=hull"}},
    {"/INTERFACE=win /DISP-DEV=svga-1024 /PLOT-F=post /PLOT-COL=grey", "",
     {"INTERFACE=WINDOWS", "INTERFACE#1", "DISPLAY-DEVICE=SVGA-1024x768", "DISPLAY-DEVICE#6", "PLOT-FORMAT=POSTSCRIPT",
      "PLOT-FORMAT#5", "PLOT-COLOUR=GREYSCALE", "PLOT-COLOUR#2"}},
    {"/PLOT-FORMAT=XYZ /PLOT-ORIENTATION=L /DISPLAY-DEVICE=WESTWARD /HEADER",
     "/HEADER must have a value.|1 error in parsing of command line arguments.",
     {"PLOT-FORMAT=XYZ", "PLOT-FORMAT#-1", "PLOT-ORIENTATION=LANDSCAPE", "DISPLAY-DEVICE?0", "HEADER?0"}},
    {"/FORC /NONETDEBUG /NOARGFILE /NOREAD-SUPER /NOARGINFO /COMPANY-NAME=KESTA", "",
     {"FORCED-EXIT=ON", "FORCED-EXIT#1", "NETDEBUG=OFF", "NETDEBUG#0", "ARGFILE?1", "ARGFILE=<status 1>",
      "READ-SUPERELEMENT#0", "ARGINFO=NONE", "COMPANY-NAME=KESTA"}},
    {"/WINDOW-SIZE=2.5 /EYEDIR-X=1d0 /EYEDIR-Y=abc /EYEDIR-Z /PARENT-NET /WRITE-SUP=-12",
     "/WINDOW-SIZE(=2.5) must have an integer value.|/EYEDIR-Y(=abc) must have a numerical value.|/EYEDIR-Z must "
     "have a numerical value.|/PARENT-NETADDR must have an integer value.|4 errors in parsing of command line "
     "arguments.", {"WINDOW-SIZE?0", "EYEDIR-X~1", "EYEDIR-X=1d0", "WRITE-SUPERELEMENT#-12"}},
    // The frame's rule inside one command string: a slash ends a value unless it is quoted.
    {"/NAME=a/b", "", {"NAME=a", "b=<status 1>"}},
    {"/NAME='a/b' /PREFIX=\"c d/e\"/MODE=''", "", {"NAME=a/b", "PREFIX=c d/e", "MODE="}},
    {"/NAME = x /PREFIX='open end", "", {"NAME=x", "PREFIX=open end "}},
    {"/INPUT= /NAME=x", "Missing value after /INPUT= |1 error in parsing of command line arguments.", {"NAME?0"}},
    {"/ word", "Missing command line argument after / |1 error in parsing of command line arguments.", {"ARG1=word"}},
    {"-LINEX -Lq", "-LINE must stand by itself.|-L must stand by itself.|2 errors in parsing of command line "
     "arguments.", {"INTERFACE?0"}},
    {"-l", "", {"INTERFACE=LINE", "INTERFACE#0"}},
    {"one two/three four five", "", {"ARG1=one", "ARG2=two", "three?1", "ARG3=four", "ARG4?0", "ARG?0"}},
    {"/ARGINFO=NONE /N /WINDOW-SIZE=x", "", {}},
    {"/ARGINFO=ALL /INP=ship /NOARGFILE /N", "", {}},   // messages below: echo lines have no prefix
};

TEST(command_line, each_command_prints_and_stores_what_its_row_says)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.command);
        Parsed p(row.command);
        std::string expected;
        if (*row.messages)
            for (const std::string& m : torva::testing::split(row.messages, "|")) expected += "Cmd.Line: " + m + "\n";
        if (std::string(row.command).starts_with("/ARGINFO=ALL"))
            expected = "     /INPUT-FILE = ship\n     /ARGFILE = (Not specified)\n"
                       "Cmd.Line: Ambiguous match: /N has been ignored.\n"
                       "Cmd.Line: 1 error in parsing of command line arguments.\n";
        EXPECT_EQ(p.messages.str(), expected);
        for (const std::string& item : row.stored) {
            const std::size_t at = item.find_first_of("=#?~");
            const std::string name = item.substr(0, at), want = item.substr(at + 1);
            switch (item[at]) {
            case '=': EXPECT_EQ(p.text(name), want) << item; break;
            case '#': EXPECT_EQ(p.at(name).integer, std::stoi(want)) << item; break;
            case '?': EXPECT_EQ(p.arguments.is_present(name), std::stoi(want)) << item; break;
            default: EXPECT_EQ(p.at(name).real, std::stod(want)) << item; break;
            }
        }
    }
}

TEST(command_line, the_101st_name_is_refused_and_long_messages_are_cut)
{
    // EXECUTABLE is the first entry, so /X1 .. /X99 fill the store.
    std::string command;
    for (int k = 1; k <= 100; ++k) command += "/X" + std::to_string(k) + "=" + std::to_string(k) + " ";
    Parsed p(command);
    EXPECT_EQ(p.arguments.arguments().size(), 100u);
    EXPECT_EQ(p.text("X99"), "99");
    EXPECT_EQ(p.arguments.is_present("X100"), 0);
    EXPECT_EQ(p.messages.str(), "Cmd.Line: Too many command line arguments. Max 100 allowed.\n"
                                "Cmd.Line: 1 error in parsing of command line arguments.\n");
    // The 112-byte message buffer holds 111 characters and its NUL.
    Parsed cut("/" + std::string(200, 'Q') + "=");
    EXPECT_EQ(cut.messages.str().substr(0, cut.messages.str().find('\n') + 1),
              "Cmd.Line: Missing value after /" + std::string(89, 'Q') + "\n");
}

TEST(argument_file, active_sections_add_but_never_override)
{
    TempDir dir{"argfile"};
    const std::string path = dir.file("run.arg");
    std::ofstream(path) << ("/MODE=before-any-section\n"
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
    Parsed other("/ARGFILE='" + path + "'", "OTHER");   // the section is the program name
    EXPECT_EQ(other.text("COMPANY-NAME"), "other");
}

TEST(argument_file, bad_line_is_named_slashes_are_kept_and_reading_is_reported)
{
    TempDir dir{"argfile"};
    const std::string path = dir.file("run.arg");
    const auto write = [&path](const std::string& text) { std::ofstream(path) << text; };
    // A value with a slash is kept whole, as on the command line (an argument /INPUT=sub/ship
    // reaches the parser requoted).
    write("[TORVA_SETUP]\n  /WINDOW-SIZE=big\n/NAME=ok/1 /MODE='m/2' /INPUT=sub/ship\n");
    Parsed p("/ARGFILE='" + path + "'");
    EXPECT_EQ(p.errors, 1);
    EXPECT_EQ(p.messages.str(),
              "Cmd.Line: /WINDOW-SIZE(=big) must have an integer value.\n"
              "Cmd.Line: Cannot interpret: /WINDOW-SIZE=big\n");
    EXPECT_EQ(p.text("NAME"), "ok/1");
    EXPECT_EQ(p.text("MODE"), "m/2");
    EXPECT_EQ(p.text("INPUT"), "sub/ship");
    // Reading is reported at level ALL, a missing file too; at other levels nothing.
    write("[KESTA]\n/MODE=m\n");
    Parsed read("/ARGINFO=ALL /ARGFILE='" + path + "'");
    EXPECT_EQ(read.messages.str(), "     /ARGFILE = " + path + "\nReading arg. file: " + path + "\n     /MODE = m\n");
    const std::string missing = dir.file("none.arg");
    Parsed absent("/ARGINFO=ALL /ARGFILE='" + missing + "'");
    EXPECT_EQ(absent.messages.str(), "     /ARGFILE = " + missing + "\nArg. file : " + missing + " not found\n");
    EXPECT_EQ(Parsed("/ARGFILE='" + missing + "'").messages.str(), "");
}

TEST(frame_command_string, tail_follows_the_tag_directly_and_reads_back_whole)
{
    // The entry point appends the tail with no blank: a slash separates the options, and a
    // first positional word joins the tag (the next word is ARG1).  Values with blanks or
    // slashes are quoted, already quoted values and plain words pass unchanged.
    struct Case {
        std::vector<const char*> argv;
        std::string command;
        std::vector<std::pair<std::string, std::string>> values;
    };
    const Case cases[] = {
        {{}, "/NOHEADER /NAME=TORVA_SETUP", {{"NAME", "TORVA_SETUP"}, {"HEADER", "NONE"}}},
        {{"torva_setup", "/INPUT=my dir/ship", "/MODE=say \"hi\"", "/PREFIX=a/b"},
         "/NOHEADER /NAME=TORVA_SETUP/INPUT=\"my dir/ship\" /MODE='say \"hi\"' /PREFIX=\"a/b\"",
         {{"INPUT", "my dir/ship"}, {"MODE", "say \"hi\""}, {"PREFIX", "a/b"}}},
        {{"x", "/INPUT='a b'", "-L", "/NOHEADER"}, "/NOHEADER /NAME=TORVA_SETUP/INPUT='a b' -L /NOHEADER",
         {{"INPUT", "a b"}, {"INTERFACE", "LINE"}}},
        {{"x", "deck", "more"}, "/NOHEADER /NAME=TORVA_SETUPdeck more", {{"NAME", "TORVA_SETUPdeck"}, {"ARG1", "more"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(torva::frame_command_string(torva::kProgramTag, c.argv), c.command);
        Parsed s(4242, c.command);
        for (const auto& [name, value] : c.values) EXPECT_EQ(s.text(name), value) << name;
        EXPECT_EQ(s.messages.str(), "");
    }
}

TEST(vekmain, records_the_handles_and_never_stops_on_bad_options)
{
    Parsed s((std::int64_t{1} << 40) + 17, "/NOHEADER /NAME=TORVA_SETUP/N /WINDOW-SIZE=x");
    EXPECT_EQ(s.text("EXECUTABLE"), "TORVA_SETUP");
    EXPECT_EQ(s.at("HINST").type, torva::kArgInteger);
    EXPECT_EQ(s.at("HINST").integer, 17);              // low 32 bits
    EXPECT_NE(s.at("HWND").integer, 0);
    EXPECT_NE(s.messages.str().find("2 errors in parsing"), std::string::npos);
    EXPECT_EQ(torva::Vekmain(99, torva::kProgramTag, "/NOHEADER /NAME=TORVA_SETUP"), 0);   // the process's own
    EXPECT_EQ(torva::instance_handle(), 99);
    EXPECT_EQ(torva::command_line().find("HINST")->integer, 99);
}

}  // namespace
