#include "frame/machine_info.hpp"

#include <cstdio>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "frame/list_directed.hpp"

namespace torva {
namespace {

// A text of `width` characters: `value` cut or blank-padded; a failed fetch shows as one
// blank, which pads to all blanks.
std::string field(const std::optional<std::string>& value, std::size_t width)
{
    return fixed_text(value ? std::string_view(*value) : std::string_view(" "), width);
}

unsigned leading_number(std::string_view text, std::size_t& pos)
{
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
        value = value * 10u + static_cast<unsigned>(text[pos++] - '0');
    return value;
}

std::optional<std::string> login_name()
{
    char buffer[256] = {};
    if (::getlogin_r(buffer, sizeof buffer) == 0 && buffer[0] != '\0') return std::string(buffer);
    // No controlling terminal (a batch job, a container): the effective user's entry.
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return std::string(entry->pw_name);
    return std::nullopt;
}

std::optional<std::string> host_name()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0') return std::nullopt;
    return std::string(buffer);
}

std::vector<HardwareAddress> adapter_addresses()
{
    std::vector<HardwareAddress> adapters;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return adapters;
    // AF_PACKET entries come in interface-index order, one per interface.
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        if (link->sll_halen != 6) continue;
        HardwareAddress address{};
        for (std::size_t k = 0; k < address.size(); ++k) address[k] = link->sll_addr[k];
        adapters.push_back(address);
    }
    ::freeifaddrs(list);
    return adapters;
}

}  // namespace

std::string windows_version_text(std::uint32_t version)
{
    const unsigned major = version & 0xFFu;
    const unsigned minor = (version >> 8) & 0xFFu;
    char buffer[64];
    if ((version & 0x80000000u) == 0)
        std::snprintf(buffer, sizeof buffer, "Win NT %u.%u [%u]", major, minor, version >> 16);
    else if (major < 4)
        std::snprintf(buffer, sizeof buffer, "Win32s %u.%u [%u]", major, minor,
                      (version >> 16) & 0x7FFFu);
    else
        std::snprintf(buffer, sizeof buffer, "Win 95 %u.%u [%u]", major, minor,
                      (version >> 16) & 0x7FFFu);
    return buffer;
}

std::string system_version_text(std::string_view sysname, std::string_view release)
{
    std::size_t pos = 0;
    const unsigned major = leading_number(release, pos);
    unsigned minor = 0;
    if (pos < release.size() && release[pos] == '.') {
        ++pos;
        minor = leading_number(release, pos);
    }
    return std::string(sysname) + " " + std::to_string(major) + "." + std::to_string(minor) +
           " [" + std::string(release) + "]";
}

std::string processor_type_text(std::string_view machine)
{
    // The processor-type numbers of the Windows system information for the same chips.
    if (machine == "x86_64" || machine == "amd64") return "8664";
    if (machine == "i386") return "386";
    if (machine == "i486") return "486";
    if (machine == "i586" || machine == "i686") return "586";
    if (machine == "ia64") return "2200";
    return std::string(machine);
}

std::int32_t machine_number_from_addresses(std::span<const HardwareAddress> adapters,
                                           std::int32_t today)
{
    std::int32_t value = 0;
    std::optional<std::int32_t> first;
    for (const HardwareAddress& a : adapters) {
        const std::uint32_t bytes = (std::uint32_t{a[2]} << 24) | (std::uint32_t{a[3]} << 16) |
                                    (std::uint32_t{a[4]} << 8) | std::uint32_t{a[5]};
        value = static_cast<std::int32_t>(bytes & 0x7FFFFFFFu);
        if (!first) first = value;
    }
    if (value > 0) return value;
    if (first) return *first;
    return today;
}

std::int32_t date_as_number(const std::tm& t) noexcept
{
    return (t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday;
}

MachineSources system_machine_sources()
{
    MachineSources sources;
    sources.user_name = login_name;
    sources.computer_name = host_name;
    sources.machine = [] {
        utsname names{};
        return ::uname(&names) == 0 ? std::string(names.machine) : std::string();
    };
    sources.operating_system = [] {
        utsname names{};
        if (::uname(&names) != 0) return std::string(" ");
        return system_version_text(names.sysname, names.release);
    };
    sources.adapters = adapter_addresses;
    sources.today = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        return date_as_number(local);
    };
    return sources;
}

MachineInfo::MachineInfo() : MachineInfo(system_machine_sources()) {}
MachineInfo::MachineInfo(MachineSources sources) : sources_(std::move(sources)) {}

void MachineInfo::user_and_account(std::string& user, std::string& account)
{
    if (!user_) user_ = field(sources_.user_name(), kUserIdLength);
    user = *user_;
    account = std::string(kMachineTextLength, ' ');
}

void MachineInfo::machine_information(std::string& installation, std::string& processor,
                                      std::string& operating_system, std::int32_t& machine_number)
{
    if (!computer_name_) computer_name_ = field(sources_.computer_name(), kMachineTextLength);
    if (!processor_) processor_ = fixed_text(processor_type_text(sources_.machine()), kMachineTextLength);
    if (!operating_system_) operating_system_ = fixed_text(sources_.operating_system(), kMachineTextLength);
    if (!machine_number_) {
        const std::vector<HardwareAddress> adapters = sources_.adapters();
        // The date is read only when it is needed, as the fallback.
        machine_number_ = adapters.empty() ? sources_.today()
                                           : machine_number_from_addresses(adapters, 0);
    }
    installation = fixed_text(" " + trimmed(*computer_name_), kHeaderMachineFieldLength);
    processor = fixed_text(*processor_, kHeaderMachineFieldLength);
    operating_system = fixed_text(*operating_system_, kHeaderMachineFieldLength);
    machine_number = *machine_number_;
}

MachineInfo& machine_info()
{
    static MachineInfo info;
    return info;
}

}  // namespace torva
