// The frame start: the command string from the process's arguments, and what Vekmain
// leaves in the command-line store.  The round trips go through the real parser, so a
// quoting rule that loses a character shows up as a wrong option value.
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

TEST(frame_command_string, without_a_tail)
{
    EXPECT_EQ(command_for({"/usr/bin/torva_setup"}), "/NOHEADER /NAME=TORVA_SETUP");
    EXPECT_EQ(command_for({}), "/NOHEADER /NAME=TORVA_SETUP");
}

TEST(frame_command_string, tail_follows_the_tag_directly)
{
    const std::string command = command_for({"torva_setup", "/INPUT=ship", "/ARGINFO=ALL"});
    EXPECT_EQ(command, "/NOHEADER /NAME=TORVA_SETUP/INPUT=ship /ARGINFO=ALL");
    Started s(command);
    EXPECT_EQ(s.text("NAME"), "TORVA_SETUP");          // the slash separates the options
    EXPECT_EQ(s.text("INPUT"), "ship");
    EXPECT_EQ(s.text("HEADER"), "NONE");
}

TEST(frame_command_string, values_with_blanks_and_slashes_survive)
{
    const std::string command =
        command_for({"torva_setup", "/INPUT=my dir/ship", "/MODE=say \"hi\"", "/PREFIX=a/b"});
    EXPECT_EQ(command, "/NOHEADER /NAME=TORVA_SETUP/INPUT=\"my dir/ship\" /MODE='say \"hi\"' "
                       "/PREFIX=\"a/b\"");
    Started s(command);
    EXPECT_EQ(s.text("INPUT"), "my dir/ship");
    EXPECT_EQ(s.text("MODE"), "say \"hi\"");
    EXPECT_EQ(s.text("PREFIX"), "a/b");
    EXPECT_EQ(s.messages.str(), "");
}

TEST(frame_command_string, quoted_values_and_plain_words_pass_unchanged)
{
    EXPECT_EQ(command_for({"x", "/INPUT='a b'", "-L", "/NOHEADER"}),
              "/NOHEADER /NAME=TORVA_SETUP/INPUT='a b' -L /NOHEADER");
    // A first positional word joins the tag, as the entry point appends the tail with no
    // blank; the next word is ARG1.
    Started s(command_for({"x", "deck", "more"}));
    EXPECT_EQ(s.text("NAME"), "TORVA_SETUPdeck");
    EXPECT_EQ(s.text("ARG1"), "more");
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
}

TEST(vekmain, process_wide_start_keeps_the_instance_handle)
{
    EXPECT_EQ(torva::Vekmain(99, torva::kProgramTag, "/NOHEADER /NAME=TORVA_SETUP"), 0);
    EXPECT_EQ(torva::instance_handle(), 99);
    EXPECT_EQ(torva::command_line().is_present("HINST"), 1);
    EXPECT_EQ(torva::command_line().find("HINST")->integer, 99);
}

}  // namespace
