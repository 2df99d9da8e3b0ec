// I/O error texts.
#include "frame/io_error_text.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using torva::io_error_text;

std::string rtrim(std::string s)
{
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

TEST(io_error_text, code_in_the_table)
{
    const std::string text = io_error_text(29);
    EXPECT_EQ(text.size(), 72u);
    EXPECT_EQ(rtrim(text), "    29:FILE NOT FOUND");
    EXPECT_EQ(rtrim(io_error_text(602)), "   602:FILE NOT FOUND");
    // Spelling kept as the old listings have it.
    EXPECT_EQ(rtrim(io_error_text(27)), "    27:TOO MANY RECORDS IN I/O STATEMEMT");
    EXPECT_EQ(rtrim(io_error_text(616)), "   616:INVALID NUMBER IN INPUT");
}

TEST(io_error_text, code_outside_the_table_names_the_number)
{
    const std::string text = io_error_text(58);
    EXPECT_EQ(text.size(), 72u);
    EXPECT_EQ(text.substr(0, 29), "OPERATING SYSTEM MESSAGE NO.:");
    EXPECT_EQ(text.substr(29, 1), " ");
    EXPECT_EQ(text.substr(30, 6), "    58");              // columns 31 to 36
    EXPECT_EQ(rtrim(text), "OPERATING SYSTEM MESSAGE NO.:     58");
    EXPECT_EQ(io_error_text(-1).substr(30, 6), "    -1");
    EXPECT_EQ(io_error_text(1234567).substr(30, 6), "******");   // does not fit six places
    EXPECT_EQ(io_error_text(0).substr(30, 6), "     0");
}

TEST(io_error_text, short_outputs)
{
    EXPECT_EQ(io_error_text(58, 35), std::string(35, ' '));   // too short for the number
    EXPECT_EQ(io_error_text(58, 36), "OPERATING SYSTEM MESSAGE NO.:     58");
    EXPECT_EQ(io_error_text(29, 10), "    29:FIL");
}

}  // namespace
