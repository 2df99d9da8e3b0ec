// Message boxes as lines on the message-box stream: a caption by kind, the text trimmed.
#include "frame/message_box.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

TEST(message_box, captions_by_kind_on_the_redirected_stream)
{
    using torva::message_box_line;
    EXPECT_EQ(message_box_line(100, "a") + message_box_line(101, "a") + message_box_line(102, "a") +
                  message_box_line(110, "a") + message_box_line(103, "a") + message_box_line(0, "a"),
              "Information: a\nWarning: a\nError: a\nHelp: a\na\na\n");
    EXPECT_EQ(message_box_line(100, std::string("x \t\0\0 ", 6)), "Information: x\n");
    EXPECT_EQ(message_box_line(103, std::string(20, ' ')), "\n");
    EXPECT_EQ(message_box_line(100, "  leading kept"), "Information:   leading kept\n");
    std::ostringstream shown;
    torva::set_message_box_stream(&shown);
    torva::message_box(101, "first   ");
    torva::message_box(102, "second");
    torva::set_message_box_stream(nullptr);
    EXPECT_EQ(shown.str(), "Warning: first\nError: second\n");
}

}  // namespace
