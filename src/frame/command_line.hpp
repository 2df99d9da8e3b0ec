// The frame's command-line parser: a store of named arguments that any part of the program
// can query by name.
//
// Syntax accepted (scanned from the arguments joined by blanks):
//   /NAME            an option without a value          /NONAME   its negation (negatable ones)
//   /NAME=value      value up to white space or "/"      /NAME='a b/c'  or  "a b/c"  quoted
//   word             a positional word, stored as ARG1, ARG2, ARG3 (later ones dropped)
//   -L, -LINE        shorthand for /INTERFACE=LINE
// Option names and keyword values may be abbreviated (see keyword_match).  Known options
// (the 34 of kOptionTable) are stored under their full name with their type; unknown
// options are stored as text under the name as typed, which is how options such as
// RUN-MODE reach the program.  An argument file (option ARGFILE) may add options from its
// [section] named after the program or [KESTA]; it never overrides what is already stored.
//
// Problems are reported one line at a time on the message stream (standard output) as
// "Cmd.Line: <message>" and counted; nothing here ever stops the run.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torva {

// Argument type codes.  Name (3) and text (4) are handled alike.
inline constexpr int kArgSwitch = 1;
inline constexpr int kArgKeyword = 2;
inline constexpr int kArgName = 3;
inline constexpr int kArgText = 4;
inline constexpr int kArgInteger = 5;
inline constexpr int kArgReal = 6;

// One row of the frame's option table.
struct OptionDefinition {
    std::string_view name;
    int type;
    bool negatable;
    std::span<const std::string_view> value_words;   // keyword options only
};

inline constexpr int kOptionCount = 34;
// The fixed option table, in its defining order (option numbers 0 to 33).
[[nodiscard]] std::span<const OptionDefinition> option_table() noexcept;

// Keyword comparison of a typed word against a keyword, both in upper case:
//   -1  exact match (same length),
//    k  abbreviation, k = the keyword's length,
//    0  no match.
// A hyphen in the typed word after at least one matched character skips the rest of the
// keyword's current hyphen-separated segment (DISP-DEV abbreviates DISPLAY-DEVICE), unless
// the keyword holds a blank.  An empty word never matches; "EXIT" matches only exactly.
[[nodiscard]] int keyword_match(std::string_view typed, std::string_view keyword) noexcept;

inline constexpr int kLookupAmbiguous = -1;
inline constexpr int kLookupNotFound = -2;
// Looks `typed` up in `keywords`: the 0-based index of the single match, where an exact
// match wins over any number of abbreviations; kLookupAmbiguous for two exact matches or
// two or more abbreviations without an exact one; kLookupNotFound for none.
[[nodiscard]] int lookup_keyword(std::string_view typed, std::span<const std::string_view> keywords) noexcept;
[[nodiscard]] int lookup_keyword(std::string_view typed, std::span<const std::string> keywords) noexcept;

// Number syntax of integer and real option values: first character one of "0123456789.+-",
// D or d read as the exponent letter E, the whole text consumed up to trailing white space,
// the value strictly inside +-1.7976931348623157e308.  nullopt when the text is not such a
// number.
[[nodiscard]] std::optional<double> parse_real_value(std::string_view text);
// The same, and in addition whole and strictly inside +-2147483647.
[[nodiscard]] std::optional<std::int32_t> parse_integer_value(std::string_view text);

// One stored argument.
struct StoredArgument {
    std::string name;                 // full table name, or the name as typed
    int type = kArgText;              // kArg* code
    std::int32_t integer = 0;
    double real = 0.0;
    std::optional<std::string> text;  // absent when the argument has no text value
};

// Statuses of the queries.
inline constexpr int kQueryOk = 0;
inline constexpr int kQueryMissing = 1;        // no argument matches, or it has no text
inline constexpr int kQueryAmbiguous = 2;
inline constexpr int kQueryTruncated = -4;     // value longer than the caller's buffer
inline constexpr int kQueryNoTable = -99;      // the name list could not be built

// Report levels, set by option ARGINFO (NONE, ERROR, ALL).
inline constexpr int kReportNone = 0;
inline constexpr int kReportError = 1;
inline constexpr int kReportAll = 2;

inline constexpr int kMaxStoredArguments = 100;
// Size of the pending-message buffer, terminating NUL included.
inline constexpr std::size_t kPendingMessageBytes = 112;

class CommandLine {
public:
    // Messages go to `messages` (standard output for the process-wide store).
    explicit CommandLine(std::ostream& messages);
    CommandLine();

    // Parses `argv` (argv[0] is the executable, stored as option EXECUTABLE), then reads the
    // argument file, if option ARGFILE names one, with `program_name` as its active section.
    // Returns the number of errors found (command line and argument file together).
    int parse(std::string_view program_name, std::span<const std::string> argv);

    // 1 when one stored argument matches `name` (an abbreviation of a stored name does), 0
    // when none does or the match is ambiguous, kQueryNoTable when the table failed.
    [[nodiscard]] int is_present(std::string_view name) const;

    // The stored text value; `status` as kQuery*: Ok, Missing (no match or no text),
    // Ambiguous, NoTable.  nullopt unless the status is kQueryOk.
    [[nodiscard]] std::optional<std::string> get_text(std::string_view name, int& status) const;

    // Stores an integer argument (type 5, no text) holding the low 32 bits of `value`.
    void set_integer(std::string_view name, std::int64_t value);

    // Copies the text value of `name` (trailing blanks of the name ignored) into `buffer`,
    // which is blank-filled first.  Returns kQueryOk, kQueryMissing, kQueryAmbiguous,
    // kQueryTruncated (the buffer holds the value's first characters) or kQueryNoTable.
    int get_into_fixed_text(std::string_view name, std::span<char> buffer) const;

    // The stored argument that `name` selects, or nullptr (none or ambiguous).
    [[nodiscard]] const StoredArgument* find(std::string_view name) const;

    [[nodiscard]] const std::vector<StoredArgument>& arguments() const noexcept { return store_; }
    [[nodiscard]] int report_level() const noexcept { return report_level_; }

private:
    bool ensure_name_list() const;
    int find_index(std::string_view name) const;   // >=0, kLookupAmbiguous or kLookupNotFound

    int scan(std::string_view command);             // returns the errors of this string
    void set_by_name(std::string_view typed_name, const std::optional<std::string>& value);
    void set_known(int option, bool negated, const std::optional<std::string>& value);
    void store(std::string_view name, int type, std::int32_t integer, double real,
               std::optional<std::string> text);
    int read_argument_file(std::string_view program_name);

    void set_message(std::string message);
    bool flush_message(bool count_as_error, int& errors);
    void print(std::string_view text) const;

    std::ostream* messages_;
    mutable std::vector<std::string> name_list_;   // 34 names, then the NO forms
    mutable std::vector<int> name_option_;         // option number of each name-list entry
    mutable bool name_list_built_ = false;
    mutable bool name_list_failed_ = false;

    std::vector<StoredArgument> store_;
    int replace_ = 1;
    int report_level_ = kReportError;
    std::string pending_;
    int positional_count_ = 0;
};

// One argument as the parser must see it to read back the value the shell delivered: a
// /NAME=value whose value holds a slash or a blank is put in quotes, so that a path such as
// /INPUT=sub/ship keeps its slash (the frame's own rule would end the value there).  The
// argument file applies the same rule to each option of its lines.
[[nodiscard]] std::string requoted_argument(std::string_view argument);

// The process-wide store the frame fills from the program's command line.
CommandLine& command_line();

}  // namespace torva
