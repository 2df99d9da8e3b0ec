// The corpus of malformed inputs (tests/corpus/<kind>/) and the few tools its tests share:
// reading a table of expectations, checking that it names every file of its folder,
// matching a message against a pattern, and finding an ordered set of lines in a file that a
// run left behind.
//
// A table is tab-separated text, one row per input, '#' lines are comments.  Patterns are
// literal text in which '*' matches any run of characters (and nothing else is special, so
// the "[get_namelist]" of a message needs no escaping).  Lines are compared without their
// leading and trailing blanks: list-directed output puts one blank in front, and a Fortran
// reader of the same file would not see trailing ones.
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_program.hpp"

namespace torva::testing {

inline std::filesystem::path corpus_dir(const std::string& kind)
{ return std::filesystem::path(TORVA_SOURCE_DIR) / "tests" / "corpus" / kind; }

inline std::string read_bytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> split(std::string_view text, std::string_view separator)
{
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + separator.size());
    }
}

inline std::string trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// The rows of a table: its fields, in order.  Every row must have `columns` fields.
inline std::vector<std::vector<std::string>> read_table(const std::filesystem::path& file, std::size_t columns)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.front() == '#') continue;
        auto fields = split(line, "\t");
        if (fields.size() != columns)
            throw std::runtime_error(file.string() + ": row '" + line + "' has " + std::to_string(fields.size()) +
                                     " fields, not " + std::to_string(columns));
        rows.push_back(std::move(fields));
    }
    return rows;
}

// A row of a five-column table (mesh and namelist corpora): the input file, the result
// wanted, its detail, where a whole run must report it, and the lines it must report there.
struct CorpusCase {
    std::string input, result, detail, where, lines;
};

inline std::vector<CorpusCase> corpus_cases(const std::string& kind)
{
    std::vector<CorpusCase> all;
    for (auto& f : read_table(corpus_dir(kind) / "expected.tsv", 5)) all.push_back({f[0], f[1], f[2], f[3], f[4]});
    return all;
}

// The table names each file of its folder exactly once: every file but the table itself, or,
// with an `extension`, every file that has it.
inline void expect_table_names_every_file_once(const std::string& kind, const std::vector<std::string>& listed,
                                               const std::string& extension = "")
{
    std::set<std::string> named;
    for (const auto& name : listed) EXPECT_TRUE(named.insert(name).second) << name << " twice";
    std::set<std::string> present;
    for (const auto& e : std::filesystem::directory_iterator(corpus_dir(kind))) {
        const std::string name = e.path().filename().string();
        if (extension.empty() ? name != "expected.tsv" : e.path().extension() == extension) present.insert(name);
    }
    EXPECT_EQ(named, present);
}

// '*' matches any run of characters; everything else stands for itself.
inline bool matches(std::string_view pattern, std::string_view text)
{
    // Greedy matching with one backtrack point, linear in practice for these short patterns.
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

// "d{86}" -> 86 characters d; any other text as it is.
inline std::string expand_repeats(const std::string& text)
{
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const std::size_t close = text.find('}', k);
        if (k + 2 < text.size() && text[k + 1] == '{' && close != std::string::npos &&
            std::all_of(text.begin() + static_cast<long>(k) + 2, text.begin() + static_cast<long>(close),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) &&
            close > k + 2) {
            out.append(std::stoul(text.substr(k + 2, close - k - 2)), text[k]);
            k = close;
        } else {
            out += text[k];
        }
    }
    return out;
}

// Lines of a text, without line ends (a CR before the LF included).
inline std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Whether `patterns` match consecutive lines of `lines` (trimmed); "" when they do, else what
// is missing.
inline std::string find_consecutive(const std::vector<std::string>& patterns, const std::vector<std::string>& lines)
{
    for (std::size_t first = 0; first + patterns.size() <= lines.size(); ++first) {
        std::size_t k = 0;
        while (k < patterns.size() && matches(trim(patterns[k]), trim(lines[first + k]))) ++k;
        if (k == patterns.size()) return "";
    }
    std::string what = "no consecutive lines match:";
    for (const auto& p : patterns) what += "\n    " + p;
    return what;
}

// Whether `patterns` match lines of `lines` in this order, others allowed between them.
inline std::string find_in_order(const std::vector<std::string>& patterns, const std::vector<std::string>& lines)
{
    std::size_t at = 0;
    for (const auto& p : patterns) {
        while (at < lines.size() && !matches(trim(p), trim(lines[at]))) ++at;
        if (at == lines.size()) return "no line (in order) matches: " + p;
        ++at;
    }
    return "";
}

inline std::string show(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& l : lines) text += "    |" + l + "\n";
    return text;
}

}  // namespace torva::testing
