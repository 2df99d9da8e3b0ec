#include "frame/progress.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace torva {

namespace {

// One progress line can be on the terminal at a time.  The output lock serialises every
// write of every reporter and guards which reporter's line is still open (has no newline),
// so that close_progress_line can end it from the stop path.  Lock order: a reporter's own
// mutex first, then this one.
std::mutex g_output_mutex;
const ProgressReporter* g_open_owner = nullptr;
const std::function<void(std::string_view)>* g_open_sink = nullptr;

void write_stderr(std::string_view text)
{
    // write(2) directly: no iostream state shared with the rest of the program, and a
    // failed write of a progress line is not worth reporting.
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(2, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

double steady_seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string fixed1(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1f", value);
    return buf;
}

}  // namespace

ProgressSettings terminal_progress_settings()
{
    ProgressSettings s;
    s.enabled = ::isatty(2) == 1;
    s.clock = steady_seconds;
    s.sink = write_stderr;
    return s;
}

std::string format_time_left(double seconds)
{
    if (!(seconds >= 0.0)) seconds = 0.0;   // also catches NaN
    // Beyond 999 hours the estimate means nothing; keep the field short.
    const double capped = std::min(seconds, 999.0 * 3600.0 + 59.0 * 60.0 + 59.0);
    const auto total = static_cast<long long>(std::llround(capped));
    const long long h = total / 3600, m = (total / 60) % 60, s = total % 60;
    char buf[32];
    if (h > 0)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", h, m, s);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", m, s);
    return buf;
}

ProgressReporter::ProgressReporter(std::string label, std::string item, ProgressSettings settings)
    : label_(std::move(label)), item_(std::move(item)), settings_(std::move(settings))
{
    if (settings_.enabled && (!settings_.clock || !settings_.sink)) settings_.enabled = false;
    if (settings_.enabled) start_ = settings_.clock();
}

ProgressReporter::~ProgressReporter()
{
    const std::lock_guard<std::mutex> out(g_output_mutex);
    if (g_open_owner == this) {
        (*g_open_sink)("\n");
        g_open_owner = nullptr;
        g_open_sink = nullptr;
    }
}

void ProgressReporter::write_line(const std::string& text, bool end_line)
{
    // "\r" + text, padded with blanks over what is left of a longer previous line.
    std::string out = "\r" + text;
    if (text.size() < last_length_) out.append(last_length_ - text.size(), ' ');
    last_length_ = text.size();
    if (end_line) out += '\n';
    const std::lock_guard<std::mutex> lock(g_output_mutex);
    // Another reporter's open line is ended first, so two phases never share a line.
    if (g_open_owner != nullptr && g_open_owner != this) (*g_open_sink)("\n");
    settings_.sink(out);
    g_open_owner = end_line ? nullptr : this;
    g_open_sink = end_line ? nullptr : &settings_.sink;
    shown_ = true;
}

void ProgressReporter::report(std::int64_t done, std::int64_t total)
{
    if (!settings_.enabled) return;
    // Every count is remembered, also one whose update is skipped, so that finish() shows
    // the last one even when the final report fell inside the throttle interval.
    std::int64_t seen = done_max_.load(std::memory_order_relaxed);
    while (done > seen && !done_max_.compare_exchange_weak(seen, done, std::memory_order_relaxed)) {
    }
    total_.store(total, std::memory_order_relaxed);
    const std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || finished_) return;   // another thread is writing: skip, do not wait
    const double now = settings_.clock();
    if (shown_ && now - last_update_ < settings_.min_interval) return;
    if (done < done_shown_) done = done_shown_;   // threads may report out of order
    done_shown_ = done;
    last_update_ = now;

    std::string text = label_ + ": " + std::to_string(done) + "/" + std::to_string(total);
    if (!item_.empty()) text += " " + item_;
    if (total > 0) text += " (" + fixed1(100.0 * static_cast<double>(done) / static_cast<double>(total)) + "%)";
    const double elapsed = now - start_;
    if (done > 0 && elapsed > 0.0) {
        const double rate = static_cast<double>(done) / elapsed;                          // (1)
        text += ", " + fixed1(rate) + " " + (item_.empty() ? std::string("items") : item_) + "/s";
        if (total >= done)
            text += ", " + format_time_left(static_cast<double>(total - done) / rate) + " left";   // (2)
    } else {
        text += ", estimating time left";
    }
    write_line(text, false);
}

void ProgressReporter::advance(std::int64_t total)
{
    const std::int64_t done = count_.fetch_add(1, std::memory_order_relaxed) + 1;
    report(done, total);
}

void ProgressReporter::announce()
{
    if (!settings_.enabled) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || announced_) return;
    announced_ = true;
    last_update_ = settings_.clock();
    write_line(label_ + " ...", false);
}

void ProgressReporter::finish()
{
    if (!settings_.enabled) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    const double elapsed = std::max(0.0, settings_.clock() - start_);
    std::string text;
    const std::int64_t done_max = done_max_.load(std::memory_order_relaxed);
    if (announced_ || done_max < 0) {
        text = label_ + " ... done in " + fixed1(elapsed) + " s";
    } else {
        const std::int64_t done = done_max;
        const std::int64_t total = std::max(total_.load(std::memory_order_relaxed), done);
        text = label_ + ": " + std::to_string(done) + "/" + std::to_string(total);
        if (!item_.empty()) text += " " + item_;
        if (total > 0)
            text += " (" + fixed1(100.0 * static_cast<double>(done) / static_cast<double>(total)) + "%)";
        text += " in " + fixed1(elapsed) + " s";
    }
    write_line(text, true);
}

void close_progress_line() noexcept
{
    const std::lock_guard<std::mutex> lock(g_output_mutex);
    if (g_open_owner == nullptr) return;
    try {
        (*g_open_sink)("\n");
    } catch (...) {
        // A sink that throws must not turn the stop path into another failure.
    }
    g_open_owner = nullptr;
    g_open_sink = nullptr;
}

}  // namespace torva
