#include "frame/fortran_real.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace torva {

namespace {

[[nodiscard]] bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

[[nodiscard]] char lower(char c) noexcept
{ return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

[[nodiscard]] bool equals_ignoring_case(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (lower(a[k]) != lower(b[k]))
            return false;
    return true;
}

}  // namespace

bool parse_fortran_real(std::string_view text, float& value, bool& out_of_range, bool sign_starts_exponent)
{
    out_of_range = false;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const std::string_view body = text.substr(i);

    // Infinity and NaN are accepted as values, as the Fortran run-time accepts them; the
    // caller decides whether a non-finite value is acceptable where it stands.
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
        value = negative ? -std::numeric_limits<float>::infinity()
                         : std::numeric_limits<float>::infinity();
        return true;
    }
    if (body.size() >= 3 && equals_ignoring_case(body.substr(0, 3), "nan")
        && (body.size() == 3 || (body[3] == '(' && body.back() == ')'))) {
        value = std::numeric_limits<float>::quiet_NaN();
        return true;
    }

    // mantissa: digits [. digits] or . digits
    std::size_t k = 0;
    std::size_t digits = 0;
    while (k < body.size() && is_digit(body[k]))
        ++k, ++digits;
    if (k < body.size() && body[k] == '.') {
        ++k;
        while (k < body.size() && is_digit(body[k]))
            ++k, ++digits;
    }
    if (digits == 0)
        return false;
    std::string normalised(body.substr(0, k));

    // exponent: a letter E, D or Q with an optional sign, or a bare sign
    bool negative_exponent = false;
    if (k < body.size()) {
        const char c = lower(body[k]);
        if (c == 'e' || c == 'd' || c == 'q')
            ++k;
        else if (!sign_starts_exponent || (c != '+' && c != '-'))
            return false;
        std::string exponent;
        if (k < body.size() && (body[k] == '+' || body[k] == '-')) {
            negative_exponent = body[k] == '-';
            exponent += body[k++];
        }
        std::size_t exponent_digits = 0;
        while (k < body.size() && is_digit(body[k]))
            exponent += body[k++], ++exponent_digits;
        if (exponent_digits == 0 || k != body.size())
            return false;
        normalised += 'e';
        normalised += exponent;
    }

    const char* first = normalised.data();
    const char* last = normalised.data() + normalised.size();
    float parsed = 0.0f;
    auto result = std::from_chars(first, last, parsed);
    if (result.ec == std::errc::result_out_of_range) {
        // Either beyond the float range or below it.  Below it the value is a subnormal or
        // zero, which the Fortran run-time delivers; beyond it is an error.
        double wide = 0.0;
        auto wide_result = std::from_chars(first, last, wide);
        if (wide_result.ec == std::errc() && std::fabs(wide) <= std::numeric_limits<float>::max()) {
            parsed = static_cast<float>(wide);
        } else if (wide_result.ec == std::errc::result_out_of_range && negative_exponent) {
            parsed = 0.0f;
        } else {
            out_of_range = true;
            return false;
        }
    } else if (result.ec != std::errc() || result.ptr != last) {
        return false;
    }
    value = negative ? -parsed : parsed;
    return true;
}

}  // namespace torva
