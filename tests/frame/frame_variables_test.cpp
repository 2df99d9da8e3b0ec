// The frame-variable store: names of 90 significant characters, values of 204 (a listing
// name made from a 200-character input name fits whole), 100 entries at most.
#include "frame/frame_variables.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string padded(const std::string& text) { return text + std::string(torva::kFrameVariableValueLength - text.size(), ' '); }

TEST(frame_variables, put_get_replace_widths_and_a_full_store)
{
    torva::FrameVariables store;
    EXPECT_EQ(store.get("OUTNAME"), padded(""));
    store.put("OUTNAME", "ship.LIS");
    store.put("OUTNAME  ", "hull.LIS");             // trailing blanks do not matter
    EXPECT_EQ(store.get("OUTNAME"), padded("hull.LIS"));
    EXPECT_EQ(store.get("outname"), padded(""));    // case does
    store.put("V", std::string(210, 'v'));
    EXPECT_EQ(store.get("V"), std::string(204, 'v'));
    store.put(std::string(90, 'n') + "A", "first");
    store.put(std::string(90, 'n') + "B", "second");
    EXPECT_EQ(store.get(std::string(90, 'n')), padded("second"));
    for (int k = store.size(); k < 100; ++k) store.put("N" + std::to_string(k), std::to_string(k));
    store.put("EXTRA", "x");                        // dropped silently
    EXPECT_EQ(store.size(), 100u);
    EXPECT_EQ(store.get("EXTRA"), padded(""));
    store.put("N99", "changed");
    EXPECT_EQ(store.get("N99"), padded("changed"));
    std::string value = "frame_variable_test.LIS", back, untouched = "keep";
    torva::frame_variable("PUT", "TEST_VARIABLE", value);
    torva::frame_variable("GET", "TEST_VARIABLE", back);
    EXPECT_EQ(back, padded(value));
    torva::frame_variable("DROP", "TEST_VARIABLE", untouched);
    EXPECT_EQ(untouched, "keep");
}

}  // namespace
