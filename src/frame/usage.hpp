// `--help` and `--version`, answered before the frame's own parser sees the command line.
//
// The frame reads slash options (/INPUT=name) and takes any other word as a positional
// argument, so "--help" would otherwise start a run with it as ARG1 and fail on a missing
// "setup" input.  These two GNU-style words are the ones a person (or a packaging check)
// tries first; they are recognised only as the first argument, exactly, and then nothing of
// the frame starts: no listing, no units, no files.
#pragma once

#include <iosfwd>
#include <span>

#include "frame/program_start.hpp"

namespace torva {

// Prints the usage text (--help) or the version lines (--version) of the program described
// by `identity` to `out` and returns true when argv[1] is exactly one of those two words;
// returns false and prints nothing otherwise (also without arguments).  argv[0] is the
// program's own name, as main receives it.
[[nodiscard]] bool answer_usage_request(std::span<const char* const> argv,
                                        const ProgramIdentityTexts& identity, std::ostream& out);
[[nodiscard]] bool answer_usage_request(int argc, const char* const* argv,
                                        const ProgramIdentityTexts& identity, std::ostream& out);

}  // namespace torva
