// Reader of the namelist group TORVA_INP in the standard namelist text form.
//
//     any text before the group is passed over, other groups included
//     &TORVA_INP                       (or $TORVA_INP; the name in any case)
//      ALENGTH = 120.0, FILE_SSG = 'hull.ssg'
//      ICOMP = 1 1 0,  SDIS0(3) = 1.5, 2.5     ! fills SDIS0(3) and SDIS0(4)
//      XLOAD(1,2) = 3*0.0  PERIOD = 2*, 9.5    ! 2* and ,, are null values
//      IPRSTERM = .TRUE. T .f. F
//     /                                (or &END, $END)
//
// What is accepted, and why each rule is there:
//   - separators are commas, blanks, tabs and line ends; a carriage return counts as a blank,
//     so files written on Windows (CR LF) read the same, and a UTF-8 byte-order mark before
//     the first line is skipped;
//   - "!" outside a text starts a comment that runs to the end of the line;
//   - keys are matched without regard to case; an unknown key is an error;
//   - KEY = list fills the key's elements in storage order from the first; KEY(i) = list and
//     KEY(i, j) = list fill from that element on (KEY(3) = 1, 2, 3 sets 3, 4, 5);
//     KEY(lo:hi[:stride]) and two-dimensional sections fill the section's elements in order;
//   - r*value repeats a value r times; r* alone and an empty place between commas (or a comma
//     right after "=") are null values, which leave their element unchanged;
//   - integers [+-]digits; reals [+-]digits[.digits][exponent] or [+-].digits[exponent], the
//     exponent E, D or Q with optional sign and digits (1e3, 1.5D0), or a sign and digits
//     alone (1.5+3), and Inf, Infinity, NaN; an integer is a valid real;
//   - logicals T, F, .T., .F., .TRUE., .false. (a letter T or F after an optional period,
//     any letters after it, as Fortran reads them);
//   - texts in apostrophes or quotes, the delimiter doubled inside (  'it''s'  "say ""hi"""  );
//   - everything after the closing "/" is not read, and everything before "&TORVA_INP" (or
//     "$TORVA_INP", anywhere on a line) is passed over, as a Fortran namelist READ does;
//   - a text longer than its key keeps its first characters, as Fortran assigns it; the
//     status lists a warning for it;
//   - integers may carry any number of leading zeros.
// Refused, each with the line where it is found: an unknown key, a value that is not of the key's type, a subscript outside
// the declared bounds (ISPLINE(0) is in, ISPLINE(2) is out), more values than elements, a
// text not closed on its own line, a control byte, a
// line longer than kMaxLineLength, and the end of the file before the group or before its "/".
//
// Decisions where Fortran run-time libraries differ or are lenient:
//   - a text must be delimited: Fortran's namelist READ, with which the solver reads this
//     same file, refuses FILE_SSG = hull.ssg, so it is refused here rather than later;
//   - a real beyond the float range (1e39) is refused rather than read as infinity;
//   - a text must close on the line where it opens (a missing apostrophe is then reported
//     at its own line, instead of swallowing the lines after it);
//   - lines of any length up to kMaxLineLength are read whole: namelist writers put a whole
//     text array on one line, each element padded to its full 200 characters.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "input/run_parameters.hpp"

namespace torva {

// Longest line the reader holds; a longer line is an error (no valid group needs one, and
// it keeps a file without line ends from being read into memory whole).
inline constexpr std::size_t kMaxLineLength = 1u << 20;

enum class NamelistFailure {
    none,
    no_group,         // the input ended before "&TORVA_INP" (empty file, only comments)
    unclosed_group,   // the input ended inside the group, before its "/"
    bad_input,        // anything else, at `line`
};

struct NamelistStatus {
    NamelistFailure failure = NamelistFailure::none;
    int line = 0;             // 1-based line of the fault; for an early end, the line count + 1
    std::string message;      // what was wrong, for a person
    int group_line = 0;       // line of "&TORVA_INP", 0 when it was not reached
    // On failure: the first line k such that lines 1..k followed by a "/" line fail to read,
    // counting from the group line (0 when every such prefix reads, as for a group that is
    // never closed).  Found in the same single pass as the read.
    int fault_line = 0;
    std::vector<std::string> warnings;   // what was accepted with a change ("line k: ...")

    [[nodiscard]] bool ok() const noexcept { return failure == NamelistFailure::none; }
};

// Reads the group TORVA_INP from `in` into `params`.  Keys that the group does not mention
// keep the values `params` holds.  On failure the items before the fault have been assigned.
// Never throws for bad input, and reads every byte sequence in time linear in its length.
[[nodiscard]] NamelistStatus read_torva_inp(std::istream& in, RunParameters& params);

}  // namespace torva
