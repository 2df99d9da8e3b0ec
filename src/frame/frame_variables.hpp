// Standard units and frame variables: the small process-wide state the setup driver and the
// frame share.
//
// Standard units: the input unit (initially 5) and the output unit (initially 6, which
// carries the listing).
//
// Frame variables: up to kMaxFrameVariables named texts, the name a blank-padded text of
// kFrameVariableLength characters and the value one of kFrameVariableValueLength: a listing
// name is a 200-character input name followed by ".LIS", and a value of 90 characters would
// cut it (a cut name could even be the input file itself, which the listing's open would then
// move aside).  Names compare as blank-padded texts: trailing
// blanks do not matter, case does.  The frame reads OUTNAME (the listing file, or NOOPEN for
// none) and INPNAME (an input file for the frame to open).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torva {

inline constexpr int kStandardUnitsSet = 1;
inline constexpr int kStandardUnitsGet = 2;

struct StandardUnits {
    int input = 5;
    int output = 6;
};

// Mode kStandardUnitsSet stores `input_unit` and `output_unit`, kStandardUnitsGet returns
// the stored pair in them; any other mode does nothing.
void standard_units(int mode, int& input_unit, int& output_unit);
void set_standard_units(int input_unit, int output_unit);
[[nodiscard]] StandardUnits get_standard_units();

inline constexpr std::size_t kMaxFrameVariables = 100;
inline constexpr std::size_t kFrameVariableLength = 90;
inline constexpr std::size_t kFrameVariableValueLength = 204;

class FrameVariables {
public:
    // Stores `value` under `name`, replacing an existing entry's value.  When the store is
    // full a new name is dropped without a message.  The name is cut to 90 characters, the value
    // to 204.
    void put(std::string_view name, std::string_view value);
    // The value (204 characters, blank-padded), or 204 blanks when the name is not stored.
    [[nodiscard]] std::string get(std::string_view name) const;
    [[nodiscard]] std::size_t size() const noexcept { return names_.size(); }

private:
    std::vector<std::string> names_;    // each exactly kFrameVariableLength characters
    std::vector<std::string> values_;
};

// The process-wide store.
FrameVariables& frame_variables();

// Action PUT or GET on the process-wide store, as the driver calls it: PUT stores `value`;
// GET overwrites `value` with the stored text (204 characters).  Other actions do nothing.
void frame_variable(std::string_view action, std::string_view name, std::string& value);

}  // namespace torva
