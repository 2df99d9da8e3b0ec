// libFuzzer target: the namelist reader on arbitrary bytes.
//
// Besides crashes, hangs and sanitizer reports, it checks two properties of every input:
//   - a failure is located: a line of at least 1 and a message;
//   - a success echoes: the group written back from the record reads again without error
//     (the echo file is what the solver reads, so it must always be readable).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "input/namelist_reader.hpp"
#include "input/namelist_writer.hpp"
#include "input/run_parameters.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torva;
    static const auto params = std::make_unique<RunParameters>();
    static const auto again = std::make_unique<RunParameters>();
    set_run_parameter_defaults(*params);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const NamelistStatus status = read_torva_inp(in, *params);
    if (!status.ok()) {
        if (status.line < 1 || status.message.empty()) std::abort();
        return 0;
    }
    std::ostringstream echo;
    write_torva_inp(echo, *params);
    set_run_parameter_defaults(*again);
    std::istringstream back(echo.str());
    if (!read_torva_inp(back, *again).ok()) std::abort();
    return 0;
}
