// Machine and user information of the listing header.
#include "frame/machine_info.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using torva::HardwareAddress;
using torva::machine_number_from_addresses;

constexpr std::int32_t kToday = 20251205;

TEST(machine_number, last_adapter_bytes_3_to_6_big_endian_with_the_top_bit_cleared)
{
    // No adapter gives the date; an adapter whose number is zero gives way to the one before
    // it, unless it is the only one.
    struct Case { std::vector<HardwareAddress> adapters; std::int32_t number; };
    const Case cases[] = {
        {{}, kToday},
        {{{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}}, 0x22334455},
        {{{0xFF, 0xFF, 0x80, 0x00, 0x00, 0x01}}, 1},
        {{{0, 0, 0xFF, 0xFF, 0xFF, 0xFF}}, 0x7FFFFFFF},
        {{{0, 0, 0, 0, 0, 7}, {0, 0, 0, 0, 0, 9}}, 9},
        {{{0, 0, 0, 0, 0, 7}, {0xAA, 0xBB, 0x80, 0, 0, 0}}, 7},
        {{{0, 0, 0, 0, 0, 0}}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(machine_number_from_addresses(c.adapters, kToday), c.number) << c.number;
}

TEST(machine_texts, versions_processors_and_dates)
{
    // Version 6.1, build 7601 of the NT family.
    EXPECT_EQ(torva::windows_version_text(6u | (1u << 8) | (7601u << 16)), "Win NT 6.1 [7601]");
    EXPECT_EQ(torva::windows_version_text(0x80000000u | (1u << 16) | (10u << 8) | 3u),
              "Win32s 3.10 [1]");
    EXPECT_EQ(torva::windows_version_text(0x80000000u | (950u << 16) | 4u), "Win 95 4.0 [950]");
    EXPECT_EQ(torva::system_version_text("Linux", "6.1.0-18-amd64"), "Linux 6.1 [6.1.0-18-amd64]");
    EXPECT_EQ(torva::system_version_text("Linux", "5"), "Linux 5.0 [5]");
    EXPECT_EQ(torva::processor_type_text("x86_64"), "8664");
    EXPECT_EQ(torva::processor_type_text("i686"), "586");
    EXPECT_EQ(torva::processor_type_text("aarch64"), "aarch64");
    std::tm t{};
    t.tm_year = 2010 - 1900;
    t.tm_mon = 10;                                    // November
    t.tm_mday = 29;
    EXPECT_EQ(torva::date_as_number(t), 20101129);
}

struct Counted {
    int user = 0, host = 0, machine = 0, os = 0, adapters = 0, today = 0;
};

torva::MachineSources fake_sources(Counted& calls, std::optional<std::string> user,
                                   std::optional<std::string> host,
                                   std::vector<HardwareAddress> adapters)
{
    torva::MachineSources s;
    s.user_name = [&calls, user] { ++calls.user; return user; };
    s.computer_name = [&calls, host] { ++calls.host; return host; };
    s.machine = [&calls] { ++calls.machine; return std::string("x86_64"); };
    s.operating_system = [&calls] { ++calls.os; return "Linux 9.9 [" + std::string(60, 'r') + "]"; };
    s.adapters = [&calls, adapters] { ++calls.adapters; return adapters; };
    s.today = [&calls] { ++calls.today; return kToday; };
    return s;
}

TEST(machine_info, fields_are_cut_to_their_widths_and_fetched_once)
{
    Counted calls;
    torva::MachineInfo info(fake_sources(calls, std::string(25, 'u') + "X", std::string("node7"), {}));
    std::string user, account, installation, processor, os;
    std::int32_t number = 0;
    for (int round = 0; round < 2; ++round) {
        info.user_and_account(user, account);
        info.machine_information(installation, processor, os, number);
    }
    EXPECT_EQ(user, std::string(20, 'u'));           // a long user name shows its first 20
    EXPECT_EQ(account, std::string(80, ' '));
    EXPECT_EQ(installation, " node7" + std::string(44, ' '));
    EXPECT_EQ(processor, "8664" + std::string(46, ' '));
    EXPECT_EQ(os, "Linux 9.9 [" + std::string(39, 'r'));
    EXPECT_EQ(number, kToday);                        // no adapters
    EXPECT_EQ(calls.user, 1);
    EXPECT_EQ(calls.host, 1);
    EXPECT_EQ(calls.machine, 1);
    EXPECT_EQ(calls.os, 1);
    EXPECT_EQ(calls.adapters, 1);
    EXPECT_EQ(calls.today, 1);

    // Failed calls show blanks; the date is only the fallback of the machine number.
    Counted failed;
    torva::MachineInfo none(fake_sources(failed, std::nullopt, std::nullopt, {{0, 0, 1, 2, 3, 4}}));
    none.user_and_account(user, account);
    none.machine_information(installation, processor, os, number);
    EXPECT_EQ(user, std::string(20, ' '));
    EXPECT_EQ(installation, std::string(50, ' '));
    EXPECT_EQ(number, 0x01020304);
    EXPECT_EQ(failed.today, 0);
}

TEST(machine_info, this_machine_gives_plausible_values)
{
    std::string installation, processor, os;
    std::int32_t number = 0;
    torva::machine_info().machine_information(installation, processor, os, number);
    EXPECT_EQ(os.substr(0, 6), "Linux ");
    EXPECT_GT(number, 0);
    EXPECT_EQ(installation.size(), 50u);
    EXPECT_EQ(installation[0], ' ');
}

}  // namespace
