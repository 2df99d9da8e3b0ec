#include "frame/vekmain.hpp"

#include <vector>

#include "frame/command_line.hpp"

namespace torva {
namespace {

std::int64_t g_instance_handle = 0;

}  // namespace

std::string frame_command_string(std::string_view tag, std::span<const char* const> argv)
{
    std::string command = "/NOHEADER /NAME=" + std::string(tag);
    for (std::size_t k = 1; k < argv.size(); ++k) {
        if (argv[k] == nullptr) break;
        if (k > 1) command += ' ';
        command += requoted_argument(argv[k]);
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
