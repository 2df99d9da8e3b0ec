// I/O error texts: codes of the table, other codes by number in columns 31 to 36, and outputs
// shorter than the 72 characters.
#include "frame/io_error_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(io_error_text, table_codes_other_codes_and_short_outputs)
{
    const auto rtrim = [](std::string s) { return s.erase(s.find_last_not_of(' ') + 1); };
    const std::pair<int, const char*> cases[] = {
        {29, "    29:FILE NOT FOUND"}, {602, "   602:FILE NOT FOUND"},
        {27, "    27:TOO MANY RECORDS IN I/O STATEMEMT"},   // spelled as the old listings have it
        {616, "   616:INVALID NUMBER IN INPUT"}, {58, "OPERATING SYSTEM MESSAGE NO.:     58"},
        {-1, "OPERATING SYSTEM MESSAGE NO.:     -1"}, {0, "OPERATING SYSTEM MESSAGE NO.:      0"},
        {1234567, "OPERATING SYSTEM MESSAGE NO.: ******"}};
    for (const auto& [code, text] : cases) {
        EXPECT_EQ(torva::io_error_text(code).size(), 72u) << code;
        EXPECT_EQ(rtrim(torva::io_error_text(code)), text);
    }
    EXPECT_EQ(torva::io_error_text(58, 35), std::string(35, ' '));   // too short for the number
    EXPECT_EQ(torva::io_error_text(58, 36), "OPERATING SYSTEM MESSAGE NO.:     58");
    EXPECT_EQ(torva::io_error_text(29, 10), "    29:FIL");
}

}  // namespace
