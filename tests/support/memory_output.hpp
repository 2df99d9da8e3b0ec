// Where the equation systems write in tests: the listing on unit 6, and the journal in memory,
// so that a test reads the records back without files.
#pragma once

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "equations/seteqn.hpp"
#include "frame/units.hpp"

namespace torva::testing {

class MemoryOutput {
public:
    MemoryJournal journal;
    SeteqnOutput out{6, journal};

    // Without `dir` the listing is a scratch file.  With it the listing is dir/run.LIS and `dir`
    // the working directory until the object goes, so that files a routine writes by plain
    // name (connectivity.info) land there.
    explicit MemoryOutput(const std::filesystem::path& dir = {}) : dir_(dir), cwd_(std::filesystem::current_path())
    {
        OpenOptions o;
        o.status = dir.empty() ? "SCRATCH" : "REPLACE";
        if (units().open(6, dir.empty() ? "" : (dir / "run.LIS").string(), o) != 0)
            throw std::runtime_error("the listing did not open");
        if (!dir.empty()) std::filesystem::current_path(dir);
    }
    ~MemoryOutput()
    {
        (void)units().close_all();
        std::filesystem::current_path(cwd_);
    }
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;

    // Every record of `file` as floats.
    [[nodiscard]] std::vector<std::vector<float>> floats(JournalFile file) const
    {
        std::vector<std::vector<float>> out;
        for (std::size_t k = 0; k < journal.records(file).size(); ++k) out.push_back(journal.values<float>(file, k));
        return out;
    }

    // The lines of the named listing so far.
    [[nodiscard]] std::vector<std::string> listing() const
    {
        units().flush(6);
        std::ifstream in(dir_ / "run.LIS");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::filesystem::path dir_, cwd_;
};

}  // namespace torva::testing
