// get_namelist (see get_namelist.hpp).
//
// The error search.  A namelist read reports only that it failed, so the faulty line is found
// by reading ever longer prefixes of the file: for k = 1, 2, ... lines 1..k and a closing "/"
// are copied to "scratch.nml" and read; the first k whose prefix fails is the line reported.
// This costs O(K^2) line copies for a fault on line K, which is nothing for a parameter
// file of a few hundred lines.  Two refinements of the plain search:
//   - lines before "&TORVA_INP" can only be blank or comments (else the whole read fails
//     there), and a prefix of them alone holds no group; such prefixes are not faulty, so the
//     search starts at the group line (or at the offending line when the group never began);
//   - lines are copied whole, not cut to a line buffer, so a long line never makes a
//     correct prefix fail; the message shows the first kLineBuffer characters of the line.
// When every prefix reads cleanly (the group is not closed, or there is none at all) the
// search reaches the end of the file, and the message says what the whole read found.
#include "input/get_namelist.hpp"

#include <memory>
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

// The lines of a unit from its current position to its end, each with its line end.
std::string rest_of_unit(int unit)
{
    std::string text, line;
    while (units().read_line(unit, line)) {
        text += line;
        text += '\n';
    }
    return text;
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

// The error search described at the top of this file.  `whole` is what reading the whole
// file reported.
[[noreturn]] void find_failing_line(int input_unit, int log_unit, const std::string& name,
                                    const NamelistStatus& whole, const std::vector<std::string>& lines)
{
    UnitTable& table = units();
    const int scratch = table.free_unit();
    OpenOptions replace;
    replace.status = "REPLACE";

    const int first_k = whole.group_line > 0 ? whole.group_line : whole.line;
    for (int k = first_k > 0 ? first_k : 1;; ++k) {
        if (table.open(scratch, kNamelistScratchName, replace) != kIostatOk)
            stop_run_on(log_unit, {kRoutine, std::string("ERROR: Unable to open the scratch file ") + kNamelistScratchName +
                                                 " for locating the error in " + name});
        table.rewind(input_unit);
        bool copied = true;
        std::string line;
        for (int i = 1; i <= k && copied; ++i) {
            copied = table.read_line(input_unit, line);
            if (copied) table.write_line(scratch, without_trailing_blanks(line));
        }
        if (!copied) {
            // Every prefix read cleanly: the fault is the end of the file itself.
            table.close(scratch, false);
            switch (whole.failure) {
            case NamelistFailure::no_group:
                stop_run_on(log_unit, {kRoutine, "ERROR: The input file " + name + " holds no namelist group &TORVA_INP"});
            case NamelistFailure::unclosed_group:
                stop_run_on(log_unit, {kRoutine, "ERROR: The namelist group &TORVA_INP in " + name +
                                                     " ends without its closing /"});
            default: {
                const int at = whole.line >= 1 && whole.line <= static_cast<int>(lines.size()) ? whole.line : 1;
                stop_at_line(log_unit, at, lines.empty() ? std::string() : lines[static_cast<std::size_t>(at - 1)]);
            }
            }
        }
        table.write_line(scratch, "/");
        table.rewind(scratch);
        // The prefix is read into a record of its own (170 kB, so not on the stack): only
        // whether it reads matters.
        const auto trial = std::make_unique<RunParameters>();
        const NamelistStatus prefix = read_text(rest_of_unit(scratch), *trial);
        if (prefix.ok()) {
            table.close(scratch);
            continue;
        }
        table.close(scratch, false);
        stop_at_line(log_unit, k, line);
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
    if (!whole.ok()) find_failing_line(input_unit, log_unit, name, whole, lines);   // 5

    table.close(input_unit);                                                         // 6
    derive_run_parameters(params);                                                  // 7
    write_echo(log_unit, params);                                                    // 8
}

}  // namespace torva
