// List-directed record reading: the number forms a Fortran READ (*) accepts and statements
// that continue over records.  The stop messages of bad records, and the optional link count,
// are checked through the whole reader on the files of tests/corpus/mesh.
#include "mesh/mesh_records.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>


namespace torva {
namespace {

TEST(mesh_records, reals_in_every_fortran_form)
{
    struct Case { const char* text; float value; };
    const Case cases[] = {{"1", 1.0f},          {"-2.", -2.0f},        {".5", 0.5f},
                          {"+1.0E0", 1.0f},     {"1.0D0", 1.0f},       {"2.5d-1", 0.25f},
                          {"1.0d+02", 100.0f},  {"3.0Q1", 30.0f},      {"2.0+1", 20.0f},
                          {"1.5-1", 0.15f},     {"1e-45", 1.4e-45f},   {"0.1", 0.1f}};
    for (const auto& c : cases) {
        float v = -99.0f;
        bool range = false;
        ASSERT_TRUE(parse_fortran_real(c.text, v, range)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;   // correctly rounded: the same float as the literal
    }
    for (const char* bad : {"", "-", "1.0x", "e5", "1.0E", "1..0", "1,0", "abc", "1.0E+"}) {
        float v = 0.0f;
        bool range = false;
        EXPECT_FALSE(parse_fortran_real(bad, v, range)) << bad;
    }
    float v = 0.0f;
    bool range = false;
    EXPECT_FALSE(parse_fortran_real("1.0e39", v, range));
    EXPECT_TRUE(range);
    ASSERT_TRUE(parse_fortran_real("NaN", v, range));
    EXPECT_TRUE(std::isnan(v));
    ASSERT_TRUE(parse_fortran_real("-Inf", v, range));
    EXPECT_TRUE(std::isinf(v) && v < 0);
}

TEST(mesh_records, logicals_and_the_optional_code)
{
    std::istringstream in(".TRUE.\nf\n1 'Y'\n0\n");
    MeshRecords records(in, "flags.ssg");
    records.begin_statement("logical");
    EXPECT_TRUE(records.next_logical("l"));
    records.begin_statement("logical");
    EXPECT_FALSE(records.next_logical("l"));
    records.begin_statement("symmetry and code");
    EXPECT_EQ(records.next_int("s"), 1);
    EXPECT_EQ(records.next_optional_character(), 'Y');
    records.begin_statement("symmetry without a code");
    EXPECT_EQ(records.next_int("s"), 0);
    EXPECT_EQ(records.next_optional_character(), ' ');
    EXPECT_EQ(records.record_number(), 4);      // the missing code took no further record
}

}  // namespace
}  // namespace torva
