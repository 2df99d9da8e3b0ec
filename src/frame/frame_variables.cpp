#include "frame/frame_variables.hpp"

#include "frame/list_directed.hpp"

namespace torva {
namespace {

StandardUnits g_standard_units;

}  // namespace

void standard_units(int mode, int& input_unit, int& output_unit)
{
    if (mode == kStandardUnitsSet) {
        g_standard_units.input = input_unit;
        g_standard_units.output = output_unit;
    } else if (mode == kStandardUnitsGet) {
        input_unit = g_standard_units.input;
        output_unit = g_standard_units.output;
    }
}

void set_standard_units(int input_unit, int output_unit)
{
    standard_units(kStandardUnitsSet, input_unit, output_unit);
}

StandardUnits get_standard_units() { return g_standard_units; }

void FrameVariables::put(std::string_view name, std::string_view value)
{
    const std::string key = fixed_text(name, kFrameVariableLength);
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == key) {
            values_[i] = fixed_text(value, kFrameVariableValueLength);
            return;
        }
    }
    if (names_.size() >= kMaxFrameVariables) return;
    names_.push_back(key);
    values_.push_back(fixed_text(value, kFrameVariableValueLength));
}

std::string FrameVariables::get(std::string_view name) const
{
    const std::string key = fixed_text(name, kFrameVariableLength);
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == key) return values_[i];
    return std::string(kFrameVariableValueLength, ' ');
}

FrameVariables& frame_variables()
{
    static FrameVariables store;
    return store;
}

void frame_variable(std::string_view action, std::string_view name, std::string& value)
{
    const std::string word = trimmed(action);
    if (word == "PUT")
        frame_variables().put(name, value);
    else if (word == "GET")
        value = frame_variables().get(name);
}

}  // namespace torva
