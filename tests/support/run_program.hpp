// Runs torva_setup (or a companion tool) as a user would: in a directory of its own, with a
// command line, and reads back what it left there.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/fortran_runner.hpp"

namespace torva::testing {

inline std::string built_program(const std::string& name) { return std::string(TORVA_BINARY_DIR) + "/" + name; }

// Runs `program args` in `dir`, with the environment settings `env` ("NAME=value ...") if
// any; stdout and stderr together in the result.
inline FortranRun run_in(const TempDir& dir, const std::string& program, const std::string& args,
                         const std::string& env = "")
{
    return run_command("cd " + shell_quote(dir.path().string()) + " && " + env + (env.empty() ? "" : " ") +
                       shell_quote(program) + " " + args);
}

inline std::string read_text(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> read_lines(const std::string& name)
{
    std::ifstream in(name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline void write_text(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

}  // namespace torva::testing
