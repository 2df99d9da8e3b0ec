// Machine and user information of the listing header, from fake sources.
#include "frame/machine_info.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using torva::HardwareAddress;

constexpr std::int32_t kToday = 20251205;

TEST(machine_info, number_versions_and_processor_texts)
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
    for (const auto& [adapters, number] : cases)
        EXPECT_EQ(torva::machine_number_from_addresses(adapters, kToday), number) << number;
    EXPECT_EQ(torva::windows_version_text(6u | (1u << 8) | (7601u << 16)), "Win NT 6.1 [7601]");
    EXPECT_EQ(torva::windows_version_text(0x80000000u | (1u << 16) | (10u << 8) | 3u), "Win32s 3.10 [1]");
    EXPECT_EQ(torva::windows_version_text(0x80000000u | (950u << 16) | 4u), "Win 95 4.0 [950]");
    EXPECT_EQ(torva::system_version_text("Linux", "6.1.0-18-amd64"), "Linux 6.1 [6.1.0-18-amd64]");
    EXPECT_EQ(torva::system_version_text("Linux", "5"), "Linux 5.0 [5]");
    EXPECT_EQ(torva::processor_type_text("x86_64") + torva::processor_type_text("i686") +
                  torva::processor_type_text("aarch64"), "8664586aarch64");
    std::tm t{};
    t.tm_year = 2010 - 1900, t.tm_mon = 10, t.tm_mday = 29;
    EXPECT_EQ(torva::date_as_number(t), 20101129);
}

TEST(machine_info, fields_are_cut_to_their_widths_and_fetched_once)
{
    int calls = 0, today_calls = 0;
    const auto sources = [&](std::optional<std::string> user, std::optional<std::string> host,
                             std::vector<HardwareAddress> adapters) {
        torva::MachineSources s;
        s.user_name = [&calls, user] { ++calls; return user; };
        s.computer_name = [&calls, host] { ++calls; return host; };
        s.machine = [&calls] { ++calls; return std::string("x86_64"); };
        s.operating_system = [&calls] { ++calls; return "Linux 9.9 [" + std::string(60, 'r') + "]"; };
        s.adapters = [&calls, adapters] { ++calls; return adapters; };
        s.today = [&today_calls] { ++today_calls; return kToday; };
        return s;
    };
    torva::MachineInfo info(sources(std::string(25, 'u') + "X", std::string("node7"), {}));
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
    torva::MachineInfo none(sources(std::nullopt, std::nullopt, {{0, 0, 1, 2, 3, 4}}));
    none.user_and_account(user, account);
    none.machine_information(installation, processor, os, number);
    EXPECT_EQ(user, std::string(20, ' '));
    EXPECT_EQ(installation, std::string(50, ' '));
    EXPECT_EQ(number, 0x01020304);
    EXPECT_EQ(today_calls, 1);
}

}  // namespace
