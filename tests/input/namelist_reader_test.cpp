// The namelist reader on in-memory text: the value forms worked by hand, the malformed inputs
// with the line each is found on, and arbitrary bytes.
#include <gtest/gtest.h>

#include <cfloat>
#include <chrono>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "input/namelist_test_support.hpp"
#include "input/namelist_writer.hpp"

namespace torva {
namespace {

using input_testing::fill_distinctive;
using input_testing::fresh_parameters;
using input_testing::read_text;
using input_testing::same_parameters;

TEST(namelist_reader, group_of_only_its_lines_leaves_every_default)
{
    auto read = fresh_parameters();
    read->ALENGTH = 99.0f;   // a key the file does not mention keeps what the record held
    const NamelistStatus status = read_text("&TORVA_INP\n/\n", *read);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(status.group_line, 1);
    EXPECT_EQ(read->ALENGTH, 99.0f);
    read->ALENGTH = 1.0f;
    EXPECT_TRUE(same_parameters(RunParameters{}, *read));
}

TEST(namelist_reader, element_designators_fill_onward_and_sections_fill_in_order)
{
    auto p = fresh_parameters();
    const NamelistStatus status = read_text(
        "&TORVA_INP\n"
        " SDIS0(3) = 1, 2, 3\n"              // SDIS0(3..5)
        " ISPLINE(0) = 7\n"                  // element 0 is the first of ISPLINE(0:1)
        " XLOAD(2, 3) = 4, 5, 6\n"           // (2,3) (3,3) (1,4): first index fastest
        " XLOAD1(1:3:2, 2) = 11, 13\n"       // (1,2) and (3,2)
        " ADD_DAMP(6, 5:6) = -5, -6\n"       // (6,5) and (6,6)
        " ICOMP(3:1:-1) = 30, 20, 10\n"      // a section that runs backwards
        " PAE_NODE_NO(4999) = 8 9\n"         // up to the last element, no further
        "/\n",
        *p);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(p->SDIS0[1], 0.0f);
    EXPECT_EQ(p->SDIS0[2], 1.0f);
    EXPECT_EQ(p->SDIS0[4], 3.0f);
    EXPECT_EQ(p->SDIS0[5], 0.0f);
    EXPECT_EQ(p->ISPLINE[0], 7);
    EXPECT_EQ(p->ISPLINE[1], 1);
    EXPECT_EQ(element_2d(p->XLOAD, 3, 2, 3), 4.0f);
    EXPECT_EQ(element_2d(p->XLOAD, 3, 3, 3), 5.0f);
    EXPECT_EQ(element_2d(p->XLOAD, 3, 1, 4), 6.0f);
    EXPECT_EQ(element_2d(p->XLOAD1, 3, 1, 2), 11.0f);
    EXPECT_EQ(element_2d(p->XLOAD1, 3, 2, 2), 0.0f);
    EXPECT_EQ(element_2d(p->XLOAD1, 3, 3, 2), 13.0f);
    EXPECT_EQ(element_2d(p->ADD_DAMP, 6, 6, 5), -5.0f);
    EXPECT_EQ(element_2d(p->ADD_DAMP, 6, 6, 6), -6.0f);
    EXPECT_EQ(p->ICOMP, (std::array<int, 3>{10, 20, 30}));
    EXPECT_EQ(p->PAE_NODE_NO[4998], 8);
    EXPECT_EQ(p->PAE_NODE_NO[4999], 9);
}

TEST(namelist_reader, null_values_and_repeats_leave_or_set_exactly_the_elements_counted)
{
    auto p = fresh_parameters();
    p->PERIOD.fill(-7.0f);
    p->BETA.fill(-7.0f);
    p->MFFB.fill(-7);
    const NamelistStatus status = read_text(
        "&TORVA_INP\n"
        " PERIOD = 1.0,,3.0 , , 5\n"     // elements 2 and 4 null
        " BETA = , 2.0, 2*, 9\n"        // 1 null, 2 = 2.0, 3-4 null, 5 = 9
        " MFFB = 3*4 2*-1\n"
        "/\n",
        *p);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(std::vector<float>(p->PERIOD.begin(), p->PERIOD.begin() + 6),
              (std::vector<float>{1.0f, -7.0f, 3.0f, -7.0f, 5.0f, -7.0f}));
    EXPECT_EQ(std::vector<float>(p->BETA.begin(), p->BETA.begin() + 6),
              (std::vector<float>{-7.0f, 2.0f, -7.0f, -7.0f, 9.0f, -7.0f}));
    EXPECT_EQ(std::vector<int>(p->MFFB.begin(), p->MFFB.begin() + 6), (std::vector<int>{4, 4, 4, -1, -1, -7}));
}

TEST(namelist_reader, reals_are_the_nearest_float_of_every_fortran_form)
{
    // The expected values are C++ float literals, which the compiler rounds correctly.
    const std::vector<std::pair<std::string, float>> cases = {
        {"0.1", 0.1f},           {"1.5D0", 1.5f},        {"1e3", 1000.0f},     {"-.5E-2", -0.005f},
        {"1.5+3", 1500.0f},      {"2q1", 20.0f},         {"7", 7.0f},          {"+3.", 3.0f},
        {"16777217", 16777216.0f},                       // halfway: rounds to even
        {"3.4028235e38", FLT_MAX},                       {"1e-45", std::numeric_limits<float>::denorm_min()},
        {"1e-60", 0.0f},         {"0.0e999999", 0.0f},   {"-0.0", -0.0f},      {"Infinity", std::numeric_limits<float>::infinity()},
        {"-inf", -std::numeric_limits<float>::infinity()},
        {"0.333333343267", 1.0f / 3.0f},
    };
    for (const auto& [text, expected] : cases) {
        auto p = fresh_parameters();
        const NamelistStatus status = read_text("&TORVA_INP ALENGTH = " + text + " /\n", *p);
        ASSERT_TRUE(status.ok()) << text << ": " << status.message;
        EXPECT_TRUE(input_testing::same_bits(p->ALENGTH, expected)) << text << " read as " << p->ALENGTH;
    }
    auto p = fresh_parameters();
    ASSERT_TRUE(read_text("&TORVA_INP SEA_DEPTH = NaN /", *p).ok());
    EXPECT_TRUE(std::isnan(p->SEA_DEPTH));
}

TEST(namelist_reader, logicals_texts_keys_and_group_marks_in_their_accepted_spellings)
{
    auto p = fresh_parameters();
    const NamelistStatus status = read_text(
        "  $torva_inp  ! dollar form, lower case\n"
        " iprsterm = .TRUE. .f. T false\n"
        " b_Filter=.t., Splines = F\n"
        " FILE_SSG = 'it''s', FILEJOU = \"say \"\"hi\"\"\"\n"
        " FILESTATUS = 'old' TITLEVTF = 'a ! b / c & d'   ! not a comment inside the text\n"
        " FILE_FS = ''\n"
        " ANIMTYPE = 'abc'\n"
        "$END\n",
        *p);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(p->IPRSTERM, (std::array<bool, 4>{true, false, true, false}));
    EXPECT_TRUE(p->B_FILTER);
    EXPECT_FALSE(p->SPLINES);
    EXPECT_EQ(p->FILE_SSG, "it's" + std::string(196, ' '));
    EXPECT_EQ(p->FILEJOU.substr(0, 9), "say \"hi\" ");
    EXPECT_EQ(p->FILESTATUS.size(), 80u);
    EXPECT_EQ(p->FILESTATUS.substr(0, 4), "old ");
    EXPECT_EQ(p->TITLEVTF.substr(0, 14), "a ! b / c & d ");
    EXPECT_EQ(p->FILE_FS, std::string(200, ' '));
    EXPECT_EQ(p->ANIMTYPE, "abc");
}

TEST(namelist_reader, windows_line_ends_and_byte_order_mark_read_like_plain_text)
{
    const std::string deck = "! deck\n&TORVA_INP\n FILE_SSG = 'hull.ssg'  ! comment\n SPEEDX = 5.0,\n ICOMP = 1 0\n/\n";
    std::string windows = "\xEF\xBB\xBF";
    for (const char c : deck) windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    auto plain = fresh_parameters();
    auto crlf = fresh_parameters();
    ASSERT_TRUE(read_text(deck, *plain).ok());
    const NamelistStatus status = read_text(windows, *crlf);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(crlf->FILE_SSG.substr(0, 9), "hull.ssg ");
    EXPECT_TRUE(same_parameters(*plain, *crlf));

    // A byte-order mark directly before the group mark, on a Windows file without a final line end.
    auto bom = fresh_parameters();
    ASSERT_TRUE(read_text("\xEF\xBB\xBF&TORVA_INP SPEEDX=2\r\n/", *bom).ok());
    EXPECT_EQ(bom->SPEEDX, 2.0f);
}

TEST(namelist_reader, nothing_after_the_closing_slash_is_read)
{
    auto p = fresh_parameters();
    std::string tail = "ALENGTH = 5\n";
    tail += std::string("\0\x01\xFF garbage 'open", 16);
    const NamelistStatus status = read_text("&TORVA_INP ALENGTH = 2 / ALENGTH = 3\n" + tail, *p);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(p->ALENGTH, 2.0f);
    auto q = fresh_parameters();
    ASSERT_TRUE(read_text("&TORVA_INP\n ALENGTH = 2 &end\n ALENGTH = 3\n", *q).ok());
    EXPECT_EQ(q->ALENGTH, 2.0f);
}

TEST(namelist_reader, long_lines_are_read_whole)
{
    // Namelist writers put a whole text array on one line; 100 texts make a line of 20 kB.
    std::string line = " FILE_SHAPE =";
    for (int e = 1; e <= 100; ++e) line += " '" + std::string(190, 'a') + std::to_string(e) + std::string(5, ' ') + "',";
    auto p = fresh_parameters();
    const NamelistStatus status = read_text("&TORVA_INP\n" + line + "\n ALENGTH = 4\n/\n", *p);
    ASSERT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(p->FILE_SHAPE[99].substr(0, 194), std::string(190, 'a') + "100 ");
    EXPECT_EQ(p->ALENGTH, 4.0f);
}

TEST(namelist_reader, malformed_input_fails_at_the_line_that_holds_the_fault)
{
    // Most faults are files of tests/corpus/namelist, read through this reader and by the whole
    // program; these are the ones the corpus does not reach (a fault on a continuation line,
    // the lines of the unclosed and missing groups, a control byte outside a text, ...).
    struct Malformed {
        const char* what;
        std::string text;
        int line;
        NamelistFailure failure;
        const char* message_part;
    };
    const std::string head = "! run\n&TORVA_INP\n ALENGTH = 2.0\n";   // lines 1-3
    const std::vector<Malformed> cases = {
        {"text for a number", head + " ALENGTH = '2'\n/\n", 4, NamelistFailure::bad_input, "not a valid real"},
        {"too many values", head + " ICOMP = 1 2\n 3 4\n/\n", 5, NamelistFailure::bad_input, "too many values for ICOMP"},
        {"too many from element", head + " ISPLINE(1) = 1, 2\n/\n", 4, NamelistFailure::bad_input, "too many values"},
        {"missing =", "&TORVA_INP\n SPEEDX 5.0\n/\n", 2, NamelistFailure::bad_input, "expected '=' after SPEEDX"},
        {"control byte", head + std::string(" SPEEDX = 1\x01\n/\n"), 4, NamelistFailure::bad_input, "control byte 0x01"},
        {"nul byte", head + std::string(" SPEEDX = 1\0 2\n/\n", 17), 4, NamelistFailure::bad_input, "control byte 0x00"},
        {"no closing slash", head + " SPEEDX = 1.0\n", 5, NamelistFailure::unclosed_group, "ended before the closing /"},
        {"empty file", "", 1, NamelistFailure::no_group, "no namelist group"},
        {"only comments", "! a\n\n   ! b\n", 4, NamelistFailure::no_group, "no namelist group"},
        {"binary garbage", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10), 1, NamelistFailure::bad_input, "text before the group"},
    };
    for (const Malformed& c : cases) {
        auto p = fresh_parameters();
        const NamelistStatus status = read_text(c.text, *p);
        EXPECT_EQ(status.failure, c.failure) << c.what << ": " << status.message;
        EXPECT_EQ(status.line, c.line) << c.what << ": " << status.message;
        EXPECT_NE(status.message.find(c.message_part), std::string::npos) << c.what << ": " << status.message;
    }
}

TEST(namelist_reader, arbitrary_bytes_end_in_success_or_a_located_failure)
{
    // Random bytes, and a valid deck with random bytes changed, inserted or removed: every
    // read must end (the loop is timed) with success or with a line inside the input.
    const std::string deck =
        "&TORVA_INP\n ALENGTH = 2.0, ICOMP = 1 0 1\n FILE_SSG = 'a''b'\n XLOAD(2,3) = 3*1.5\n"
        " IPRSTERM = T .F.\n SDIS0 = 1,,2 3*\n/\n";
    const char alphabet[] = "&/=(),'\"!*.:$ \t\r\nTFE0123456789-+ABZ_\x00\xEF\xBB\xBF\xFF";
    std::mt19937 random(20240611u);
    const auto start = std::chrono::steady_clock::now();
    for (int trial = 0; trial < 4000; ++trial) {
        std::string text;
        if (trial % 2 == 0) {
            const std::size_t n = random() % 200;
            for (std::size_t i = 0; i < n; ++i)
                text += trial % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % (sizeof alphabet - 1)];
            if (trial % 8 == 0) text = "&TORVA_INP " + text;
        } else {
            text = deck;
            for (int edit = 0; edit < 1 + trial % 4; ++edit) {
                const std::size_t at = random() % text.size();
                const char c = alphabet[random() % (sizeof alphabet - 1)];
                switch (random() % 3) {
                case 0: text[at] = c; break;
                case 1: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c); break;
                default: text.erase(at, 1); break;
                }
            }
        }
        int lines = 0;
        for (const char c : text) lines += c == '\n';
        auto p = fresh_parameters();
        const NamelistStatus status = read_text(text, *p);
        if (!status.ok()) {
            EXPECT_GE(status.line, 1);
            EXPECT_LE(status.line, lines + 2);
            EXPECT_FALSE(status.message.empty());
        }
    }
    // 4000 reads of a few hundred bytes: well under a second unless something loops.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(namelist_writer, echo_of_any_record_reads_back_to_the_same_record)
{
    auto set = fresh_parameters();
    fill_distinctive(*set);
    std::ostringstream echo;
    write_torva_inp(echo, *set);
    auto read = fresh_parameters();
    const NamelistStatus status = read_text(echo.str(), *read);
    ASSERT_TRUE(status.ok()) << "line " << status.line << ": " << status.message;
    EXPECT_TRUE(same_parameters(*set, *read));
}

TEST(namelist_writer, echo_names_every_key_once_in_the_group_order)
{
    std::ostringstream echo;
    write_torva_inp(echo, RunParameters{});
    std::istringstream lines(echo.str());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "&TORVA_INP");
    std::size_t next = 0;
    std::string last;
    while (std::getline(lines, line)) {
        last = line;
        if (line.size() < 2 || line[0] != ' ' || line[1] == ' ') continue;   // continuation lines
        const std::string name = line.substr(1, line.find(' ', 1) - 1);
        ASSERT_LT(next, kTorvaInpKeys.size()) << line;
        EXPECT_EQ(name, kTorvaInpKeys[next].name);
        ++next;
    }
    EXPECT_EQ(next, kTorvaInpKeys.size());
    EXPECT_EQ(last, "/");
    EXPECT_NE(echo.str().find(" FILESTATUS = 'new'\n"), std::string::npos);
    EXPECT_NE(echo.str().find(" BOXLOAD1 = 600*3.4028235e+38\n"), std::string::npos);
    EXPECT_NE(echo.str().find(" ALENGTH = 1.0\n"), std::string::npos);
}

}  // namespace
}  // namespace torva
