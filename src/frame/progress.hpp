// Progress of the long phases (assembly rows, factorisation, basis flow) for a person who
// watches the run in a terminal.
//
// Everything goes to stderr and only when stderr is a terminal (isatty(2)): a run started by
// a batch system or with stderr redirected to a file shows nothing, and nothing of it ever
// reaches the listing, whose content is fixed by the run alone.
//
// A counted phase keeps one line up to date, rewriting it after a carriage return:
//     assembling rows: 250/1000 rows (25.0%), 25.0 rows/s, 0:30 left
// with
//     rate       r = done / (t - t0)                  (1)
//     time left  T = (total - done) / r                (2)
// where t0 is the clock when the reporter was made.  The rate is the mean since the start
// rather than a recent window: assembly rows cost about the same, so the mean is the better
// estimate and does not jump about.  Updates come at most every `min_interval` seconds, so
// a loop may report every row without flooding the terminal.  finish() writes the final
// line with the elapsed time and ends it with a newline:
//     assembling rows: 1000/1000 rows (100.0%) in 40.0 s
// A phase without counts (a factorisation) is announced and then finished:
//     factorising amat ... done in 3.2 s
//
// Thread safety: report() and advance() may be called from any number of threads at once
// (the assembly loop runs in parallel).  A call that finds another thread writing skips its
// update instead of waiting, so the loop never queues on the terminal; the count shown never
// goes backwards when threads report out of order.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace torva {

struct ProgressSettings {
    bool enabled = false;                          // write at all: stderr is a terminal
    std::function<double()> clock;                 // seconds on a monotonic clock
    std::function<void(std::string_view)> sink;    // receives each piece of output
    double min_interval = 0.25;                    // seconds between two updates
};

// A real run's settings: enabled when isatty(2), std::chrono::steady_clock, write(2).
[[nodiscard]] ProgressSettings terminal_progress_settings();

class ProgressReporter {
public:
    // `label` names the phase ("assembling rows"); `item` names what is counted ("rows"),
    // empty for a phase that is only announced and finished.
    explicit ProgressReporter(std::string label, std::string item = {},
                              ProgressSettings settings = terminal_progress_settings());
    // Ends an open line with a newline (a run stopping in the middle of a phase must not
    // leave its error message glued to the progress line), without claiming completion.
    ~ProgressReporter();
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    // `done` of `total` items are finished.  Throttled; thread-safe.
    void report(std::int64_t done, std::int64_t total);
    // One more item is finished (counted here, atomically), then report(count, total).
    void advance(std::int64_t total);
    // Writes "label ..." at once, for a phase that has no counts.
    void announce();
    // The final line with the elapsed time and a newline.  Only the first call writes.
    void finish();

    [[nodiscard]] bool enabled() const noexcept { return settings_.enabled; }

private:
    void write_line(const std::string& text, bool end_line);   // caller holds mutex_

    std::string label_;
    std::string item_;
    ProgressSettings settings_;
    double start_ = 0.0;
    std::mutex mutex_;
    std::atomic<std::int64_t> count_{0};        // items counted by advance()
    std::atomic<std::int64_t> done_max_{-1};    // largest `done` reported, shown or not
    std::atomic<std::int64_t> total_{0};        // the last `total` reported
    // Guarded by mutex_:
    bool shown_ = false;          // something was written
    bool finished_ = false;
    bool announced_ = false;
    double last_update_ = 0.0;
    std::int64_t done_shown_ = -1;
    std::size_t last_length_ = 0; // length of the visible text of the last line
    // Whether this reporter's line is still open is kept with the output lock in
    // progress.cpp, because close_progress_line may end it from outside.
};

// "m:ss" below an hour, "h:mm:ss" from there (seconds rounded to the nearest whole one).
[[nodiscard]] std::string format_time_left(double seconds);

// Ends any progress line still open on stderr with a newline.  For the stop path: a message
// echoed to stderr while a phase is shown then starts on a line of its own.
void close_progress_line() noexcept;

}  // namespace torva
