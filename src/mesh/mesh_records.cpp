// List-directed record reading for the mesh files (rules in the header).
#include "mesh/mesh_records.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "frame/fortran_real.hpp"
#include "mesh/mesh_fault.hpp"
#include "frame/text_helpers.hpp"
#include "frame/units.hpp"

namespace torva {

namespace {

[[nodiscard]] bool is_blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r'; }
[[nodiscard]] bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
[[nodiscard]] bool ends_value(char c) noexcept { return is_blank(c) || c == ',' || c == '/'; }

[[nodiscard]] char lower(char c) noexcept
{ return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool parse_fortran_int(std::string_view text, int& value, bool& out_of_range)
{
    out_of_range = false;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return false;
    for (std::size_t k = i; k < text.size(); ++k)
        if (!is_digit(text[k]))
            return false;
    long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), magnitude);
    const long long signed_value = negative ? -magnitude : magnitude;
    if (ec == std::errc::result_out_of_range || end != text.data() + text.size()
        || signed_value < std::numeric_limits<int>::min()
        || signed_value > std::numeric_limits<int>::max()) {
        out_of_range = true;
        return false;
    }
    value = static_cast<int>(signed_value);
    return true;
}

MeshRecords::MeshRecords(LineSource source, std::string file_name)
    : source_(std::move(source)), file_name_(std::move(file_name))
{
}

MeshRecords::MeshRecords(std::istream& in, std::string file_name)
    : MeshRecords([&in](std::string& line) { return static_cast<bool>(std::getline(in, line)); },
                  std::move(file_name))
{
}

MeshRecords::MeshRecords(int unit, std::string file_name)
    : MeshRecords([unit](std::string& line) { return units().read_line(unit, line); },
                  std::move(file_name))
{
}

bool MeshRecords::fetch_record()
{
    if (!source_(record_))
        return false;
    ++record_number_;
    // A file saved by a Windows editor may open with a UTF-8 byte-order mark; it is no part
    // of the first record (the version line or the title).
    if (record_number_ == 1 && record_.starts_with("\xEF\xBB\xBF"))
        record_.erase(0, 3);
    if (!record_.empty() && record_.back() == '\r')
        record_.pop_back();
    pos_ = 0;
    return true;
}

void MeshRecords::fail(std::string_view problem) const
{
    throw MeshFault({"ERROR: Mesh file " + quoted(file_name_) + ", record "
              + std::to_string(record_number_) + ": " + std::string(problem) + "; expected "
              + statement_});
}

std::string MeshRecords::read_text_record(std::string_view what)
{
    statement_ = what;
    in_statement_ = false;
    repeat_left_ = 0;
    if (!fetch_record()) {
        ++record_number_;        // the record that is missing
        fail("the file ends here");
    }
    return record_;
}

bool MeshRecords::try_read_text_record(std::string& line)
{
    in_statement_ = false;
    repeat_left_ = 0;
    if (!fetch_record())
        return false;
    line = record_;
    return true;
}

void MeshRecords::begin_statement(std::string what)
{
    statement_ = std::move(what);
    in_statement_ = false;
    repeat_left_ = 0;
}

std::string_view MeshRecords::next_token(std::string_view item)
{
    if (repeat_left_ > 0) {
        --repeat_left_;
        return repeat_value_;
    }
    for (;;) {
        if (!in_statement_) {
            if (!fetch_record()) {
                ++record_number_;
                fail("the file ends here, before " + std::string(item));
            }
            in_statement_ = true;
        }
        while (pos_ < record_.size() && is_blank(record_[pos_]))
            ++pos_;
        if (pos_ == record_.size()) {
            in_statement_ = false;            // the statement continues on the next record
            continue;
        }
        const char c = record_[pos_];
        if (c == ',')
            fail("an empty value (two separators in a row) where " + std::string(item)
                 + " should be");
        if (c == '/')
            fail("\"/\" ends the values before " + std::string(item));

        std::string_view token;
        if (c == '\'' || c == '"') {
            const std::size_t close = record_.find(c, pos_ + 1);
            const std::size_t end = close == std::string::npos ? record_.size() : close;
            token = std::string_view(record_).substr(pos_ + 1, end - pos_ - 1);
            pos_ = close == std::string::npos ? record_.size() : close + 1;
        } else {
            const std::size_t start = pos_;
            while (pos_ < record_.size() && !ends_value(record_[pos_]))
                ++pos_;
            token = std::string_view(record_).substr(start, pos_ - start);
        }
        while (pos_ < record_.size() && is_blank(record_[pos_]))
            ++pos_;
        if (pos_ < record_.size() && record_[pos_] == ',')
            ++pos_;

        // r*v: r copies of v
        const std::size_t star = token.find('*');
        if (star != std::string_view::npos && star > 0) {
            int repeat = 0;
            bool too_big = false;
            if (parse_fortran_int(token.substr(0, star), repeat, too_big) && repeat > 0
                && token[0] != '+' && token[0] != '-') {
                if (star + 1 == token.size())
                    fail("empty repeated values " + quoted(token) + " where " + std::string(item)
                         + " should be");
                repeat_value_ = token.substr(star + 1);
                repeat_left_ = repeat - 1;
                return repeat_value_;
            }
        }
        return token;
    }
}

int MeshRecords::next_int(std::string_view item)
{
    const std::string_view token = next_token(item);
    int value = 0;
    bool out_of_range = false;
    if (!parse_fortran_int(token, value, out_of_range)) {
        if (out_of_range)
            fail(quoted(token) + " is out of range for a 32-bit integer (" + std::string(item) + ")");
        fail(quoted(token) + " is not an integer (" + std::string(item) + ")");
    }
    return value;
}

float MeshRecords::next_real(std::string_view item)
{
    const std::string_view token = next_token(item);
    float value = 0.0f;
    bool out_of_range = false;
    if (!parse_fortran_real(token, value, out_of_range)) {
        if (out_of_range)
            fail(quoted(token) + " is out of range for a 32-bit real (" + std::string(item) + ")");
        fail(quoted(token) + " is not a number (" + std::string(item) + ")");
    }
    return value;
}

float MeshRecords::next_finite_real(std::string_view item)
{
    const float value = next_real(item);
    if (!std::isfinite(value))
        fail(std::string(item) + " is not finite (" + (std::isnan(value) ? "NaN" : "infinite") + ")");
    return value;
}

bool MeshRecords::next_logical(std::string_view item)
{
    const std::string_view token = next_token(item);
    std::size_t k = (!token.empty() && token[0] == '.') ? 1 : 0;
    if (k < token.size()) {
        if (lower(token[k]) == 't')
            return true;
        if (lower(token[k]) == 'f')
            return false;
    }
    fail(quoted(token) + " is not a logical value T or F (" + std::string(item) + ")");
}

char MeshRecords::next_optional_character()
{
    if (!in_statement_)
        return ' ';
    while (pos_ < record_.size() && is_blank(record_[pos_]))
        ++pos_;
    if (pos_ == record_.size() || record_[pos_] == ',' || record_[pos_] == '/')
        return ' ';
    char c = record_[pos_];
    if (c == '\'' || c == '"') {
        const char quote = c;
        c = (pos_ + 1 < record_.size() && record_[pos_ + 1] != quote) ? record_[pos_ + 1] : ' ';
    }
    pos_ = record_.size();        // the rest of the record is not read
    return c;
}

bool MeshRecords::try_read_int_statement(int& value)
{
    in_statement_ = false;
    repeat_left_ = 0;
    // A blank record continues the statement, as for any list-directed read; the end of the
    // file anywhere before the value means there is no value.
    for (;;) {
        if (!fetch_record())
            return false;
        std::size_t p = 0;
        while (p < record_.size() && is_blank(record_[p]))
            ++p;
        if (p == record_.size())
            continue;
        std::size_t e = p;
        while (e < record_.size() && !ends_value(record_[e]))
            ++e;
        bool out_of_range = false;
        return parse_fortran_int(std::string_view(record_).substr(p, e - p), value, out_of_range);
    }
}

}  // namespace torva
