// Parameter echo in namelist form (see namelist_writer.hpp).
#include "input/namelist_writer.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace torva {

namespace {

std::string real_text(float value)
{
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0.0f ? "-Infinity" : "Infinity";
    // The shortest form is at most "-1.17549435e-38": 15 characters.
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";   // 100 -> 100.0: visibly a real
    return text;
}

std::string text_text(const std::string& value)
{
    const auto end = value.find_last_not_of(' ');
    const std::string_view kept = std::string_view(value).substr(0, end == std::string::npos ? 0 : end + 1);
    std::string text = "'";
    for (const char c : kept) {
        if (c == '\'') text += '\'';    // the delimiter doubled
        text += c;
    }
    return text + "'";
}

// Equality that tells -0.0 from 0.0 and a NaN from nothing else, so that a run of equal
// elements writes back the exact bits of every element.
bool same(float a, float b) { return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b); }
bool same(int a, int b) { return a == b; }
bool same(bool a, bool b) { return a == b; }
bool same(const std::string& a, const std::string& b) { return a == b; }

std::string value_text(float value) { return real_text(value); }
std::string value_text(int value) { return std::to_string(value); }
std::string value_text(bool value) { return value ? "T" : "F"; }
std::string value_text(const std::string& value) { return text_text(value); }

template <class E>
void write_key(std::ostream& out, std::string_view name, const E* elements, std::size_t count)
{
    std::string line = " " + std::string(name) + " =";
    bool first = true;
    for (std::size_t e = 0; e < count;) {
        std::size_t run = 1;
        while (e + run < count && same(elements[e + run], elements[e])) ++run;
        const std::string item = (run > 1 ? std::to_string(run) + "*" : std::string()) + value_text(elements[e]);
        if (first) {
            line += " " + item;
            first = false;
        } else if (line.size() + 2 + item.size() > kEchoLineWidth) {
            out << line << ",\n";
            line = "   " + item;
        } else {
            line += ", " + item;
        }
        e += run;
    }
    out << line << '\n';
}

}  // namespace

void write_torva_inp(std::ostream& out, const RunParameters& params)
{
    const auto slots = key_slots(params);
    out << "&TORVA_INP\n";
    for (std::size_t k = 0; k < kTorvaInpKeys.size(); ++k) {
        const KeyInfo& key = kTorvaInpKeys[k];
        const ConstKeySlot& slot = slots[k];
        switch (key.kind) {
        case ValueKind::Real: write_key(out, key.name, slot.reals, slot.count); break;
        case ValueKind::Integer: write_key(out, key.name, slot.integers, slot.count); break;
        case ValueKind::Logical: write_key(out, key.name, slot.logicals, slot.count); break;
        case ValueKind::Text: write_key(out, key.name, slot.texts, slot.count); break;
        }
    }
    out << "/\n";
}

}  // namespace torva
