// I/O status code -> readable text (see io_error_text.hpp).
//
// The texts are those of the run-time library the listing format grew up with, spelling
// included ("STATEMEMT"): old listings are searched for them letter for letter.
#include "frame/io_error_text.hpp"

#include <array>
#include <cstdio>

#include "frame/list_directed.hpp"

namespace torva {
namespace {

constexpr std::array<std::string_view, 56> kIoErrorRows{
    "    21:DUPLICATE FILE SPECIFICATIONS",
    "    22:INPUT RECORD TOO LONG",
    "    23:BACKSPACE ERROR",
    "    24:END-OF-FILE DURING READ",
    "    25:RECORD NUMBER OUTSIDE RANGE",
    "    26:OPEN OR DEFINE FILE REQUIRED",
    "    27:TOO MANY RECORDS IN I/O STATEMEMT",
    "    28:CLOSE ERROR",
    "    29:FILE NOT FOUND",
    "    30:OPEN FAILURE",
    "    31:MIXED FILE ACCESS MODE",
    "    32:INVALID LOGICAL UNIT NUMBER",
    "    33:ENDFILE ERROR",
    "    34:UNIT ALREADY OPEN",
    "    35:SEGMENTED RECORD FORMAT ERROR",
    "    36:ATTEMPT TO ACCESS NON-EXISTENT RECORD",
    "    37:INCONSISTENT RECORD LENGTH",
    "    38:ERROR DURING WRITE",
    "    39:ERROR DURING READ",
    "    40:RECURSIVE I/O OPERATION",
    "    41:INSUFFICIENT VIRTUAL MEMORY",
    "    42:NO SUCH DEVICE",
    "    43:FILE NAME SPECIFICATION ERROR",
    "    44:INCONSISTENT RECORD TYPE",
    "    45:KEYWORD VALUE ERROR IN OPEN STATEMENT",
    "    46:INCONSISTENT OPEN/CLOSE PARAMETERS",
    "    47:WRITE TO READONLY FILE",
    "    48:INVALID ARGUMENT TO FORTRAN RUN-TIME LIBRARY",
    "    49:INVALID KEY SPECIFICATION",
    "    50:INCONSISTENT KEY CHANGE OR DUPLICATE KEY",
    "    51:INCONSISTENT FILE ORGANIZATION",
    "    52:SPECIFIED RECORD LOCKED",
    "    53:NO CURRENT RECORD",
    "    54:REWRITE ERROR",
    "    55:DELETE ERROR",
    "    56:UNLOCK ERROR",
    "    57:FIND ERROR",
    "    59:LIST-DIRECTED I/O SYNTAX ERROR",
    "    60:INFINITE FORMAT LOOP",
    "    61:FORMAT/VARIABLE-TYPE MISMATCH",
    "    62:SYNTAX ERROR IN FORMAT",
    "    63:OUTPUT CONVERSION ERROR",
    "    64:INPUT CONVERSION ERROR",
    "    66:OUTPUT STATEMENT OVERFLOWS RECORD",
    "    67:INPUT STATEMENT REQUIRES TOO MUCH DATA",
    "    68:VARIABLE FORMAT EXPRESSION VALUE ERROR",
    "   600:ACCESS NOT ALLOWED",
    "   601:FILE ALREADY EXISTS",
    "   602:FILE NOT FOUND",
    "   603:TOO MANY OPEN FILES",
    "   605:ILLEGAL STRUCTURE FOR UNFORMATTED FILE",
    "   607:FILE READ-ONLY OR LOCKED AGAINST WRITING",
    "   608:NO SPACE LEFT ON DEVICE",
    "   612:FILE NOT OPEN FOR READING OR FILE LOCKED",
    "   613:END OF FILE ENCOUNTERED",
    "   616:INVALID NUMBER IN INPUT",
};

constexpr std::size_t kCodeWidth = 6;
constexpr std::string_view kSystemMessage = "OPERATING SYSTEM MESSAGE NO.:";
constexpr std::size_t kSystemCodeColumn = 31;   // 1-based column of the code's field

// The code as a Fortran I6 edit writes it: right-justified, or six asterisks when it does
// not fit.
std::string code_field(int code)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%6d", code);
    std::string field(buffer);
    return field.size() > kCodeWidth ? std::string(kCodeWidth, '*') : field;
}

}  // namespace

std::span<const std::string_view> io_error_table() noexcept { return kIoErrorRows; }

std::string io_error_text(int code, std::size_t length)
{
    const std::string key = code_field(code);
    for (const std::string_view row : kIoErrorRows)
        if (row.substr(0, kCodeWidth) == key) return fixed_text(row, length);

    std::string text(length, ' ');
    if (length >= kSystemCodeColumn - 1 + kCodeWidth) {
        text.replace(0, kSystemMessage.size(), kSystemMessage);
        text.replace(kSystemCodeColumn - 1, kCodeWidth, key);
    }
    return text;
}

}  // namespace torva
