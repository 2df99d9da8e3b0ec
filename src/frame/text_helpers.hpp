// Small helpers several layers use: the CPU clock of the listing's timing lines, and two
// text forms of messages.
#pragma once

#include <cctype>
#include <ctime>
#include <string>
#include <string_view>

namespace torva {

// CPU seconds of this process so far, as the listing's "time spent" lines report them (the
// difference of two readings; all threads' time counts).
[[nodiscard]] inline float cpu_seconds() { return static_cast<float>(std::clock()) / CLOCKS_PER_SEC; }

// The text in upper case (ASCII letters only; other bytes unchanged).
[[nodiscard]] inline std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The text between double quotes, as messages quote a file name or a token.
[[nodiscard]] inline std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

}  // namespace torva
