#include "frame/vekmain.hpp"

#include <cctype>
#include <vector>

#include "frame/command_line.hpp"

namespace torva {
namespace {

std::int64_t g_instance_handle = 0;

// An argument as the parser must see it to read back the value the shell delivered.
std::string requoted(std::string_view argument)
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

}  // namespace

std::string frame_command_string(std::string_view tag, std::span<const char* const> argv)
{
    std::string command = "/NOHEADER /NAME=" + std::string(tag);
    for (std::size_t k = 1; k < argv.size(); ++k) {
        if (argv[k] == nullptr) break;
        if (k > 1) command += ' ';
        command += requoted(argv[k]);
    }
    return command;
}

int Vekmain(std::int64_t instance_handle, std::string_view tag, std::string_view command_string,
            CommandLine& arguments)
{
    const std::vector<std::string> argv{std::string(tag), std::string(command_string)};
    arguments.parse(tag, argv);   // its error count is not looked at
    arguments.set_integer("HWND", kPlaceholderWindowHandle);
    arguments.set_integer("HINST", instance_handle);
    return 0;
}

int Vekmain(std::int64_t instance_handle, std::string_view tag, std::string_view command_string)
{
    g_instance_handle = instance_handle;
    return Vekmain(instance_handle, tag, command_string, command_line());
}

std::int64_t instance_handle() noexcept { return g_instance_handle; }

}  // namespace torva
