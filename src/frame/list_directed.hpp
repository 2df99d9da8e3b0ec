// List-directed lines: one leading blank, then the items separated by one blank.
//
// Texts are written as given.  Integers are written without padding; reals in the shortest
// form that reads back to the same float (%.9G trimmed), which is what a reader of the
// listing needs to reproduce a value.  Logicals are T or F, as Fortran writes them.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>

namespace torva {

[[nodiscard]] std::string format_item(std::string_view text);
[[nodiscard]] std::string format_item(const char* text);
[[nodiscard]] std::string format_item(const std::string& text);
[[nodiscard]] std::string format_item(int value);
[[nodiscard]] std::string format_item(long value);
[[nodiscard]] std::string format_item(long long value);
[[nodiscard]] std::string format_item(float value);
[[nodiscard]] std::string format_item(double value);
[[nodiscard]] std::string format_item(bool value);

// " a b c": the record as the listing file holds it.
template <class... Items>
[[nodiscard]] std::string list_directed(const Items&... items)
{
    std::string line;
    ((line += ' ', line += format_item(items)), ...);
    return line;
}

// Trimmed length of a fixed-length text: position of the last character that is neither a
// blank nor a NUL, 0 for an empty or all-blank text.
[[nodiscard]] std::size_t trimmed_length(std::string_view text) noexcept;
[[nodiscard]] std::string trimmed(std::string_view text);
// `text` cut or blank-padded to exactly `length` characters (a Fortran CHARACTER*length).
[[nodiscard]] std::string fixed_text(std::string_view text, std::size_t length);

}  // namespace torva
