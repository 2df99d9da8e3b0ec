// The progress reporter, driven by a fake clock and a fake "stderr is a terminal" flag, with
// its output captured.  Expected lines are worked by hand from the rate and time-left
// formulas: rate = done / elapsed, left = (total - done) / rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "frame/progress.hpp"

namespace {

using torva::ProgressReporter;
using torva::ProgressSettings;

// A terminal that records what reaches it, and a clock set by hand.
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

TEST(progress, writes_nothing_when_stderr_is_not_a_terminal)
{
    FakeTerminal term;
    {
        ProgressReporter p("assembling rows", "rows", term.settings(false));
        EXPECT_FALSE(p.enabled());
        for (int i = 1; i <= 100; ++i) {
            term.now = i;
            p.report(i, 100);
        }
        p.announce();
        p.finish();
        torva::close_progress_line();
    }
    EXPECT_TRUE(term.writes.empty()) << term.all();
}

TEST(progress, rate_and_time_left_follow_the_mean_since_the_start)
{
    FakeTerminal term;
    term.now = 100.0;                       // t0
    ProgressReporter p("assembling rows", "rows", term.settings());
    term.now = 110.0;                       // 250 rows in 10 s: 25 rows/s, 750 rows left: 30 s
    p.report(250, 1000);
    ASSERT_EQ(term.writes.size(), 1u);
    EXPECT_EQ(term.writes[0], "\rassembling rows: 250/1000 rows (25.0%), 25.0 rows/s, 0:30 left");
    term.now = 210.0;                       // 900 rows in 110 s: 8.18 rows/s, 100 left: 12.2 s
    p.report(900, 1000);
    ASSERT_EQ(term.writes.size(), 2u);
    EXPECT_EQ(visible(term.writes[1]), "assembling rows: 900/1000 rows (90.0%), 8.2 rows/s, 0:12 left");
    p.finish();
}

TEST(progress, first_report_without_elapsed_time_makes_no_estimate)
{
    FakeTerminal term;
    ProgressReporter p("basis flow", "panels", term.settings());
    p.report(0, 50);   // nothing done, no time gone: a rate would be 0/0
    ASSERT_EQ(term.writes.size(), 1u);
    EXPECT_EQ(term.writes[0], "\rbasis flow: 0/50 panels (0.0%), estimating time left");
    p.finish();
}

TEST(progress, updates_at_most_every_min_interval)
{
    FakeTerminal term;
    ProgressReporter p("rows", "rows", term.settings(true, 0.25));
    // Reports at t = 0, 0.1, ..., 1.0.  Shown: the first (t = 0), then the first report at
    // least 0.25 s after the last shown one: t = 0.3, 0.6, 0.9.
    for (int i = 0; i <= 10; ++i) {
        term.now = i / 10.0;
        p.report(i, 10);
    }
    ASSERT_EQ(term.writes.size(), 4u) << term.all();
    EXPECT_NE(term.writes[1].find(": 3/10 "), std::string::npos) << term.writes[1];
    EXPECT_NE(term.writes[2].find(": 6/10 "), std::string::npos) << term.writes[2];
    EXPECT_NE(term.writes[3].find(": 9/10 "), std::string::npos) << term.writes[3];
    p.finish();
}

TEST(progress, finish_shows_the_last_count_even_when_its_report_was_throttled)
{
    FakeTerminal term;
    ProgressReporter p("assembling rows", "rows", term.settings());
    for (int i = 1; i <= 40; ++i) {          // 10 ms apart: all but a few are throttled
        term.now = 0.01 * i;
        p.report(i, 40);
    }
    term.now = 4.0;
    p.finish();
    ASSERT_FALSE(term.writes.empty());
    EXPECT_EQ(visible(term.writes.back()), "assembling rows: 40/40 rows (100.0%) in 4.0 s");
    EXPECT_EQ(term.writes.back().back(), '\n');
    const std::string out = term.all();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << "one line, ended once";

    const std::size_t before = term.writes.size();
    p.finish();                              // a second finish writes nothing
    p.report(41, 40);                        // nor a late report
    EXPECT_EQ(term.writes.size(), before);
}

TEST(progress, shorter_line_blanks_out_the_rest_of_the_longer_one)
{
    FakeTerminal term;
    ProgressReporter p("rows", "rows", term.settings(true, 0.0));
    term.now = 0.001;
    p.report(999999, 1000000);               // 999999000.0 rows/s: a long text
    term.now = 1000.0;
    p.report(1000000, 1000000);              // 1000.0 rows/s: a shorter one
    ASSERT_EQ(term.writes.size(), 2u);
    // On a terminal "\r" only moves the cursor: whatever the new text does not cover stays
    // visible, so the second write must reach at least as far as the first.
    EXPECT_LT(visible(term.writes[1]).size(), visible(term.writes[0]).size());
    EXPECT_GE(term.writes[1].size(), term.writes[0].size());
    p.finish();
}

TEST(progress, announced_phase_reports_its_duration)
{
    FakeTerminal term;
    term.now = 5.0;
    ProgressReporter p("factorising amat", {}, term.settings());
    p.announce();
    ASSERT_EQ(term.writes.size(), 1u);
    EXPECT_EQ(term.writes[0], "\rfactorising amat ...");
    term.now = 8.5;
    p.finish();
    ASSERT_EQ(term.writes.size(), 2u);
    EXPECT_EQ(term.writes[1], "\rfactorising amat ... done in 3.5 s\n");
}

TEST(progress, open_line_is_ended_by_the_stop_path_and_by_the_destructor_once)
{
    FakeTerminal term;
    {
        ProgressReporter p("rows", "rows", term.settings());
        p.report(1, 10);
        torva::close_progress_line();        // what stop_run does before its message
        ASSERT_EQ(term.writes.back(), "\n");
    }                                        // the line is ended already: no second newline
    EXPECT_EQ(term.writes.size(), 2u) << term.all();

    term.writes.clear();
    {
        ProgressReporter p("rows", "rows", term.settings());
        p.report(1, 10);                     // a run stopping here unwinds the reporter
    }
    ASSERT_EQ(term.writes.size(), 2u);
    EXPECT_EQ(term.writes.back(), "\n");

    term.writes.clear();
    {
        ProgressReporter p("rows", "rows", term.settings());
        p.report(1, 10);
        p.finish();
    }                                        // finished: the destructor adds nothing
    ASSERT_EQ(term.writes.size(), 2u);
    const std::string out = term.all();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
}

TEST(progress, a_new_phase_starts_on_its_own_line)
{
    FakeTerminal term;
    ProgressReporter rows("assembling rows", "rows", term.settings());
    rows.report(5, 10);
    ProgressReporter lu("factorising amat", {}, term.settings());
    lu.announce();
    // The rows line was left open; the announcement must not overwrite it.
    ASSERT_EQ(term.writes.size(), 3u) << term.all();
    EXPECT_EQ(term.writes[1], "\n");
    EXPECT_EQ(term.writes[2], "\rfactorising amat ...");
    lu.finish();
}

TEST(progress, concurrent_advances_keep_writes_whole_and_counts_rising)
{
    FakeTerminal term;
    std::atomic<long> ticks{0};
    ProgressSettings s = term.settings(true, 0.0);   // no throttle: as many writes as possible
    s.clock = [&ticks] { return 1e-3 * static_cast<double>(ticks.fetch_add(1)); };
    constexpr int kThreads = 8, kEach = 2000;
    constexpr std::int64_t kTotal = kThreads * kEach;
    {
        ProgressReporter p("rows", "rows", s);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&p] { for (int i = 0; i < kEach; ++i) p.advance(kTotal); });
        for (auto& t : threads) t.join();
        p.finish();
    }
    ASSERT_GE(term.writes.size(), 2u);
    long long last = -1;
    for (std::size_t k = 0; k < term.writes.size(); ++k) {
        const std::string& w = term.writes[k];
        ASSERT_EQ(w.front(), '\r') << "write " << k << " is not a whole line: " << w;
        const std::string v = visible(w);
        const std::size_t colon = v.find(": ");
        ASSERT_NE(colon, std::string::npos) << v;
        const long long done = std::stoll(v.substr(colon + 2));
        EXPECT_GE(done, last) << "count went backwards at write " << k;
        last = done;
    }
    EXPECT_EQ(visible(term.writes.back()).rfind("rows: 16000/16000 rows (100.0%) in ", 0), 0u)
        << term.writes.back();
}

TEST(progress, time_left_reads_as_minutes_and_hours)
{
    EXPECT_EQ(torva::format_time_left(0.0), "0:00");
    EXPECT_EQ(torva::format_time_left(59.4), "0:59");
    EXPECT_EQ(torva::format_time_left(59.6), "1:00");
    EXPECT_EQ(torva::format_time_left(3599.0), "59:59");
    EXPECT_EQ(torva::format_time_left(3600.0), "1:00:00");
    EXPECT_EQ(torva::format_time_left(3725.0), "1:02:05");
    EXPECT_EQ(torva::format_time_left(-3.0), "0:00");
    EXPECT_EQ(torva::format_time_left(std::numeric_limits<double>::quiet_NaN()), "0:00");
    EXPECT_EQ(torva::format_time_left(std::numeric_limits<double>::infinity()), "999:59:59");
}

}  // namespace
