// The frame start.
//
// The entry point hands the frame a prepared command string,
//     "/NOHEADER /NAME=" + tag + tail
// where the tail is what followed the program's name on its command line, appended with no
// blank in between.  Vekmain parses it (as the argument vector {tag, command string}) into
// the process-wide command-line store and records the main window and instance handles as
// the integer options HWND and HINST.
//
// There is no window system here: the run is always a batch run, and the main window, which
// would only ever be created minimised and never serviced, is not created.  HWND holds the
// placeholder kPlaceholderWindowHandle, so code that asks for a window finds a non-null one.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace torva {

class CommandLine;

inline constexpr std::string_view kProgramTag = "TORVA_SETUP";
inline constexpr std::int64_t kPlaceholderWindowHandle = 1;

// The frame command string from the process's arguments (argv[0], the program's own name,
// is not part of the tail).  The tail is argv[1..] joined by blanks.  The shell has removed
// the quotes the user typed, so an argument /NAME=value whose value holds white space or a
// slash gets them back: double quotes around the value, or single quotes when the value
// holds a double quote.  Values that already begin with a quote, that hold both kinds of
// quote, or positional words (which cannot be quoted) are passed as they are.
[[nodiscard]] std::string frame_command_string(std::string_view tag,
                                               std::span<const char* const> argv);

// Parses {tag, command_string} into `arguments` and records HWND and HINST.  Returns 0:
// a bad option never stops the start.
int Vekmain(std::int64_t instance_handle, std::string_view tag, std::string_view command_string,
            CommandLine& arguments);
// The same on the process-wide store, keeping the instance handle.
int Vekmain(std::int64_t instance_handle, std::string_view tag, std::string_view command_string);

// The instance handle recorded by the last Vekmain (0 before).
[[nodiscard]] std::int64_t instance_handle() noexcept;

}  // namespace torva
