// The namelist reader's fault line against the prefix search it replaces, on the corpus, on
// random edits and on arbitrary bytes.  gfortran judges the value forms it accepts
// (namelist_gfortran_test.cpp), the corpus line ends, marks and over-long texts.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "input/namelist_test_support.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using input_testing::fresh_parameters;
using input_testing::read_text;
using input_testing::same_parameters;

// The search the fault line must agree with: for k = 1, 2, ... from the group line, lines
// 1..k without trailing blanks and a "/" line; the first k whose prefix fails to read.
// 0 when every prefix reads (the end of the file is the fault).
int prefix_search(const std::string& text, const NamelistStatus& whole)
{
    const std::vector<std::string> lines = torva::testing::lines_of(text);
    const int first = whole.group_line > 0 ? whole.group_line : whole.line;
    std::string prefix;
    for (int k = 1; k <= static_cast<int>(lines.size()); ++k) {
        std::string line = lines[static_cast<std::size_t>(k - 1)];
        while (!line.empty() && line.back() == ' ') line.pop_back();
        prefix += line + "\n";
        if (k < first) continue;
        auto trial = fresh_parameters();
        if (!read_text(prefix + "/\n", *trial).ok()) return k;
    }
    return 0;
}

// A fault found in one pass must be the line the prefix search finds, on the corpus, on
// faults that only a prefix shows (a key whose "=" follows on the next line), and on random
// edits of a deck; every read of arbitrary bytes ends, with success or a located fault.
TEST(namelist_reader, fault_line_of_one_pass_is_the_line_of_the_prefix_search)
{
    std::vector<std::string> texts;
    for (const auto& c : torva::testing::corpus_cases("namelist"))
        texts.push_back(torva::testing::read_bytes(torva::testing::corpus_dir("namelist") / c.input));
    const std::string head = "! run\n&TORVA_INP\n ALENGTH = 2.0\n";
    for (const char* tail : {" SPEEDX\n = 5.0\n NOKEY = 1\n/\n", " SPLINES = T\n TRUE_KEY\n = 1\n/\n",
                             " INFORDER = 1\n ALENGTH\n = 2.0\n BAD = 3\n/\n", " ICOMP(1,\n 2) = 1\n/\n",
                             " SVEL0 = 1.0, 2*\n 3*\n BOGUS\n/\n", " ICOMP = 1 2\n 3 4\n/\n", " SPEEDX = 1.0\n"})
        texts.push_back(head + tail);
    const std::string deck =
        "&TORVA_INP\n ALENGTH = 2.0, ICOMP = 1 0 1\n FILE_SSG = 'a''b'\n XLOAD(2,3) = 3*1.5\n"
        " IPRSTERM = T .F.\n SDIS0 = 1,,2 3*\n B_FILTER\n = T\n/\n";
    const char alphabet[] = "&/=(),'\"!*.:$ \t\r\nTFE0123456789-+ABZ_\x00\xEF\xBB\xBF\xFF";
    std::mt19937 random(20240611u);
    for (int trial = 0; trial < 3000; ++trial) {
        std::string text = deck;
        if (trial % 3 == 0) {
            text.clear();
            for (std::size_t i = random() % 200; i > 0; --i) text += static_cast<char>(random() % 256);
        }
        for (int edit = 0; edit < 1 + trial % 4; ++edit) {
            if (text.empty()) break;
            const std::size_t at = random() % text.size();
            const char c = alphabet[random() % (sizeof alphabet - 1)];
            switch (random() % 3) {
            case 0: text[at] = c; break;
            case 1: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c); break;
            default: text.erase(at, 1); break;
            }
        }
        texts.push_back(text);
    }
    const auto start = std::chrono::steady_clock::now();
    int faults = 0;
    for (const std::string& text : texts) {
        auto p = fresh_parameters();
        const NamelistStatus status = read_text(text, *p);
        if (status.ok()) continue;
        ++faults;
        EXPECT_FALSE(status.message.empty());
        ASSERT_EQ(status.fault_line, prefix_search(text, status)) << "in:\n" << text << "\n" << status.message;
    }
    EXPECT_GT(faults, 1000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(namelist_reader, fault_on_line_20000_is_located_in_one_pass_and_a_line_beyond_the_limit_at_its_number)
{
    std::string deck = "&TORVA_INP\n";
    for (int i = 1; i <= 20000; ++i) deck += " PAE_X(" + std::to_string(1 + i % 5000) + ") = 1.0\n";
    deck += " BOGUS = 1\n/\n";
    const auto start = std::chrono::steady_clock::now();
    auto p = fresh_parameters();
    const NamelistStatus status = read_text(deck, *p);
    EXPECT_EQ(status.fault_line, 20002);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // A comment of kMaxLineLength + 1 characters (1 MiB): only its length is wrong.
    const std::string text = "&TORVA_INP\n FILEJOU = 'j'\n!" + std::string(kMaxLineLength, 'c') + "\n/\n";
    const NamelistStatus too_long = read_text(text, *p);
    EXPECT_EQ(too_long.fault_line, 3);
    EXPECT_EQ(too_long.message, "line longer than " + std::to_string(kMaxLineLength) + " characters");
}

}  // namespace
}  // namespace torva
