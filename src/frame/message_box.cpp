#include "frame/message_box.hpp"

#include <cctype>
#include <iostream>

namespace torva {
namespace {

std::ostream* g_message_box_stream = nullptr;

}  // namespace

std::string_view message_box_caption(int kind) noexcept
{
    switch (kind) {
    case kMessageInformation: return "Information";
    case kMessageWarning: return "Warning";
    case kMessageError: return "Error";
    case kMessageHelp: return "Help";
    default: return "";
    }
}

std::string message_box_line(int kind, std::string_view text)
{
    std::size_t n = text.size();
    while (n > 0 && (text[n - 1] == '\0' || std::isspace(static_cast<unsigned char>(text[n - 1]))))
        --n;
    const std::string_view caption = message_box_caption(kind);
    std::string line;
    if (!caption.empty()) {
        line += caption;
        line += ": ";
    }
    line += text.substr(0, n);
    line += '\n';   // the box's own CR LF: one line break on a Linux stream
    return line;
}

void message_box(int kind, std::string_view text)
{
    std::ostream& out = g_message_box_stream != nullptr ? *g_message_box_stream : std::cerr;
    out << message_box_line(kind, text);
    out.flush();
}

void set_message_box_stream(std::ostream* stream) noexcept { g_message_box_stream = stream; }

}  // namespace torva
