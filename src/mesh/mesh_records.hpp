// Record-by-record reading of a mesh text file with Fortran list-directed rules.
//
// A read statement starts at a new record and takes values from it left to right; when the
// record runs out before the statement has all its values, the statement continues on the
// next record; whatever the last record holds beyond the statement's values is skipped.
// Values are separated by blanks, tabs and/or one comma; "r*v" stands for r copies of v.
// Reals take the forms 1, -1., .5, 1.0E0, 1.0e-3, 1.0D0, 1.0d+00, 1.0Q0 and 1.0+3 (exponent
// without its letter); integers are an optional sign and digits; logicals begin with T or F,
// optionally after a period (T, .TRUE., f, .false.).
//
// Every failure throws MeshFault with one "ERROR:" line naming the file, the record number
// (counting from 1) and what the statement expected.  Two list-directed features are refused
// rather than honoured, because in a mesh they only ever mean a damaged record: a null value
// (two commas in a row), which would leave the item at whatever it held before, and "/",
// which would end the statement early with the same effect.
#pragma once

#include <functional>
#include <istream>
#include <string>
#include <string_view>

#include "mesh/mesh_fault.hpp"
#include "frame/fortran_real.hpp"

namespace torva {

class MeshRecords {
public:
    // Reads the next record into the string; returns false at the end of the file.
    using LineSource = std::function<bool(std::string&)>;

    MeshRecords(LineSource source, std::string file_name);
    // Records from a stream (tests feed strings).
    MeshRecords(std::istream& in, std::string file_name);
    // Records from an open formatted unit of the unit table.
    MeshRecords(int unit, std::string file_name);

    // Reads the next record whole (Fortran '(A)'); a trailing carriage return is dropped.
    // At the end of the file the run stops, the message naming `what`.
    [[nodiscard]] std::string read_text_record(std::string_view what);
    // The same, but returns false at the end of the file instead of stopping.
    [[nodiscard]] bool try_read_text_record(std::string& line);

    // Starts a read statement: its first value comes from the next record.  `what` names
    // the statement in messages ("the header of sheet 2 of 3 (NP1 NP2 KP MP)").
    void begin_statement(std::string what);

    // Next value of the current statement, continuing on later records if needed.
    [[nodiscard]] int next_int(std::string_view item);
    [[nodiscard]] float next_real(std::string_view item);   // any float, Inf and NaN included
    [[nodiscard]] float next_finite_real(std::string_view item);
    [[nodiscard]] bool next_logical(std::string_view item);
    // A one-character value that is optional: its first character when the current record
    // has another value, a blank when the record ends here (no continuation: a missing
    // code must not swallow the next record).
    [[nodiscard]] char next_optional_character();

    // The link count: one integer, where the end of the file or a value that is not an
    // integer both mean "no link section" (nullopt-like false, no stop).
    [[nodiscard]] bool try_read_int_statement(int& value);

    [[nodiscard]] int record_number() const noexcept { return record_number_; }
    [[nodiscard]] const std::string& file_name() const noexcept { return file_name_; }

    // Throws MeshFault with "ERROR: Mesh file <name>, record <r>: <problem>; expected <what>".
    [[noreturn]] void fail(std::string_view problem) const;

private:
    bool fetch_record();
    // Positions on the next value of the statement (continuing across records); returns its
    // text, or stops at the end of the file or on a null value or slash.
    std::string_view next_token(std::string_view item);

    LineSource source_;
    std::string file_name_;
    std::string record_;
    std::size_t pos_ = 0;
    bool in_statement_ = false;      // record_ belongs to the current statement
    int record_number_ = 0;          // records read so far (the current record's number)
    std::string statement_;          // what the current statement expects
    std::string repeat_value_;       // pending value of an "r*v" group
    int repeat_left_ = 0;
    std::string token_;              // storage for a token built from a repeat
};

// Free-format integer parsing (exposed for tests; reals: frame/fortran_real.hpp).  Return false when `text` is not a value
// of the kind; `out_of_range` is set when it is one but does not fit.
[[nodiscard]] bool parse_fortran_int(std::string_view text, int& value, bool& out_of_range);

}  // namespace torva
