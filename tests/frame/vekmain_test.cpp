// The frame start: the command string from the process's arguments (read back through the
// real parser; the corpus of command lines runs the whole program on many more), and what
// Vekmain leaves in the command-line store.
#include "frame/vekmain.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "frame/command_line.hpp"

namespace {

using torva::frame_command_string;

std::string command_for(std::vector<const char*> argv)
{
    return frame_command_string(torva::kProgramTag, argv);
}

struct Started {
    std::ostringstream messages;
    torva::CommandLine arguments{messages};
    explicit Started(const std::string& command, std::int64_t hinst = 4242)
    {
        EXPECT_EQ(torva::Vekmain(hinst, torva::kProgramTag, command, arguments), 0);
    }
    std::string text(const std::string& name) const
    {
        int status = -1;
        const auto value = arguments.get_text(name, status);
        return status == torva::kQueryOk ? *value : "<status " + std::to_string(status) + ">";
    }
};

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
        EXPECT_EQ(command_for(c.argv), c.command);
        Started s(c.command);
        for (const auto& [name, value] : c.values) EXPECT_EQ(s.text(name), value) << name;
        EXPECT_EQ(s.messages.str(), "");
    }
}

TEST(vekmain, records_the_handles_and_never_stops_on_bad_options)
{
    Started s("/NOHEADER /NAME=TORVA_SETUP/N /WINDOW-SIZE=x", (std::int64_t{1} << 40) + 17);
    EXPECT_EQ(s.text("EXECUTABLE"), "TORVA_SETUP");
    const torva::StoredArgument* hinst = s.arguments.find("HINST");
    ASSERT_NE(hinst, nullptr);
    EXPECT_EQ(hinst->type, torva::kArgInteger);
    EXPECT_EQ(hinst->integer, 17);                      // low 32 bits
    const torva::StoredArgument* hwnd = s.arguments.find("HWND");
    ASSERT_NE(hwnd, nullptr);
    EXPECT_NE(hwnd->integer, 0);
    EXPECT_NE(s.messages.str().find("2 errors in parsing"), std::string::npos);
    EXPECT_EQ(torva::Vekmain(99, torva::kProgramTag, "/NOHEADER /NAME=TORVA_SETUP"), 0);   // the process's own
    EXPECT_EQ(torva::instance_handle(), 99);
    EXPECT_EQ(torva::command_line().find("HINST")->integer, 99);
}

}  // namespace
