#include "frame/usage.hpp"

#include <ostream>
#include <string>
#include <string_view>

#include "frame/list_directed.hpp"

namespace torva {

namespace {

// The program's own name as the user typed it, without the directories: "torva_setup".
std::string_view invoked_name(std::span<const char* const> argv)
{
    std::string_view name = (!argv.empty() && argv[0] != nullptr) ? argv[0] : "";
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    return name.empty() ? std::string_view("torva_setup") : name;
}

void print_version(std::string_view name, const ProgramIdentityTexts& id, std::ostream& out)
{
    out << name << " (" << trimmed(id.program_id) << ") " << trimmed(id.version) << ", released "
        << trimmed(id.release_date) << '\n'
        << trimmed(id.title) << '\n';
}

void print_help(std::string_view name, const ProgramIdentityTexts& id, std::ostream& out)
{
    out << "Usage: " << name << " [/INPUT=name] [frame options]\n"
        << "       " << name << " --help | --version\n"
        << "\n"
        << trimmed(id.title) << " (" << trimmed(id.program_id) << " " << trimmed(id.version) << ").\n"
        << "\n"
        << "Reads the run-parameter file (namelist group TORVA_INP) and the spline-sheet\n"
           "mesh files it names (FILE_SSG, and FILE_FS unless it is '0'), assembles and\n"
           "factorises the boundary-integral system, solves the basis flow, builds the\n"
           "free-surface filters (B_FILTER) and writes everything the solver reads.\n"
           "\n"
           "Options:\n"
           "  /INPUT=name   run-parameter file, opened as named, else as name.inp\n"
           "                (default: setup).  Slash options may be abbreviated.\n"
           "  /ARGFILE=f    further options from f, section [TORVA_SETUP] or [KESTA]\n"
           "  --help        this text;  --version  the program's version\n"
           "\n"
           "Files written in the working directory:\n"
           "  name.LIS                  the listing: header, grid tables, timings, and\n"
           "                            \"FINISHED: SUCCESS\" or the \"ERROR:\" line of a stop\n"
           "  setup_nml.log, setup_nml.log2\n"
           "                            run-parameter messages and the echo of every key\n"
           "  FILEJOU.jou1 .jou1a .jou2 .jou3 .jou4\n"
           "                            journal files for the solver (FILESTATUS 'new', the\n"
           "                            default, refuses to overwrite them: use a fresh\n"
           "                            directory or FILESTATUS = 'replace')\n"
           "  FILEJOU.jou05, .jou06 ... one B-spline filter per free-surface sheet\n"
           "  connectivity.info         sheet-boundary connectivity (INFORDER other than 1)\n"
           "\n"
           "Exit status: 0 after a completed run and also after an \"ERROR:\" stop (read the\n"
           "listing's last line), or 2 after such a stop with the option /ERROR-EXIT; 1 when\n"
           "the listing or the run-parameter file could not be opened.\n"
           "\n"
           "Companion programs: torva-mesh writes mesh files of simple bodies; torva-inspect\n"
           "checks a finished run's journal files and exports the panels with the basis\n"
           "flow as a VTK file for ParaView.  See the manual page torva_setup(1).\n";
}

}  // namespace

bool answer_usage_request(std::span<const char* const> argv, const ProgramIdentityTexts& identity,
                          std::ostream& out)
{
    if (argv.size() < 2 || argv[1] == nullptr) return false;
    const std::string_view word = argv[1];
    if (word == "--help") {
        print_help(invoked_name(argv), identity, out);
        return true;
    }
    if (word == "--version") {
        print_version(invoked_name(argv), identity, out);
        return true;
    }
    return false;
}

bool answer_usage_request(int argc, const char* const* argv, const ProgramIdentityTexts& identity,
                          std::ostream& out)
{
    if (argc < 0 || argv == nullptr) return false;
    return answer_usage_request(std::span<const char* const>(argv, static_cast<std::size_t>(argc)), identity,
                                out);
}

}  // namespace torva
