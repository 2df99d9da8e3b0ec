// Where the equation systems write in tests: the listing on unit 6 as a scratch file, and
// the journal in memory, so that a test reads the records back without files.
#pragma once

#include <cstring>
#include <vector>

#include "equations/seteqn.hpp"
#include "frame/units.hpp"

namespace torva::testing {

struct MemoryOutput {
    MemoryJournal journal;
    SeteqnOutput out{6, journal};
    MemoryOutput()
    {
        OpenOptions o;
        o.status = "SCRATCH";
        units().open(6, "", o);
    }
    ~MemoryOutput() { (void)units().close_all(); }
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;

    // Every record of `file` as floats.
    [[nodiscard]] std::vector<std::vector<float>> floats(JournalFile file) const
    {
        std::vector<std::vector<float>> out;
        for (std::size_t k = 0; k < journal.records(file).size(); ++k) out.push_back(journal.values<float>(file, k));
        return out;
    }
};

}  // namespace torva::testing
