// The progress reporter, driven by a fake clock and a fake "stderr is a terminal" flag, with
// its output captured.  Expected lines are worked by hand from the rate and time-left
// formulas: rate = done / elapsed, left = (total - done) / rate.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "frame/progress.hpp"

namespace {

using torva::ProgressReporter;
using torva::ProgressSettings;

struct FakeTerminal {
    double now = 0.0;
    std::vector<std::string> writes;

    ProgressSettings settings(bool is_terminal = true, double min_interval = 0.25)
    {
        ProgressSettings s;
        s.enabled = is_terminal;
        s.clock = [this] { return now; };
        s.sink = [this](std::string_view text) { writes.emplace_back(text); };
        s.min_interval = min_interval;
        return s;
    }
    std::string all() const
    {
        std::string out;
        for (const auto& w : writes) out += w;
        return out;
    }
};

// The visible text of a write: without the leading carriage return, trailing padding
// blanks and the newline.
std::string visible(std::string w)
{
    if (!w.empty() && w.front() == '\r') w.erase(0, 1);
    while (!w.empty() && (w.back() == ' ' || w.back() == '\n')) w.pop_back();
    return w;
}

TEST(progress, rate_and_time_left_follow_the_mean_since_the_start)
{
    FakeTerminal term;
    term.now = 100.0;                       // t0
    ProgressReporter p("assembling rows", "rows", term.settings());
    p.report(0, 1000);                      // nothing done, no time gone: a rate would be 0/0
    term.now = 110.0;                       // 250 rows in 10 s: 25 rows/s, 750 rows left: 30 s
    p.report(250, 1000);
    term.now = 210.0;                       // 900 rows in 110 s: 8.18 rows/s, 100 left: 12.2 s
    p.report(900, 1000);
    ASSERT_EQ(term.writes.size(), 3u);
    EXPECT_EQ(term.writes[0], "\rassembling rows: 0/1000 rows (0.0%), estimating time left");
    EXPECT_EQ(visible(term.writes[1]), "assembling rows: 250/1000 rows (25.0%), 25.0 rows/s, 0:30 left");
    EXPECT_EQ(visible(term.writes[2]), "assembling rows: 900/1000 rows (90.0%), 8.2 rows/s, 0:12 left");
    // A shorter line blanks out the rest of a longer one ("\r" only moves the cursor).
    EXPECT_GE(term.writes[2].size(), term.writes[0].size());
    p.finish();
    EXPECT_EQ(torva::format_time_left(59.6), "1:00");
    EXPECT_EQ(torva::format_time_left(3725.0), "1:02:05");
    EXPECT_EQ(torva::format_time_left(std::numeric_limits<double>::quiet_NaN()), "0:00");
    EXPECT_EQ(torva::format_time_left(std::numeric_limits<double>::infinity()), "999:59:59");
}

TEST(progress, throttled_reports_and_one_ended_line_per_phase)
{
    FakeTerminal term;
    {
        ProgressReporter p("rows", "rows", term.settings(true, 0.25));
        // Reports at t = 0, 0.1, ..., 1.0: shown at t = 0, then the first at least 0.25 s
        // after the last shown one, t = 0.3, 0.6, 0.9; finish shows the last count.
        for (int i = 0; i <= 10; ++i) {
            term.now = i / 10.0;
            p.report(i, 10);
        }
        ASSERT_EQ(term.writes.size(), 4u) << term.all();
        EXPECT_NE(term.writes[3].find(": 9/10 "), std::string::npos) << term.writes[3];
        term.now = 4.0;
        p.finish();
        EXPECT_EQ(visible(term.writes.back()), "rows: 10/10 rows (100.0%) in 4.0 s");
        p.finish();                          // a second finish writes nothing, nor a late report
        p.report(11, 10);
        EXPECT_EQ(term.writes.size(), 5u);
    }
    // An open line is ended once: by the stop path, by a new phase, or by the destructor.
    term.writes.clear();
    {
        ProgressReporter rows("assembling rows", "rows", term.settings());
        rows.report(5, 10);
        term.now = 5.0;
        ProgressReporter lu("factorising amat", {}, term.settings());
        lu.announce();
        term.now = 8.5;
        lu.finish();
        ProgressReporter basis("basis flow", "rows", term.settings());
        basis.report(1, 10);
        torva::close_progress_line();        // what stop_run does before its message
    }
    const std::vector<std::string> expected = {"\rassembling rows: 5/10 rows (50.0%), estimating time left", "\n",
                                               "\rfactorising amat ...", "\rfactorising amat ... done in 3.5 s\n",
                                               "\rbasis flow: 1/10 rows (10.0%), estimating time left", "\n"};
    EXPECT_EQ(term.writes, expected);
    // Nothing at all when stderr is not a terminal.
    term.writes.clear();
    {
        ProgressReporter p("assembling rows", "rows", term.settings(false));
        for (int i = 1; i <= 100; ++i) p.report(i, 100);
        p.announce();
        p.finish();
        torva::close_progress_line();
    }
    EXPECT_TRUE(term.writes.empty()) << term.all();
}

}  // namespace
