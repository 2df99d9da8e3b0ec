// get_namelist (see get_namelist.hpp).
//
// The faulty line.  A namelist read reports only that it failed; the line reported is the
// first k such that lines 1..k followed by a "/" line fail to read, counting from the group
// line (lines before it hold no group, and the search for it passes over them).  Reading
// every prefix anew costs O(K^2) for a fault on line K (minutes at line 20,000); the reader
// instead judges each prefix as it reaches the prefix's end, in its one pass over the file,
// and reports the same line.  No scratch file is written.  When every prefix reads cleanly
// (the group is not closed, or there is none at all) the message says what the whole read
// found.
#include "input/get_namelist.hpp"

#include <sstream>
#include <string>
#include <vector>

#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "input/namelist_reader.hpp"
#include "input/namelist_writer.hpp"

namespace torva {

namespace {

constexpr std::size_t kLineBuffer = 200;     // the line shown in a message
constexpr const char* kRoutine = "[get_namelist]";

// A line as it is copied and shown: without trailing blanks and without the carriage return
// of a Windows line end.
std::string without_trailing_blanks(std::string line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

NamelistStatus read_text(const std::string& text, RunParameters& params)
{
    std::istringstream in(text);
    return read_torva_inp(in, params);
}

[[noreturn]] void stop_at_line(int log_unit, int k, std::string line)
{
    if (k == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);   // byte-order mark
    line = without_trailing_blanks(line.substr(0, kLineBuffer));
    stop_run_on(log_unit, {kRoutine, "ERROR: An error condition occured during reading line " + std::to_string(k),
                           line});
}

// Stops at the faulty line the read found (see the top of this file), or, when every
// prefix reads cleanly, with what the whole read found at the end of the file.
[[noreturn]] void stop_at_fault(int log_unit, const std::string& name, const NamelistStatus& whole,
                                const std::vector<std::string>& lines)
{
    const int k = whole.fault_line;
    if (k >= 1 && k <= static_cast<int>(lines.size())) stop_at_line(log_unit, k, lines[static_cast<std::size_t>(k - 1)]);
    switch (whole.failure) {
    case NamelistFailure::no_group:
        stop_run_on(log_unit, {kRoutine, "ERROR: The input file " + name + " holds no namelist group &TORVA_INP"});
    case NamelistFailure::unclosed_group:
        stop_run_on(log_unit, {kRoutine, "ERROR: The namelist group &TORVA_INP in " + name + " ends without its closing /"});
    default: {
        const int at = whole.line >= 1 && whole.line <= static_cast<int>(lines.size()) ? whole.line : 1;
        stop_at_line(log_unit, at, lines.empty() ? std::string() : lines[static_cast<std::size_t>(at - 1)]);
    }
    }
}

// The echo: failures of its file are not reported, since the run does not depend on it.
void write_echo(int log_unit, const RunParameters& params)
{
    const std::string log_name = trimmed(units().name_of(log_unit));
    if (log_name.empty()) return;
    UnitTable& table = units();
    const int unit = table.free_unit();
    OpenOptions replace;
    replace.status = "REPLACE";
    if (table.open(unit, log_name + "2", replace) != kIostatOk) return;
    std::ostringstream group;
    write_torva_inp(group, params);
    try {
        std::istringstream lines(group.str());
        std::string line;
        while (std::getline(lines, line)) table.write_line(unit, line);
        table.close(unit);
    } catch (const IoError&) {
        try {
            table.close(unit);
        } catch (const IoError&) {
        }
    }
}

}  // namespace

void get_namelist(int& input_unit, int& log_unit, RunParameters& params)
{
    set_run_parameter_defaults(params);                                              // 1

    UnitTable& table = units();
    const std::string name = trimmed(fixed_text(table.name_of(input_unit), kLineBuffer));
    table.write_line(log_unit, list_directed("Reading namelist data from: " + name));  // 2

    if (!UnitTable::exists(name))                                                    // 3
        stop_run_on(log_unit, {kRoutine, "ERROR: The input file " + name + " does not exist!!!"});

    std::vector<std::string> lines;                                                  // 4
    std::string text, line;
    while (table.read_line(input_unit, line)) {
        text += line;
        text += '\n';
        lines.push_back(line);
    }
    const NamelistStatus whole = read_text(text, params);
    if (!whole.ok()) stop_at_fault(log_unit, name, whole, lines);                     // 5
    for (const std::string& warning : whole.warnings)
        table.write_line(log_unit, list_directed("WARNING: " + warning));

    table.close(input_unit);                                                         // 6
    derive_run_parameters(params);                                                  // 7
    write_echo(log_unit, params);                                                    // 8
}

}  // namespace torva
