// Readable texts for I/O status codes.
//
// The table holds one row per known code: the code right-justified in 6 characters, a colon
// and the message ("    29:FILE NOT FOUND").  A code missing from the table is shown as
//     OPERATING SYSTEM MESSAGE NO.: <code in columns 31 to 36>
// so that every status still reaches the reader as a number.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace torva {

// Width of a table row and of the text the frame shows.
inline constexpr std::size_t kIoErrorTextLength = 72;

// The table rows, in table order (56 rows).
[[nodiscard]] std::span<const std::string_view> io_error_table() noexcept;

// The text for `code`, blank-padded or cut to `length` characters: the first row whose code
// field equals the code written in 6 characters; else, when `length` is at least 36, the
// operating-system line; else all blanks.
[[nodiscard]] std::string io_error_text(int code, std::size_t length = kIoErrorTextLength);

}  // namespace torva
