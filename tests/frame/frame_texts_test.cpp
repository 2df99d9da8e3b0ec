// The frame's small texts, each worked by hand: message-box lines (a caption by kind, the text
// trimmed), I/O error texts (codes of the table, other codes by number in columns 31 to 36,
// outputs shorter than the 72 characters), the machine texts of the listing header from fake
// sources, and the frame-variable store (names of 90 significant characters, values of 204 so
// that a listing name made from a 200-character input name fits whole, 100 entries at most).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "frame/frame_variables.hpp"
#include "frame/io_error_text.hpp"
#include "frame/machine_info.hpp"
#include "frame/message_box.hpp"

namespace torva {
namespace {

constexpr std::int32_t kToday = 20251205;

std::string rtrim(std::string s) { return s.erase(s.find_last_not_of(' ') + 1); }

TEST(frame_texts, each_function_gives_the_text_worked_by_hand)
{
    std::ostringstream shown;
    set_message_box_stream(&shown);
    message_box(101, "first   ");
    message_box(102, "second");
    set_message_box_stream(nullptr);
    std::tm t{};
    t.tm_year = 2010 - 1900, t.tm_mon = 10, t.tm_mday = 29;
    const std::pair<std::string, std::string> cases[] = {
        {message_box_line(100, "a") + message_box_line(101, "a") + message_box_line(102, "a") +
             message_box_line(110, "a") + message_box_line(103, "a") + message_box_line(0, "a"),
         "Information: a\nWarning: a\nError: a\nHelp: a\na\na\n"},
        {message_box_line(100, std::string("x \t\0\0 ", 6)), "Information: x\n"},
        {message_box_line(103, std::string(20, ' ')), "\n"},
        {message_box_line(100, "  leading kept"), "Information:   leading kept\n"},
        {shown.str(), "Warning: first\nError: second\n"},
        {rtrim(io_error_text(29)), "    29:FILE NOT FOUND"},
        {rtrim(io_error_text(602)), "   602:FILE NOT FOUND"},
        {rtrim(io_error_text(27)), "    27:TOO MANY RECORDS IN I/O STATEMEMT"},   // as the old listings spell it
        {rtrim(io_error_text(616)), "   616:INVALID NUMBER IN INPUT"},
        {rtrim(io_error_text(58)), "OPERATING SYSTEM MESSAGE NO.:     58"},
        {rtrim(io_error_text(-1)), "OPERATING SYSTEM MESSAGE NO.:     -1"},
        {rtrim(io_error_text(0)), "OPERATING SYSTEM MESSAGE NO.:      0"},
        {rtrim(io_error_text(1234567)), "OPERATING SYSTEM MESSAGE NO.: ******"},
        {io_error_text(58, 35), std::string(35, ' ')},   // too short for the number
        {io_error_text(58, 36), "OPERATING SYSTEM MESSAGE NO.:     58"},
        {io_error_text(29, 10), "    29:FIL"},
        {windows_version_text(6u | (1u << 8) | (7601u << 16)), "Win NT 6.1 [7601]"},
        {windows_version_text(0x80000000u | (1u << 16) | (10u << 8) | 3u), "Win32s 3.10 [1]"},
        {windows_version_text(0x80000000u | (950u << 16) | 4u), "Win 95 4.0 [950]"},
        {system_version_text("Linux", "6.1.0-18-amd64"), "Linux 6.1 [6.1.0-18-amd64]"},
        {system_version_text("Linux", "5"), "Linux 5.0 [5]"},
        {processor_type_text("x86_64") + processor_type_text("i686") + processor_type_text("aarch64"), "8664586aarch64"},
        {std::to_string(date_as_number(t)), "20101129"},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
    for (int code : {29, 602, 27, 616, 58, -1, 0, 1234567}) EXPECT_EQ(io_error_text(code).size(), 72u) << code;
}

TEST(machine_info, number_from_the_adapters)
{
    // The last adapter's bytes 3 to 6, big-endian, top bit cleared; an adapter whose number is
    // zero gives way to the one before it unless it is the only one; none gives the date.
    const std::pair<std::vector<HardwareAddress>, std::int32_t> cases[] = {
        {{}, kToday},
        {{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}, 0x22334455},
        {{{0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01}}, 1},
        {{{0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}, 0x7FFFFFFF},
        {{{0, 0, 0, 0, 0, 7}, {0, 0, 0, 0, 0, 9}}, 9},
        {{{0, 0, 0, 0, 0, 7}, {0xAA, 0xBB, 0x80, 0, 0, 0}}, 7},
        {{{0, 0, 0, 0, 0, 0}}, 0},
    };
    for (const auto& [adapters, number] : cases) EXPECT_EQ(machine_number_from_addresses(adapters, kToday), number) << number;
}

TEST(machine_info, fields_are_cut_to_their_widths_and_fetched_once)
{
    int calls = 0, today_calls = 0;
    const auto sources = [&](std::optional<std::string> user, std::optional<std::string> host,
                             std::vector<HardwareAddress> adapters) {
        MachineSources s;
        s.user_name = [&calls, user] { ++calls; return user; };
        s.computer_name = [&calls, host] { ++calls; return host; };
        s.machine = [&calls] { ++calls; return std::string("x86_64"); };
        s.operating_system = [&calls] { ++calls; return "Linux 9.9 [" + std::string(60, 'r') + "]"; };
        s.adapters = [&calls, adapters] { ++calls; return adapters; };
        s.today = [&today_calls] { ++today_calls; return kToday; };
        return s;
    };
    MachineInfo info(sources(std::string(25, 'u') + "X", std::string("node7"), {}));
    std::string user, account, installation, processor, os;
    std::int32_t number = 0;
    for (int round = 0; round < 2; ++round) {
        info.user_and_account(user, account);
        info.machine_information(installation, processor, os, number);
    }
    EXPECT_EQ(user, std::string(20, 'u'));
    EXPECT_EQ(account, std::string(80, ' '));
    EXPECT_EQ(installation, " node7" + std::string(44, ' '));
    EXPECT_EQ(processor, "8664" + std::string(46, ' '));
    EXPECT_EQ(os, "Linux 9.9 [" + std::string(39, 'r'));
    EXPECT_EQ(number, kToday);
    EXPECT_EQ(calls, 5);
    EXPECT_EQ(today_calls, 1);
    // Failed calls show blanks; the date is only the fallback of the machine number.
    MachineInfo none(sources(std::nullopt, std::nullopt, {{0, 0, 1, 2, 3, 4}}));
    none.user_and_account(user, account);
    none.machine_information(installation, processor, os, number);
    EXPECT_EQ(user, std::string(20, ' '));
    EXPECT_EQ(installation, std::string(50, ' '));
    EXPECT_EQ(number, 0x01020304);
    EXPECT_EQ(today_calls, 1);
}

TEST(frame_variables, put_get_replace_widths_and_a_full_store)
{
    const auto padded = [](const std::string& text) { return text + std::string(kFrameVariableValueLength - text.size(), ' '); };
    FrameVariables store;
    EXPECT_EQ(store.get("OUTNAME"), padded(""));
    store.put("OUTNAME", "ship.LIS");
    store.put("OUTNAME  ", "hull.LIS");             // trailing blanks do not matter
    EXPECT_EQ(store.get("OUTNAME"), padded("hull.LIS"));
    EXPECT_EQ(store.get("outname"), padded(""));    // case does
    store.put("V", std::string(210, 'v'));
    EXPECT_EQ(store.get("V"), std::string(204, 'v'));
    store.put(std::string(90, 'n') + "A", "first");
    store.put(std::string(90, 'n') + "B", "second");
    EXPECT_EQ(store.get(std::string(90, 'n')), padded("second"));
    for (int k = store.size(); k < 100; ++k) store.put("N" + std::to_string(k), std::to_string(k));
    store.put("EXTRA", "x");                        // dropped silently
    EXPECT_EQ(store.size(), 100u);
    EXPECT_EQ(store.get("EXTRA"), padded(""));
    store.put("N99", "changed");
    EXPECT_EQ(store.get("N99"), padded("changed"));
    std::string value = "frame_variable_test.LIS", back, untouched = "keep";
    frame_variable("PUT", "TEST_VARIABLE", value);
    frame_variable("GET", "TEST_VARIABLE", back);
    EXPECT_EQ(back, padded(value));
    frame_variable("DROP", "TEST_VARIABLE", untouched);
    EXPECT_EQ(untouched, "keep");
}

}  // namespace
}  // namespace torva
