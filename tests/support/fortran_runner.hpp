// Compiles and runs small gfortran programs from tests, so that our binary and namelist files
// are judged by a real Fortran run-time library rather than by our own readers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace torva::testing {

struct FortranRun {
    int exit_code = -1;
    std::string output;   // stdout and stderr together
};

// A fresh directory under the system temp dir, removed by the destructor.
class TempDir {
public:
    explicit TempDir(const std::string& tag)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / ("torva_" + tag + "_XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
private:
    std::filesystem::path path_;
};

inline std::string shell_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline FortranRun run_command(const std::string& command)
{
    FortranRun run;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.output.append(buf, n);
    const int rc = ::pclose(pipe);
    run.exit_code = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return run;
}

// Writes `source` to dir/prog.f90, compiles it with `flags`, runs it in `dir`.
inline FortranRun compile_and_run_fortran(const TempDir& dir, const std::string& source,
                                          const std::string& flags = "")
{
    const std::string src = dir.file("prog.f90");
    const std::string exe = dir.file("prog");
    { std::ofstream(src) << source; }
    FortranRun build = run_command(std::string(TORVA_FORTRAN_COMPILER) + " " + flags + " -o " +
                                   shell_quote(exe) + " " + shell_quote(src));
    if (build.exit_code != 0) {
        build.output = "gfortran compile failed:\n" + build.output;
        return build;
    }
    return run_command("cd " + shell_quote(dir.path().string()) + " && " + shell_quote(exe));
}

// What gfortran's unformatted sequential READ makes of a file: every record's 32-bit words,
// and whether the file ended right after the last record the layout names.
struct FortranRecords {
    bool ran = false;
    std::string output;                            // the program's output, for messages
    std::vector<std::vector<std::uint32_t>> records;
    bool ends_there = false;
};

// Reads dir/`file` as the solver declares it: `layout` lists runs of (records, words per
// record); each record is READ into a default-integer array of that many words (reals travel
// as their bits: an unformatted READ converts nothing), then one more READ must meet the end
// of the file.  A record shorter than declared fails the READ, so the program stops.  Without
// `keep_words` each record comes back empty (large files: only their layout is judged).
inline FortranRecords gfortran_read_records(const TempDir& dir, const std::string& file,
                                            const std::vector<std::pair<int, int>>& layout, bool keep_words = true)
{
    std::ostringstream src;
    src << "program read_records\n  implicit none\n  integer, allocatable :: w(:)\n  integer :: k, ios\n"
        << "  open(20, file='" << file << "', form='unformatted', status='old', action='read')\n";
    for (const auto& [count, words] : layout)
        src << "  allocate(w(" << words << "))\n  do k = 1, " << count << "\n    read(20) w\n"
            << (keep_words ? "    print '(a, *(1x, z8.8))', 'R', w\n" : "    print '(a)', 'R'\n")
            << "  end do\n  deallocate(w)\n";
    src << "  read(20, iostat=ios) k\n  if (ios < 0) print '(a)', 'END'\nend program\n";
    FortranRecords result;
    const FortranRun run = compile_and_run_fortran(dir, src.str());
    result.output = run.output;
    result.ran = run.exit_code == 0;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        if (line == "END") result.ends_there = true;
        if (line.rfind("R", 0) != 0) continue;
        std::istringstream words(line.substr(1));
        auto& record = result.records.emplace_back();
        for (std::string hex; words >> hex;) record.push_back(static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16)));
    }
    return result;
}

}  // namespace torva::testing
