// List-directed record reading: the number forms a Fortran READ (*) accepts, statements that
// continue over records, and the stop messages of bad records.
#include "mesh/mesh_records.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "frame/run_stop.hpp"

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

TEST(mesh_records, integers_are_sign_and_digits_within_32_bits)
{
    int v = 0;
    bool range = false;
    ASSERT_TRUE(parse_fortran_int("+17", v, range));
    EXPECT_EQ(v, 17);
    ASSERT_TRUE(parse_fortran_int("-2147483648", v, range));
    EXPECT_EQ(v, -2147483647 - 1);
    EXPECT_FALSE(parse_fortran_int("2147483648", v, range));
    EXPECT_TRUE(range);
    for (const char* bad : {"1.0", "1e3", "", "+", "12a", "0x10"}) {
        EXPECT_FALSE(parse_fortran_int(bad, v, range)) << bad;
        EXPECT_FALSE(range) << bad;
    }
}

TEST(mesh_records, statement_continues_over_records_and_skips_the_rest)
{
    // Values split over two records, commas as separators, a repeat count, and a record
    // whose surplus values are dropped when the next statement begins.
    std::istringstream in("  1.0,\n 2.0 , 3.0  9 9 9\n2*4.5 7\n\n  8\n");
    MeshRecords records(in, "split.ssg");
    records.begin_statement("x y z");
    EXPECT_EQ(records.next_real("x"), 1.0f);
    EXPECT_EQ(records.next_real("y"), 2.0f);
    EXPECT_EQ(records.next_real("z"), 3.0f);
    EXPECT_EQ(records.record_number(), 2);
    records.begin_statement("two reals");
    EXPECT_EQ(records.next_real("a"), 4.5f);
    EXPECT_EQ(records.next_real("b"), 4.5f);
    records.begin_statement("an integer after a blank record");
    EXPECT_EQ(records.next_int("n"), 8);
    EXPECT_EQ(records.record_number(), 5);
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

// Runs `read` on `text` and returns the single ERROR line it stops with.
template <class Read>
std::string stop_line(const std::string& text, Read read)
{
    std::istringstream in(text);
    MeshRecords records(in, "bad.ssg");
    try {
        read(records);
    } catch (const RunStopped& stop) {
        EXPECT_EQ(stop.status, 0);
        EXPECT_EQ(stop.lines.size(), 1u);
        return stop.lines.empty() ? "" : stop.lines[0];
    }
    ADD_FAILURE() << "no stop for: " << text;
    return "";
}

TEST(mesh_records, bad_records_stop_naming_file_record_and_expectation)
{
    const auto three_reals = [](MeshRecords& r) {
        r.begin_statement("node (0, 0) of sheet 1 (x y z)");
        (void)r.next_real("x");
        (void)r.next_real("y");
        (void)r.next_real("z");
    };
    EXPECT_EQ(stop_line("title\n1.0 abc 2.0\n", [&](MeshRecords& r) {
                  (void)r.read_text_record("title");
                  three_reals(r);
              }),
              "ERROR: Mesh file \"bad.ssg\", record 2: \"abc\" is not a number (y); "
              "expected node (0, 0) of sheet 1 (x y z)");
    EXPECT_EQ(stop_line("1.0 2.0\n", three_reals),
              "ERROR: Mesh file \"bad.ssg\", record 2: the file ends here, before z; "
              "expected node (0, 0) of sheet 1 (x y z)");
    EXPECT_EQ(stop_line("1.0,,2.0\n", three_reals),
              "ERROR: Mesh file \"bad.ssg\", record 1: an empty value (two separators in a "
              "row) where y should be; expected node (0, 0) of sheet 1 (x y z)");
    EXPECT_EQ(stop_line("1.0 / 2.0\n", three_reals),
              "ERROR: Mesh file \"bad.ssg\", record 1: \"/\" ends the values before y; "
              "expected node (0, 0) of sheet 1 (x y z)");
    EXPECT_EQ(stop_line("1 2 3e99\n", three_reals),
              "ERROR: Mesh file \"bad.ssg\", record 1: \"3e99\" is out of range for a 32-bit "
              "real (z); expected node (0, 0) of sheet 1 (x y z)");
    EXPECT_EQ(stop_line("1 NaN 3\n", [](MeshRecords& r) {
                  r.begin_statement("node (0, 0) of sheet 1 (x y z)");
                  (void)r.next_finite_real("x");
                  (void)r.next_finite_real("y");
              }),
              "ERROR: Mesh file \"bad.ssg\", record 1: y is not finite (NaN); "
              "expected node (0, 0) of sheet 1 (x y z)");
    EXPECT_EQ(stop_line("1 2.5 3 4\n", [](MeshRecords& r) {
                  r.begin_statement("the header of sheet 1 of 1 (NP1 NP2 KP MP)");
                  (void)r.next_int("NP1");
                  (void)r.next_int("NP2");
              }),
              "ERROR: Mesh file \"bad.ssg\", record 1: \"2.5\" is not an integer (NP2); "
              "expected the header of sheet 1 of 1 (NP1 NP2 KP MP)");
    EXPECT_EQ(stop_line("maybe\n", [](MeshRecords& r) {
                  r.begin_statement("one logical");
                  (void)r.next_logical("the logical");
              }),
              "ERROR: Mesh file \"bad.ssg\", record 1: \"maybe\" is not a logical value T or F "
              "(the logical); expected one logical");
}

TEST(mesh_records, link_count_tolerates_end_of_file_and_non_numbers)
{
    int count = -1;
    std::istringstream empty("");
    MeshRecords at_end(empty, "a.ssg");
    EXPECT_FALSE(at_end.try_read_int_statement(count));
    std::istringstream words("  \nlinks follow\n");
    MeshRecords not_a_number(words, "b.ssg");
    EXPECT_FALSE(not_a_number.try_read_int_statement(count));
    std::istringstream good("\n 3 extra\n");
    MeshRecords number(good, "c.ssg");
    ASSERT_TRUE(number.try_read_int_statement(count));
    EXPECT_EQ(count, 3);
}

}  // namespace
}  // namespace torva
