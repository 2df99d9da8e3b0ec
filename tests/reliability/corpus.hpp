// The corpus of malformed inputs (tests/corpus/<kind>/, each with its table expected.tsv) and
// the tools its tests share.  A table is tab-separated, '#' lines are comments.  Patterns are
// literal text in which '*' matches any run of characters; lines are compared without their
// leading and trailing blanks (list-directed output puts one blank in front).
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_program.hpp"

namespace torva::testing {

inline std::filesystem::path corpus_dir(const std::string& kind)
{ return std::filesystem::path(TORVA_SOURCE_DIR) / "tests" / "corpus" / kind; }

inline std::string read_bytes(const std::filesystem::path& file) { return read_text(file.string()); }

inline std::vector<std::string> split(std::string_view text, std::string_view separator)
{
    std::vector<std::string> parts;
    for (std::size_t at; (at = text.find(separator)) != std::string_view::npos; text.remove_prefix(at + separator.size()))
        parts.emplace_back(text.substr(0, at));
    parts.emplace_back(text);
    return parts;
}

inline std::string trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

// The rows of a table; every row must have `columns` fields.
inline std::vector<std::vector<std::string>> read_table(const std::filesystem::path& file, std::size_t columns)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.front() == '#') continue;
        rows.push_back(split(line, "\t"));
        if (rows.back().size() != columns) throw std::runtime_error(file.string() + ": bad row '" + line + "'");
    }
    return rows;
}

// A row of the mesh and namelist tables: the input file, the result wanted, its detail,
// where a whole run must report it, and the lines it must report there.
struct CorpusCase {
    std::string input, result, detail, where, lines;
};

inline std::vector<CorpusCase> corpus_cases(const std::string& kind)
{
    std::vector<CorpusCase> all;
    for (auto& f : read_table(corpus_dir(kind) / "expected.tsv", 5)) all.push_back({f[0], f[1], f[2], f[3], f[4]});
    return all;
}

// '*' matches any run of characters; everything else stands for itself.
inline bool matches(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') star = p++, resume = t;
        else if (p < pattern.size() && pattern[p] == text[t]) ++p, ++t;
        else if (star != std::string_view::npos) p = star + 1, t = ++resume;
        else return false;
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
        if (k + 2 < text.size() && text[k + 1] == '{' && close != std::string::npos && close > k + 2 &&
            std::all_of(text.begin() + static_cast<long>(k) + 2, text.begin() + static_cast<long>(close),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
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
    for (std::string line; std::getline(in, line); lines.push_back(line))
        if (!line.empty() && line.back() == '\r') line.pop_back();
    return lines;
}

inline std::string show(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& l : lines) text += "    |" + l + "\n";
    return text;
}

// "" when `patterns` match lines of `lines` in order (consecutive ones when asked), else what
// is missing.
inline std::string find_in_order(const std::vector<std::string>& patterns, const std::vector<std::string>& lines,
                                 bool consecutive = false)
{
    for (std::size_t first = 0; first < lines.size() || first == 0; ++first) {
        std::size_t at = first, k = 0;
        for (; k < patterns.size(); ++k, ++at) {
            while (!consecutive && at < lines.size() && !matches(trim(patterns[k]), trim(lines[at]))) ++at;
            if (at >= lines.size() || !matches(trim(patterns[k]), trim(lines[at]))) break;
        }
        if (k == patterns.size()) return "";
        if (!consecutive) break;
    }
    return "no lines match, in order" + std::string(consecutive ? " and consecutive" : "") + ":\n" + show(patterns);
}

inline std::string find_consecutive(const std::vector<std::string>& patterns, const std::vector<std::string>& lines)
{ return find_in_order(patterns, lines, true); }

}  // namespace torva::testing
