// Who runs the program and on what machine: the values of the listing header.
//
// Each value is fetched from the operating system on first use and kept for the run:
//   user id           login name (getlogin_r, else the password entry of the effective
//                     user), cut to 20 characters; a single blank when both fail
//   account           always blank
//   computer name     the host name (gethostname); a single blank when it fails
//   processor type    the processor-type number a Windows system reports for this
//                     architecture, in decimal (x86-64: 8664); the machine name from uname
//                     for an architecture that has none
//   operating system  "<system> <major>.<minor> [<release>]" from uname, e.g.
//                     "Linux 6.1 [6.1.0-18-amd64]"
//   machine number    a 32-bit identification: bytes 3 to 6 of a network adapter's 6-byte
//                     hardware address, big-endian, top bit cleared; today's date as the
//                     number YYYYMMDD on a machine without adapters
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace torva {

inline constexpr std::size_t kUserIdLength = 20;
inline constexpr std::size_t kMachineTextLength = 80;     // account, computer name, ...
inline constexpr std::size_t kHeaderMachineFieldLength = 50;

using HardwareAddress = std::array<std::uint8_t, 6>;

// The operating-system text of the Windows version value V (major = V & 0xFF,
// minor = (V >> 8) & 0xFF): "Win NT major.minor [V >> 16]" when the top bit of V is clear,
// else "Win32s ..." (major below 4) or "Win 95 ..." with (V >> 16) & 0x7FFF.  Kept so that a
// listing written on either system can be read against the other.
[[nodiscard]] std::string windows_version_text(std::uint32_t version);

// "<sysname> <major>.<minor> [<release>]", major and minor being the release's first two
// numbers (0 when missing).
[[nodiscard]] std::string system_version_text(std::string_view sysname, std::string_view release);

// The processor-type text for a uname machine name (see the file comment).
[[nodiscard]] std::string processor_type_text(std::string_view machine);

// The machine number from the adapters' hardware addresses in enumeration order: each
// adapter's value (bytes 3 to 6, big-endian, top bit cleared) replaces the previous one; a
// positive last value is the result, a zero one gives way to the first adapter's value,
// and with no adapter the result is `today` (YYYYMMDD).
[[nodiscard]] std::int32_t machine_number_from_addresses(std::span<const HardwareAddress> adapters,
                                                         std::int32_t today);

// The calendar date of `t` as the number YYYYMMDD.
[[nodiscard]] std::int32_t date_as_number(const std::tm& t) noexcept;

// Where the raw values come from; the defaults ask the operating system.  A source returns
// nullopt when its call fails.
struct MachineSources {
    std::function<std::optional<std::string>()> user_name;
    std::function<std::optional<std::string>()> computer_name;
    std::function<std::string()> machine;                  // uname machine
    std::function<std::string()> operating_system;         // already formatted
    std::function<std::vector<HardwareAddress>()> adapters;
    std::function<std::int32_t()> today;                   // YYYYMMDD
};
[[nodiscard]] MachineSources system_machine_sources();

// The cached values.  Texts are blank-padded to their widths.
class MachineInfo {
public:
    MachineInfo();
    explicit MachineInfo(MachineSources sources);

    // User id (20 characters) and account (80 blanks).
    void user_and_account(std::string& user, std::string& account);
    // Installation text (a blank and the computer name), processor-type text and
    // operating-system text, 50 characters each, and the machine number.
    void machine_information(std::string& installation, std::string& processor,
                             std::string& operating_system, std::int32_t& machine_number);

private:
    MachineSources sources_;
    std::optional<std::string> user_;
    std::optional<std::string> computer_name_;
    std::optional<std::string> processor_;
    std::optional<std::string> operating_system_;
    std::optional<std::int32_t> machine_number_;
};

// The process-wide values, fetched once per run.
MachineInfo& machine_info();

}  // namespace torva
