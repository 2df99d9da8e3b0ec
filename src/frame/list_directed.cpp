#include "frame/list_directed.hpp"

#include <cstdio>
#include <cstdlib>

namespace torva {

std::string format_item(std::string_view text) { return std::string(text); }
std::string format_item(const char* text) { return std::string(text); }
std::string format_item(const std::string& text) { return text; }
std::string format_item(int value) { return std::to_string(value); }
std::string format_item(long value) { return std::to_string(value); }
std::string format_item(long long value) { return std::to_string(value); }
std::string format_item(bool value) { return value ? "T" : "F"; }

namespace {
// Shortest %G form with `max_digits` that reads back as the same value of type T.
template <class T>
std::string shortest(T value, int max_digits)
{
    char buf[64];
    for (int digits = 1; digits <= max_digits; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*G", digits, static_cast<double>(value));
        const T back = static_cast<T>(std::strtod(buf, nullptr));
        if (back == value) break;
    }
    std::string s(buf);
    // A bare integer-looking value keeps a decimal point, so the item reads as a real.
    if (s.find_first_of(".EN") == std::string::npos) s += ".0";
    return s;
}
}  // namespace

std::string format_item(float value) { return shortest(value, 9); }
std::string format_item(double value) { return shortest(value, 17); }

std::size_t trimmed_length(std::string_view text) noexcept
{
    std::size_t n = text.size();
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
    return n;
}

std::string trimmed(std::string_view text) { return std::string(text.substr(0, trimmed_length(text))); }

std::string fixed_text(std::string_view text, std::size_t length)
{
    std::string out(text.substr(0, std::min(text.size(), length)));
    out.resize(length, ' ');
    return out;
}

}  // namespace torva
