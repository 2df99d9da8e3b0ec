// torva-inspect: what a run's listing says about how it ended and how long it took.
//
// The listing ends with "FINISHED: SUCCESS" after a completed run; a failed run's message
// begins "ERROR:".  Timings are list-directed lines of a fixed text followed by processor
// seconds, for example
//     " Time spent on matrix setup:          0.429367"
//     " time spent on panel integral:        1.5"
//     " Cpu time used for creating b-spline filter 0.02375096"
// so a timing is any line opening with one of those phrases whose last item is a number.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace torva::inspect {

struct Timing {
    std::string label;     // the text before the number, trimmed
    double seconds = 0.0;
};

struct ListingSummary {
    bool finished = false;                  // "FINISHED: SUCCESS" seen
    std::vector<std::string> errors;        // "ERROR: ..." lines, trimmed, in order
    std::vector<Timing> timings;
    int lines = 0;
};

namespace detail {

inline std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

inline bool starts_with(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

}  // namespace detail

[[nodiscard]] inline ListingSummary summarise_listing(std::istream& in)
{
    static constexpr std::string_view kTimingPhrases[] = {"Time spent on", "time spent on", "Cpu time used for"};
    ListingSummary summary;
    for (std::string raw; std::getline(in, raw);) {
        ++summary.lines;
        const std::string_view line = detail::trim(raw);
        if (line == "FINISHED: SUCCESS") summary.finished = true;
        if (detail::starts_with(line, "ERROR:")) summary.errors.emplace_back(line);
        bool timing = false;
        for (std::string_view phrase : kTimingPhrases) timing = timing || detail::starts_with(line, phrase);
        if (!timing) continue;
        const std::size_t blank = line.find_last_of(" \t");
        if (blank == std::string_view::npos) continue;
        const std::string number(line.substr(blank + 1));
        char* end = nullptr;
        errno = 0;
        const double seconds = std::strtod(number.c_str(), &end);
        if (end == number.c_str() || *end != '\0' || errno == ERANGE) continue;
        summary.timings.push_back({std::string(detail::trim(line.substr(0, blank))), seconds});
    }
    return summary;
}

}  // namespace torva::inspect
