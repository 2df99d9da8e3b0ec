// libFuzzer target: the frame's command-line parser.  The input is the argument vector, one
// argument per line, turned into the frame's command string as the entry point does, parsed,
// and queried the way the driver queries it (INPUT into a 200-character text).  Options that
// name an argument file are dropped: reading files of the fuzzing machine is not the point.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "frame/command_line.hpp"
#include "frame/vekmain.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torva;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> args{"torva_setup"};
    std::istringstream lines(text);
    for (std::string a; std::getline(lines, a);) {
        std::string upper;
        for (char c : a) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        if (upper.find("ARG") != std::string::npos) continue;
        if (a.find('\0') != std::string::npos) continue;      // argv strings hold no NUL
        args.push_back(a);
    }
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream messages;
    CommandLine arguments(messages);
    Vekmain(0, kProgramTag, frame_command_string(kProgramTag, argv), arguments);
    std::string input(200, ' ');
    const int status = arguments.get_into_fixed_text("INPUT", std::span<char>(input.data(), input.size()));
    if (input.size() != 200) std::abort();
    int text_status = 0;
    const auto value = arguments.get_text("INPUT", text_status);
    if (status == kQueryOk && (!value || value->size() > 200)) std::abort();
    if (arguments.arguments().size() > static_cast<std::size_t>(kMaxStoredArguments)) std::abort();
    return 0;
}
