// Message boxes as lines on the message-box stream.
#include "frame/message_box.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using torva::message_box_line;

TEST(message_box, captions_by_kind)
{
    EXPECT_EQ(message_box_line(100, "a"), "Information: a\n");
    EXPECT_EQ(message_box_line(101, "a"), "Warning: a\n");
    EXPECT_EQ(message_box_line(102, "a"), "Error: a\n");
    EXPECT_EQ(message_box_line(110, "a"), "Help: a\n");
    EXPECT_EQ(message_box_line(103, "a"), "a\n");          // any other kind: no caption
    EXPECT_EQ(message_box_line(0, "a"), "a\n");
    std::string text = "Error opening ship.LIS";
    text.resize(90, ' ');
    EXPECT_EQ(message_box_line(102, text), "Error: Error opening ship.LIS\n");
    EXPECT_EQ(message_box_line(100, std::string("x \t\0\0 ", 6)), "Information: x\n");
    EXPECT_EQ(message_box_line(103, std::string(20, ' ')), "\n");
    EXPECT_EQ(message_box_line(100, "  leading kept"), "Information:   leading kept\n");
}

TEST(message_box, shows_on_the_redirected_stream)
{
    std::ostringstream shown;
    torva::set_message_box_stream(&shown);
    torva::message_box(101, "first   ");
    torva::message_box(102, "second");
    torva::set_message_box_stream(nullptr);
    EXPECT_EQ(shown.str(), "Warning: first\nError: second\n");
}

}  // namespace
