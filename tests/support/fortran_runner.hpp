// Compiles and runs small gfortran programs from tests, so that our binary and namelist files
// are judged by a real Fortran run-time library rather than by our own readers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

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
        if (build.exit_code == 0) build.exit_code = 1;
        return build;
    }
    return run_command("cd " + shell_quote(dir.path().string()) + " && " + shell_quote(exe));
}

}  // namespace torva::testing
