// Message boxes.
//
// On a desktop the frame would show a modal box; this program runs where no window system
// exists, so a message box is one line on standard error,
//     <caption>: <text>
// (just the text when the caption is empty), and the run goes on at once.  The kinds keep
// their captions.  There is no beep: nobody is there to hear it, and a terminal bell in a
// batch log is noise.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace torva {

inline constexpr int kMessageInformation = 100;
inline constexpr int kMessageWarning = 101;
inline constexpr int kMessageError = 102;
inline constexpr int kMessageHelp = 110;

// "Information", "Warning", "Error", "Help"; empty for any other kind.
[[nodiscard]] std::string_view message_box_caption(int kind) noexcept;

// The line a message box shows, its final newline included: the text loses its trailing
// run of white space and NULs (an all-blank text gives an empty message).
[[nodiscard]] std::string message_box_line(int kind, std::string_view text);

// Shows the message box: writes message_box_line to the message-box stream.
void message_box(int kind, std::string_view text);

// Redirects the message-box stream (standard error by default); nullptr restores it.
// Tests use this to read what a box showed.
void set_message_box_stream(std::ostream* stream) noexcept;

}  // namespace torva
