// Helpers shared by the run-parameter tests: records filled with distinctive values, a
// key-by-key comparison that names the first difference, and the Fortran declarations of
// the group for the gfortran programs.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <string>

#include "input/namelist_reader.hpp"
#include "input/run_parameters.hpp"

namespace torva::input_testing {

// The record is ~170 kB; tests keep it off the stack.
inline std::unique_ptr<RunParameters> fresh_parameters() { return std::make_unique<RunParameters>(); }

inline NamelistStatus read_text(const std::string& text, RunParameters& params)
{
    std::istringstream in(text);
    return read_torva_inp(in, params);
}

// A value for every element of every key that differs from the defaults and from its
// neighbours, including the awkward cases of each type: the float extremes, a subnormal,
// -0.0, infinity, values that are not short in decimal; the integer extremes; texts with
// both delimiters, the comment mark, the group end mark, separators, leading blanks and
// bytes of a UTF-8 letter; one text that fills its 200 characters.
inline void fill_distinctive(RunParameters& params)
{
    static const float kReals[] = {FLT_MAX, -FLT_MAX, FLT_MIN, std::numeric_limits<float>::denorm_min(),
                                   -0.0f, 1.0f / 3.0f, -2.5e-7f, 123456.789f, 1.0e10f, -1.0f, 0.1f,
                                   7.0f, std::numeric_limits<float>::infinity(), 16777217.0f, -9.87654e-30f};
    static const char* const kTexts[] = {"it's a \"quote\"", "  leading blanks", "a/b!c&d=e,f (g)",
                                         "caf\xC3\xA9 ''double''", "$END &END"};
    auto slots = key_slots(params);
    for (std::size_t k = 0; k < kTorvaInpKeys.size(); ++k) {
        const KeyInfo& key = kTorvaInpKeys[k];
        KeySlot& slot = slots[k];
        for (std::size_t e = 0; e < slot.count; ++e) {
            const std::size_t mix = k * 7 + e;
            switch (key.kind) {
            case ValueKind::Real:
                slot.reals[e] = kReals[mix % std::size(kReals)] * static_cast<float>(1 + (e % 3));
                break;
            case ValueKind::Integer:
                slot.integers[e] = mix % 11 == 0   ? std::numeric_limits<int>::min()
                                   : mix % 13 == 0 ? std::numeric_limits<int>::max()
                                                   : static_cast<int>(k * 1000 + e) * (k % 2 == 0 ? 1 : -1);
                break;
            case ValueKind::Logical:
                slot.logicals[e] = (mix % 3) != 1;
                break;
            case ValueKind::Text: {
                std::string text = std::string(key.name) + "_" + std::to_string(e) + " " + kTexts[mix % std::size(kTexts)];
                if (key.text_length == 3) text = e == 0 ? "'\"!" : "x";
                text.resize(static_cast<std::size_t>(key.text_length), ' ');
                slot.texts[e] = text;
                break;
            }
            }
        }
    }
    // A text with no padding at all.
    params.FILE_SSG = std::string(199, 'h') + "'";
}

// Every element of every key equal (floats bit for bit); the first difference is named.
inline ::testing::AssertionResult same_parameters(const RunParameters& expected, const RunParameters& actual)
{
    const auto a = key_slots(expected);
    const auto b = key_slots(actual);
    // An element as text: a real with its bits, so that -0.0 and 0.0 (or two NaNs) differ.
    const auto shown = [](const KeyInfo& key, const auto& slot, std::size_t e) -> std::string {
        switch (key.kind) {
        case ValueKind::Real:
            return std::to_string(slot.reals[e]) + " [" + std::to_string(std::bit_cast<std::uint32_t>(slot.reals[e])) + "]";
        case ValueKind::Integer: return std::to_string(slot.integers[e]);
        case ValueKind::Logical: return slot.logicals[e] ? "T" : "F";
        case ValueKind::Text: return "[" + slot.texts[e] + "]";
        }
        return "";
    };
    for (std::size_t k = 0; k < kTorvaInpKeys.size(); ++k)
        for (std::size_t e = 0; e < a[k].count; ++e)
            if (shown(kTorvaInpKeys[k], a[k], e) != shown(kTorvaInpKeys[k], b[k], e))
                return ::testing::AssertionFailure() << kTorvaInpKeys[k].name << " element " << e << ": expected "
                                                     << shown(kTorvaInpKeys[k], a[k], e) << ", got "
                                                     << shown(kTorvaInpKeys[k], b[k], e);
    return ::testing::AssertionSuccess();
}

// Fortran declarations of the group, generated from the key table: the shape of each key,
// never a value.  Each namelist statement adds its names to the group, in order.
inline std::string fortran_declarations()
{
    std::ostringstream out;
    for (const KeyInfo& key : kTorvaInpKeys) {
        switch (key.kind) {
        case ValueKind::Real: out << "real(4) :: "; break;
        case ValueKind::Integer: out << "integer(4) :: "; break;
        case ValueKind::Logical: out << "logical(4) :: "; break;
        case ValueKind::Text: out << "character(len=" << key.text_length << ") :: "; break;
        }
        out << key.name;
        if (key.rank() >= 1) out << "(" << key.lower << ":" << key.lower + key.n1 - 1;
        if (key.rank() == 2) out << ", 1:" << key.n2;
        if (key.rank() >= 1) out << ")";
        out << "\n";
    }
    for (const KeyInfo& key : kTorvaInpKeys) out << "namelist /TORVA_INP/ " << key.name << "\n";
    return out.str();
}

}  // namespace torva::input_testing
