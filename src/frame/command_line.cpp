// The frame's command-line parser (see command_line.hpp for the accepted syntax).
//
// Names and values are compared by keyword_match, which allows abbreviations.  Every
// problem becomes one pending message (a buffer of kPendingMessageBytes bytes, so at most
// 111 characters) that is printed as "Cmd.Line: <message>" when the report level is at least
// ERROR, and, when it arose from a token, counts one error.
#include "frame/command_line.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>

#include "frame/list_directed.hpp"

namespace torva {
namespace {

constexpr std::array<std::string_view, 2> kHeaderWords{"NONE", "SHORT"};
constexpr std::array<std::string_view, 3> kStatusWords{"OLD", "NEW", "UNKNOWN"};
constexpr std::array<std::string_view, 4> kInterfaceWords{"LINE", "WINDOWS", "PICK", "COMMAND"};
constexpr std::array<std::string_view, 20> kDisplayDeviceWords{
    "3279", "APOLLO", "CDC-721", "DUMMY", "EGA", "SVGA-600x800", "SVGA-1024x768", "TDV-2200",
    "TPAZ-MONO", "TPAZ-COLOUR", "TX4014-15-16-54", "TX4105", "TX4107-09-13-15", "VT125",
    "VT240", "VT340", "VGA", "WESTWARD-3219", "WESTWARD-3220", "X-WINDOW"};
constexpr std::array<std::string_view, 2> kOnOffWords{"ON", "OFF"};
constexpr std::array<std::string_view, 3> kPlotColourWords{"ON", "OFF", "GREYSCALE"};
constexpr std::array<std::string_view, 8> kPlotFormatWords{
    "CGM-BINARY", "HPGL-2", "HPGL-7470", "HPGL-7550", "LN03-PLUS", "POSTSCRIPT",
    "KESTA-NEUTRAL", "WINDOWS-PRINTER"};
constexpr std::array<std::string_view, 6> kPageSizeWords{"A0", "A1", "A2", "A3", "A4", "A5"};
constexpr std::array<std::string_view, 2> kOrientationWords{"PORTRAIT", "LANDSCAPE"};
constexpr std::array<std::string_view, 3> kArgInfoWords{"NONE", "ERROR", "ALL"};
constexpr std::array<std::string_view, 2> kFormfeedWords{"ASCII", "FORTRAN"};

constexpr std::span<const std::string_view> kNoWords{};

const std::array<OptionDefinition, kOptionCount> kOptionTable{{
    {"EXECUTABLE", kArgName, false, kNoWords},
    {"HEADER", kArgKeyword, true, kHeaderWords},
    {"PREFIX", kArgName, false, kNoWords},
    {"NAME", kArgName, false, kNoWords},
    {"STATUS", kArgKeyword, false, kStatusWords},
    {"ARGFILE", kArgName, true, kNoWords},
    {"INTERFACE", kArgKeyword, false, kInterfaceWords},
    {"COMPANY-NAME", kArgText, true, kNoWords},
    {"DISPLAY-DEVICE", kArgKeyword, false, kDisplayDeviceWords},
    {"DISPLAY-COLOUR", kArgKeyword, false, kOnOffWords},
    {"PLOT-COLOUR", kArgKeyword, false, kPlotColourWords},
    {"PLOT-FORMAT", kArgKeyword, false, kPlotFormatWords},
    {"PLOT-PAGE-SIZE", kArgKeyword, false, kPageSizeWords},
    {"PLOT-ORIENTATION", kArgKeyword, false, kOrientationWords},
    {"READ-SUPERELEMENT", kArgInteger, true, kNoWords},
    {"WRITE-SUPERELEMENT", kArgInteger, true, kNoWords},
    {"COMMAND-FILE", kArgName, true, kNoWords},
    {"FORCED-EXIT", kArgSwitch, true, kNoWords},
    {"MENUFILE", kArgName, true, kNoWords},
    {"HELPFILE", kArgName, true, kNoWords},
    {"ARGINFO", kArgKeyword, true, kArgInfoWords},
    {"STRUCTURE-TYPE", kArgText, false, kNoWords},
    {"EYEDIR-X", kArgReal, false, kNoWords},
    {"EYEDIR-Y", kArgReal, false, kNoWords},
    {"EYEDIR-Z", kArgReal, false, kNoWords},
    {"PROGRAM", kArgText, true, kNoWords},
    {"VERSION", kArgText, true, kNoWords},
    {"MODE", kArgText, true, kNoWords},
    {"PARENT-NETADDR", kArgInteger, false, kNoWords},
    {"PARENT-NODE", kArgText, false, kNoWords},
    {"NETDEBUG", kArgSwitch, true, kNoWords},
    {"WINDOW-SIZE", kArgInteger, false, kNoWords},
    {"PRINT-FORMFEED", kArgKeyword, false, kFormfeedWords},
    {"INPUT-FILE", kArgName, true, kNoWords},
}};

constexpr int kOptionExecutable = 0;
constexpr int kOptionInterface = 6;
constexpr int kOptionArgInfo = 20;
constexpr int kInterfaceLine = 0;    // position of LINE among the INTERFACE words

// Largest finite double: option values must lie strictly inside +-kLargestReal, and
// integers strictly inside +-kLargestInteger (so that the negation of a value still fits).
constexpr double kLargestReal = 1.7976931348623157e308;
constexpr double kLargestInteger = 2147483647.0;

// Lines of an argument file longer than this are cut.
constexpr std::size_t kArgumentFileLineLength = 255;

bool is_space(char c) noexcept { return std::isspace(static_cast<unsigned char>(c)) != 0; }
char upper(char c) noexcept { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// Lookup over any list of names: `name_at(i)` gives entry i of `count`.
template <class NameAt>
int lookup_in(std::string_view typed, std::size_t count, NameAt name_at) noexcept
{
    int exact = -1;
    int exact_count = 0;
    int abbreviation = -1;
    int abbreviation_count = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const int m = keyword_match(typed, name_at(i));
        if (m == -1) {
            exact = static_cast<int>(i);
            ++exact_count;
        } else if (m > 0) {
            abbreviation = static_cast<int>(i);
            ++abbreviation_count;
        }
    }
    if (exact_count == 1) return exact;
    if (exact_count > 1) return kLookupAmbiguous;
    if (abbreviation_count == 1) return abbreviation;
    if (abbreviation_count > 1) return kLookupAmbiguous;
    return kLookupNotFound;
}

}  // namespace

std::span<const OptionDefinition> option_table() noexcept { return kOptionTable; }

int keyword_match(std::string_view typed, std::string_view keyword) noexcept
{
    if (typed.empty()) return 0;
    const bool keyword_has_blank = keyword.find(' ') != std::string_view::npos;
    std::size_t i = 0;   // position in the typed word
    std::size_t j = 0;   // position in the keyword
    while (i < typed.size()) {
        if (j >= keyword.size()) return 0;   // the keyword is used up first: HEADERS vs HEADER
        if (upper(typed[i]) == upper(keyword[j])) {
            ++i;
            ++j;
        } else if (typed[i] == '-' && i > 0 && !keyword_has_blank) {
            // The typed segment abbreviates the keyword's segment: jump to its next hyphen,
            // where the two hyphens then match.
            const std::size_t hyphen = keyword.find('-', j);
            if (hyphen == std::string_view::npos) return 0;
            j = hyphen;
        } else {
            return 0;
        }
    }
    if (j == keyword.size() && typed.size() == keyword.size()) return -1;
    // An abbreviation of EXIT must never end a program by accident.
    if (equal_ignoring_case(keyword, "EXIT")) return 0;
    return static_cast<int>(keyword.size());
}

int lookup_keyword(std::string_view typed, std::span<const std::string_view> keywords) noexcept
{
    return lookup_in(typed, keywords.size(), [&](std::size_t i) { return keywords[i]; });
}

int lookup_keyword(std::string_view typed, std::span<const std::string> keywords) noexcept
{
    return lookup_in(typed, keywords.size(),
                     [&](std::size_t i) { return std::string_view(keywords[i]); });
}

std::optional<double> parse_real_value(std::string_view text)
{
    if (text.empty() || std::string_view("0123456789.+-").find(text[0]) == std::string_view::npos)
        return std::nullopt;
    std::size_t end = text.size();
    while (end > 0 && is_space(text[end - 1])) --end;
    std::string digits(text.substr(0, end));
    for (char& c : digits) {
        if (c == 'd' || c == 'D') c = 'E';
        // strtod also reads hexadecimal, "inf" and "nan"; a Fortran-style number has
        // none of these, so anything outside the decimal alphabet is refused first.
        if (std::strchr("0123456789.+-eE", c) == nullptr) return std::nullopt;
    }
    char* stop = nullptr;
    errno = 0;
    const double value = std::strtod(digits.c_str(), &stop);
    if (stop != digits.c_str() + digits.size()) return std::nullopt;
    // Overflow gives +-HUGE_VAL, which fails the strict test as intended.
    if (!(value > -kLargestReal && value < kLargestReal)) return std::nullopt;
    return value;
}

std::optional<std::int32_t> parse_integer_value(std::string_view text)
{
    const std::optional<double> value = parse_real_value(text);
    if (!value || *value != std::floor(*value)) return std::nullopt;
    if (!(*value > -kLargestInteger && *value < kLargestInteger)) return std::nullopt;
    return static_cast<std::int32_t>(*value);
}

CommandLine::CommandLine(std::ostream& messages) : messages_(&messages) {}
CommandLine::CommandLine() : CommandLine(std::cout) {}

bool CommandLine::ensure_name_list() const
{
    if (name_list_built_) return true;
    if (name_list_failed_) return false;
    try {
        name_list_.reserve(kOptionCount + 15);
        for (int k = 0; k < kOptionCount; ++k) {
            name_list_.emplace_back(kOptionTable[k].name);
            name_option_.push_back(k);
        }
        for (int k = 0; k < kOptionCount; ++k) {
            if (!kOptionTable[k].negatable) continue;
            name_list_.push_back("NO" + std::string(kOptionTable[k].name));
            name_option_.push_back(k);
        }
        name_list_built_ = true;
    } catch (const std::bad_alloc&) {
        name_list_.clear();
        name_option_.clear();
        name_list_failed_ = true;
    }
    return name_list_built_;
}

void CommandLine::print(std::string_view text) const { *messages_ << text; }

void CommandLine::set_message(std::string message)
{
    // The message buffer holds kPendingMessageBytes bytes with its terminating NUL.  A longer
    // message keeps its beginning, which names the problem, and its own final newline.
    if (message.size() > kPendingMessageBytes - 1) {
        message.resize(kPendingMessageBytes - 2);
        message += '\n';
    }
    pending_ = std::move(message);
}

bool CommandLine::flush_message(bool count_as_error, int& errors)
{
    if (pending_.empty()) return false;
    if (count_as_error) ++errors;
    if (report_level_ >= kReportError) print("Cmd.Line: " + pending_);
    pending_.clear();
    return true;
}

int CommandLine::find_index(std::string_view name) const
{
    return lookup_in(name, store_.size(),
                     [&](std::size_t i) { return std::string_view(store_[i].name); });
}

const StoredArgument* CommandLine::find(std::string_view name) const
{
    const int index = find_index(name);
    return index >= 0 ? &store_[static_cast<std::size_t>(index)] : nullptr;
}

int CommandLine::is_present(std::string_view name) const
{
    if (!ensure_name_list()) return kQueryNoTable;
    return find_index(name) >= 0 ? 1 : 0;
}

std::optional<std::string> CommandLine::get_text(std::string_view name, int& status) const
{
    if (!ensure_name_list()) {
        status = kQueryNoTable;
        return std::nullopt;
    }
    const int index = find_index(name);
    if (index == kLookupAmbiguous) {
        status = kQueryAmbiguous;
        return std::nullopt;
    }
    if (index < 0 || !store_[static_cast<std::size_t>(index)].text) {
        status = kQueryMissing;
        return std::nullopt;
    }
    status = kQueryOk;
    return store_[static_cast<std::size_t>(index)].text;
}

int CommandLine::get_into_fixed_text(std::string_view name, std::span<char> buffer) const
{
    std::fill(buffer.begin(), buffer.end(), ' ');
    std::string key;
    try {
        key = trimmed(name);
    } catch (const std::bad_alloc&) {
        return kQueryNoTable;
    }
    int status = kQueryOk;
    const std::optional<std::string> value = get_text(key, status);
    if (status != kQueryOk) return status;
    const std::size_t n = std::min(value->size(), buffer.size());
    std::copy_n(value->begin(), n, buffer.begin());
    return value->size() > buffer.size() ? kQueryTruncated : kQueryOk;
}

void CommandLine::set_integer(std::string_view name, std::int64_t value)
{
    // Handles are pointer-sized; the store keeps their low 32 bits, as its integer field is.
    const auto low = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    store(name, kArgInteger, low, 0.0, std::nullopt);
    int errors = 0;
    flush_message(false, errors);   // a full store reports itself here
}

void CommandLine::store(std::string_view name, int type, std::int32_t integer, double real,
                        std::optional<std::string> text)
{
    StoredArgument* target = nullptr;
    for (StoredArgument& entry : store_) {
        if (!equal_ignoring_case(entry.name, name)) continue;
        if (replace_ == 0) return;   // the argument file never overrides the command line
        target = &entry;
        break;
    }
    if (target == nullptr) {
        if (store_.size() >= static_cast<std::size_t>(kMaxStoredArguments)) {
            set_message("Too many command line arguments. Max " +
                        std::to_string(kMaxStoredArguments) + " allowed.\n");
            return;
        }
        target = &store_.emplace_back();
        target->name = std::string(name);
    }
    target->type = type;
    target->integer = integer;
    target->real = real;
    target->text = std::move(text);
    if (report_level_ >= kReportAll)
        print("     /" + target->name + " = " +
              (target->text ? *target->text + "\n" : std::string("(Not specified)\n")));
}

void CommandLine::set_known(int option, bool negated, const std::optional<std::string>& value)
{
    if (option < 0 || option >= kOptionCount) {
        set_message("SetKnownArg called with illegal index: " + std::to_string(option) + "\n");
        return;
    }
    const OptionDefinition& option_row = kOptionTable[static_cast<std::size_t>(option)];
    const std::string name(option_row.name);
    if (negated && !option_row.negatable) {
        set_message("Negation (/NO" + name + ") of /" + name + " is not allowed.\n");
        return;
    }
    switch (option_row.type) {
    case kArgSwitch:
        store(name, kArgSwitch, negated ? 0 : 1, 0.0, std::string(negated ? "OFF" : "ON"));
        break;
    case kArgKeyword: {
        if (negated) {
            // /NOHEADER means HEADER=NONE: the first value word is the "off" setting.
            store(name, kArgKeyword, 0, 0.0, std::string(option_row.value_words.front()));
            break;
        }
        if (!value) {
            set_message("/" + name + " must have a value.\n");
            return;
        }
        const int word = lookup_keyword(*value, option_row.value_words);
        if (word == kLookupAmbiguous) return;   // stored nothing, reported nothing
        if (word >= 0)
            store(name, kArgKeyword, word, 0.0,
                  std::string(option_row.value_words[static_cast<std::size_t>(word)]));
        else
            store(name, kArgKeyword, -1, 0.0, *value);
        break;
    }
    case kArgName:
    case kArgText:
        store(name, option_row.type, 0, 0.0, negated ? std::nullopt : value);
        break;
    case kArgInteger: {
        if (negated) {
            store(name, kArgInteger, 0, 0.0, std::nullopt);
            break;
        }
        if (!value) {
            set_message("/" + name + " must have an integer value.\n");
            return;
        }
        const std::optional<std::int32_t> number = parse_integer_value(*value);
        if (!number) {
            set_message("/" + name + "(=" + *value + ") must have an integer value.\n");
            return;
        }
        store(name, kArgInteger, *number, 0.0, *value);
        break;
    }
    case kArgReal: {
        if (negated) {
            store(name, kArgReal, 0, 0.0, std::nullopt);
            break;
        }
        if (!value) {
            set_message("/" + name + " must have a numerical value.\n");
            return;
        }
        const std::optional<double> number = parse_real_value(*value);
        if (!number) {
            set_message("/" + name + "(=" + *value + ") must have a numerical value.\n");
            return;
        }
        store(name, kArgReal, 0, *number, *value);
        break;
    }
    default:
        set_message("Illegal argument type for: /" + name + "\n");
        return;
    }
    if (option == kOptionArgInfo) {
        // What is stored decides: in an argument file the command line's ARGINFO stays.
        if (const StoredArgument* stored = find(name); stored != nullptr)
            report_level_ = stored->integer;
    }
}

void CommandLine::set_by_name(std::string_view typed_name, const std::optional<std::string>& value)
{
    if (!ensure_name_list()) return;
    const int entry = lookup_keyword(typed_name, name_list_);
    if (entry == kLookupAmbiguous) {
        set_message("Ambiguous match: /" + std::string(typed_name) + " has been ignored.\n");
        return;
    }
    if (entry >= 0) {
        set_known(name_option_[static_cast<std::size_t>(entry)], entry >= kOptionCount, value);
        return;
    }
    // The name list holds NO forms only for negatable options, so /NONAME would pass as an
    // unknown option.  A NO in front of a known option's name is a negation all the same,
    // and it is refused by set_known with the negation message.
    if (typed_name.size() > 2 && upper(typed_name[0]) == 'N' && upper(typed_name[1]) == 'O') {
        const int option = lookup_keyword(typed_name.substr(2),
                                          std::span<const std::string>(name_list_).first(kOptionCount));
        if (option >= 0) {
            set_known(option, true, value);
            return;
        }
    }
    store(typed_name, kArgText, 0, 0.0, value);
}

int CommandLine::scan(std::string_view s)
{
    int errors = 0;
    const std::size_t n = s.size();
    std::size_t p = 0;
    const auto starts_with_ignoring_case = [&](std::size_t at, std::string_view word) {
        return n - at >= word.size() && equal_ignoring_case(s.substr(at, word.size()), word);
    };
    for (;;) {
        while (p < n && is_space(s[p])) ++p;
        if (p >= n) break;

        if (starts_with_ignoring_case(p, "-L")) {
            const std::size_t length = starts_with_ignoring_case(p, "-LINE") ? 5 : 2;
            if (p + length < n && !is_space(s[p + length]))
                set_message(std::string(s.substr(p, length)) + " must stand by itself.\n");
            else
                set_known(kOptionInterface, false,
                          std::string(kInterfaceWords[kInterfaceLine]));
            while (p < n && !is_space(s[p])) ++p;
        } else if (s[p] == '/') {
            ++p;
            const std::size_t name_begin = p;
            while (p < n && !is_space(s[p]) && s[p] != '=' && s[p] != '/') ++p;
            const std::string name(s.substr(name_begin, p - name_begin));
            if (name.empty()) {
                set_message("Missing command line argument after / \n");
            } else {
                while (p < n && s[p] == ' ') ++p;
                std::optional<std::string> value;
                if (p < n && s[p] == '=') {
                    ++p;
                    while (p < n && s[p] == ' ') ++p;
                    if (p >= n || s[p] == '/') {
                        set_message("Missing value after /" + name + "= \n");
                        flush_message(true, errors);
                        return errors;   // the rest of this string cannot be trusted
                    }
                    if (s[p] == '\'' || s[p] == '"') {
                        const char quote = s[p++];
                        const std::size_t close = s.find(quote, p);
                        const std::size_t end = close == std::string_view::npos ? n : close;
                        value = std::string(s.substr(p, end - p));
                        p = close == std::string_view::npos ? n : close + 1;
                    } else {
                        const std::size_t value_begin = p;
                        while (p < n && !is_space(s[p]) && s[p] != '/') ++p;
                        value = std::string(s.substr(value_begin, p - value_begin));
                    }
                }
                set_by_name(name, value);
            }
        } else {
            const std::size_t word_begin = p;
            while (p < n && !is_space(s[p]) && s[p] != '/') ++p;
            ++positional_count_;
            if (positional_count_ <= 3)
                set_by_name("ARG" + std::to_string(positional_count_),
                            std::string(s.substr(word_begin, p - word_begin)));
        }
        flush_message(true, errors);
    }
    return errors;
}

// An argument as the parser must see it to read back the value the shell delivered.
std::string requoted_argument(std::string_view argument)
{
    const std::size_t equals = argument.find('=');
    if (argument.empty() || argument.front() != '/' || equals == std::string_view::npos)
        return std::string(argument);
    const std::string_view value = argument.substr(equals + 1);
    if (value.empty() || value.front() == '"' || value.front() == '\'') return std::string(argument);
    bool needs_quotes = false;
    for (const char c : value)
        if (c == '/' || std::isspace(static_cast<unsigned char>(c))) needs_quotes = true;
    if (!needs_quotes) return std::string(argument);
    const bool has_double = value.find('"') != std::string_view::npos;
    const bool has_single = value.find('\'') != std::string_view::npos;
    if (has_double && has_single) return std::string(argument);
    const char quote = has_double ? '\'' : '"';
    return std::string(argument.substr(0, equals + 1)) + quote + std::string(value) + quote;
}

// The same rule for a line of an argument file: each blank-separated option in it is
// requoted as a command-line argument would be; a value already in quotes runs to its quote.
static std::string requoted_line(std::string_view line)
{
    std::string out;
    std::size_t p = 0;
    const std::size_t n = line.size();
    while (p < n) {
        if (is_space(line[p])) {
            out += line[p++];
            continue;
        }
        const std::size_t begin = p;
        const std::size_t equals = line.find('=', p);
        std::size_t end = p;
        while (end < n && !is_space(line[end])) ++end;
        if (equals < end && equals + 1 < n && (line[equals + 1] == '\'' || line[equals + 1] == '"')) {
            const std::size_t close = line.find(line[equals + 1], equals + 2);
            end = close == std::string_view::npos ? n : close + 1;
            while (end < n && !is_space(line[end])) ++end;
            out += line.substr(begin, end - begin);
        } else {
            out += requoted_argument(line.substr(begin, end - begin));
        }
        p = end;
    }
    return out;
}

int CommandLine::read_argument_file(std::string_view program_name)
{
    int status = kQueryOk;
    const std::optional<std::string> file_name = get_text("ARGFILE", status);
    if (status != kQueryOk) return 0;

    std::ifstream file(*file_name);
    if (!file) {
        if (report_level_ >= kReportAll) print("Arg. file : " + *file_name + " not found\n");
        return 0;
    }
    if (report_level_ >= kReportAll) print("Reading arg. file: " + *file_name + "\n");

    replace_ = 0;
    int errors = 0;
    bool active = false;
    std::string line;
    while (std::getline(file, line)) {
        if (line.size() > kArgumentFileLineLength) line.resize(kArgumentFileLineLength);
        while (!line.empty() && is_space(line.back())) line.pop_back();   // also a CR of CRLF
        std::size_t first = 0;
        while (first < line.size() && is_space(line[first])) ++first;
        if (first == line.size()) continue;
        const std::string_view body = std::string_view(line).substr(first);
        if (body.front() == '[') {
            const std::size_t close = body.find(']');
            const std::string_view section =
                body.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1);
            active = equal_ignoring_case(section, program_name) ||
                     equal_ignoring_case(section, "KESTA");
            continue;
        }
        if (!active) continue;
        const std::string command = requoted_line(body.front() == '/' ? std::string(body) : "/" + std::string(body));
        const int line_errors = scan(command);
        if (line_errors > 0) {
            errors += line_errors;
            set_message("Cannot interpret: " + std::string(body) + "\n");
            int uncounted = 0;
            flush_message(false, uncounted);
        }
    }
    replace_ = 1;
    return errors;
}

int CommandLine::parse(std::string_view program_name, std::span<const std::string> argv)
{
    if (!ensure_name_list()) return 0;
    const std::string executable = argv.empty() ? std::string(program_name) : argv.front();
    set_known(kOptionExecutable, false, executable);
    int errors = 0;
    flush_message(true, errors);

    std::string joined;
    for (std::size_t k = 1; k < argv.size(); ++k) {
        joined += argv[k];
        joined += ' ';
    }
    errors += scan(joined);
    if (errors > 0) {
        set_message(errors == 1 ? std::string("1 error in parsing of command line arguments.\n")
                                : std::to_string(errors) +
                                      " errors in parsing of command line arguments.\n");
        int uncounted = 0;
        flush_message(false, uncounted);
    }
    errors += read_argument_file(program_name);
    messages_->flush();
    return errors;
}

CommandLine& command_line()
{
    static CommandLine store;
    return store;
}

}  // namespace torva
