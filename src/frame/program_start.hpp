// The program start: the listing file, the optional input file, and the listing header.
//
// Header styles (compared exactly, trailing blanks ignored):
//   NONE                     nothing is printed
//   SHORT, SHORT/SMALL       80-column page, centre column 40
//   NARROW, NARROW/SMALL     the same below a first line "1" (new page)
//   LONG, WIDE               "1", then a 131-column page, centre column 65, with the program
//                            id in seven-line block letters
//   anything else            LONG in a batch run, SHORT otherwise
//
// The SHORT page, lines and columns counted from 1 (n = length of the program id,
// m = length of the title's first 80 characters, both without trailing blanks):
//   lines 4-13, column 7     the family word KESTA in block letters of asterisks
//                            (/SMALL: "K  E  S  T  A" on line 5 from column 33)
//   line 18                  the program id, each letter followed by a blank, from column 40-n
//   line 20                  the title from column 40-m/2
//   lines 16-22              a frame of asterisks in columns L and R:
//                                L = 35-n, R = 44+n,                      (1)
//                            or, when 45+m-m/2 > 44+n,
//                                L = 35-m/2, R = 45+m-m/2                 (2)
//                            (/SMALL: the frame reaches up to line 3, around the family word)
//   line 24                  title characters 81-160, centred, when the title is longer;
//                            everything below then moves down two lines
//   lines 26-30              the fields: left from column 3, right from column 43
//   line 32 on               the special notes, in pieces of 50 characters from column 6
// A character that falls outside the page's 131 columns is dropped (a title of 80 characters
// starts in column 0, and the frame of a long title lies partly outside).  Each line is cut
// to 79 characters (131 in the LONG layout) and written without trailing blanks, at least
// one character, from line 1 to two lines past the last line that holds anything.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torva {

class CommandLine;

// The program's identity as the header shows it (fixed-length texts of 11, 100, 10, 10, 100
// and 11 characters; trailing blanks do not matter).
struct ProgramIdentityTexts {
    std::string program_id;
    std::string title;
    std::string version;
    std::string impl_update;
    std::string special_notes;
    std::string release_date;
};

// Everything the header page shows.
struct ListingHeaderFields {
    ProgramIdentityTexts identity;
    std::string date;               // DD-MON-YYYY
    std::string time;               // HH:MM:SS
    std::string user;
    std::string account;
    std::string processor;          // shown as "Computer"
    std::string operating_system;
    std::int32_t machine_number = 0;
    std::string installation;       // a blank and the computer name
};

inline constexpr std::size_t kPageLines = 70;
inline constexpr std::size_t kPageColumns = 131;
inline constexpr std::size_t kShortLineLength = 79;
inline constexpr std::size_t kLongLineLength = 131;

// The header page as the records written to the listing (see the file comment).
[[nodiscard]] std::vector<std::string> listing_header_lines(const ListingHeaderFields& fields,
                                                            std::string_view style,
                                                            bool batch_run);

// "DD-MON-YYYY" with the month's three upper-case letters, and "HH:MM:SS".
[[nodiscard]] std::string listing_date(const std::tm& t);
[[nodiscard]] std::string listing_time(const std::tm& t);

// Run-mode query: true when option RUN-MODE (its first 10 characters, any case) is BATCH.
// The first answer is kept for every later call.
class RunModeQuery {
public:
    bool is_batch(const CommandLine& arguments);
private:
    std::optional<bool> answer_;
};
// The process-wide query over the program's command line.
[[nodiscard]] bool is_batch_run();

// The failure of the program start's own opens: an error box "Error opening <name>", then,
// unless the run is a batch run, a second error box with the I/O error text of
// `error_status`; the run then stops with process status 1.
[[noreturn]] void stop_on_open_failure(const std::string& file_name, int error_status,
                                       bool batch_run);

// The program start: fetches the standard units; opens the listing on the output unit as
// frame variable OUTNAME says (blank: program id + ".MLG"; NOOPEN: no listing; otherwise
// that file, with status PRINT, unless a unit already has it open); opens frame variable
// INPNAME, when set, on the input unit for reading; prints the header page in
// `header_style`; sets `status` true.  A failed open stops the run (stop_on_open_failure).
// With no listing open, the header goes to standard output, where a Fortran run-time
// library sends an unconnected unit 6.
void program_start(const ProgramIdentityTexts& identity, std::string_view header_style,
                   bool& status);

}  // namespace torva
