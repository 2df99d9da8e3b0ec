// Standard units and frame variables.
#include "frame/frame_variables.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using torva::FrameVariables;
using torva::kFrameVariableLength;

std::string padded(const std::string& text) { return text + std::string(kFrameVariableLength - text.size(), ' '); }

TEST(standard_units, set_get_and_other_modes)
{
    int input = 15;
    int output = 16;
    torva::standard_units(torva::kStandardUnitsSet, input, output);
    int a = 0;
    int b = 0;
    torva::standard_units(torva::kStandardUnitsGet, a, b);
    EXPECT_EQ(a, 15);
    EXPECT_EQ(b, 16);
    int c = 99;
    int d = 98;
    torva::standard_units(3, c, d);                 // neither stores nor returns
    EXPECT_EQ(c, 99);
    EXPECT_EQ(d, 98);
    EXPECT_EQ(torva::get_standard_units().input, 15);
    torva::set_standard_units(5, 6);                // what the setup uses
    EXPECT_EQ(torva::get_standard_units().input, 5);
    EXPECT_EQ(torva::get_standard_units().output, 6);
}

TEST(frame_variables, put_get_and_replace)
{
    FrameVariables store;
    EXPECT_EQ(store.get("OUTNAME"), std::string(kFrameVariableLength, ' '));
    store.put("OUTNAME", "ship.LIS");
    EXPECT_EQ(store.get("OUTNAME"), padded("ship.LIS"));
    store.put("OUTNAME  ", "hull.LIS");             // trailing blanks do not matter
    EXPECT_EQ(store.get("OUTNAME"), padded("hull.LIS"));
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(store.get("outname"), std::string(kFrameVariableLength, ' '));   // case does
}

TEST(frame_variables, names_and_values_are_90_characters)
{
    FrameVariables store;
    const std::string long_value(120, 'v');
    store.put("V", long_value);
    EXPECT_EQ(store.get("V"), std::string(90, 'v'));
    // Names equal in their first 90 characters are one name.
    store.put(std::string(90, 'n') + "A", "first");
    store.put(std::string(90, 'n') + "B", "second");
    EXPECT_EQ(store.size(), 2u);
    EXPECT_EQ(store.get(std::string(90, 'n')), padded("second"));
}

TEST(frame_variables, a_full_store_drops_new_names_silently)
{
    FrameVariables store;
    for (int k = 0; k < 100; ++k) store.put("N" + std::to_string(k), std::to_string(k));
    store.put("EXTRA", "x");
    EXPECT_EQ(store.size(), 100u);
    EXPECT_EQ(store.get("EXTRA"), std::string(kFrameVariableLength, ' '));
    store.put("N99", "changed");                    // existing names still take new values
    EXPECT_EQ(store.get("N99"), padded("changed"));
    EXPECT_EQ(store.get("N0"), padded("0"));
}

TEST(frame_variables, action_words_on_the_process_store)
{
    std::string value = "frame_variable_test.LIS";
    torva::frame_variable("PUT", "TEST_VARIABLE", value);
    std::string back;
    torva::frame_variable("GET", "TEST_VARIABLE", back);
    EXPECT_EQ(back, padded("frame_variable_test.LIS"));
    std::string untouched = "keep";
    torva::frame_variable("DROP", "TEST_VARIABLE", untouched);
    EXPECT_EQ(untouched, "keep");
    EXPECT_EQ(torva::frame_variables().get("TEST_VARIABLE"), padded("frame_variable_test.LIS"));
}

}  // namespace
