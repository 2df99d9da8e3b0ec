// The journal files: the binary files through which the setup hands its matrices to the
// time-domain solver, and the waiting open used when they must already exist.
//
// Names are FILEJOU (trimmed) + suffix; units are fixed:
//     .jou1  11   right-hand-side rows of the main system
//     .jou1a 15   right-hand-side rows of the antisymmetric system
//     .jou2  12   factorised or inverted systems, then the filter list
//     .jou3  13   basis-flow results
//     .jou4  14   velocity and basis-flow records
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "equations/journal.hpp"

namespace torva {

inline constexpr int kJou1Unit = 11;
inline constexpr int kJou1aUnit = 15;
inline constexpr int kJou2Unit = 12;
inline constexpr int kJou3Unit = 13;
inline constexpr int kJou4Unit = 14;

struct JournalFileUnit {
    const char* suffix;
    int unit;
};
// In the order in which they are opened.
inline constexpr JournalFileUnit kJournalFiles[5] = {
    {".jou1", kJou1Unit}, {".jou1a", kJou1aUnit}, {".jou2", kJou2Unit},
    {".jou3", kJou3Unit}, {".jou4", kJou4Unit}};

// Opens the five journal files.  `filestatus` is the run parameter FILESTATUS: "OLD"/"old"
// selects the waiting open (OPEN_INPUT_FILES, which stops the run itself on failure); any
// other status word is used as given.  Returns 0, or -1 at the first file that could not be
// opened (its name and the system's reason go to `failure` when given).
int open_journal_files(int listing_unit, const std::string& filejou, const std::string& filestatus,
                       std::string* failure = nullptr);

// The journal on the five units above, once they are open: records framed by the unit
// table; a job written behind goes to the unit table's helper thread.  start_over reopens
// the file with status REPLACE (a scratch file, which has no name to reopen, is rewound
// instead) and stops the run on `listing_unit` when it cannot.
class UnitJournal final : public Journal {
public:
    explicit UnitJournal(int listing_unit,
                         std::array<int, kJournalFileCount> file_units = {kJou1Unit, kJou1aUnit, kJou2Unit,
                                                                          kJou3Unit, kJou4Unit});
    void write_record(JournalFile file, std::span<const std::byte> record) override;
    void write_records(JournalFile file, std::span<const std::byte> data, std::size_t record_bytes) override;
    void write_behind(JournalFile file, JournalJob job) override;
    void rewind(JournalFile file) override;
    std::optional<std::vector<std::byte>> read_record(JournalFile file) override;
    void start_over(JournalFile file) override;
    [[nodiscard]] std::string name(JournalFile file) const override;

private:
    [[nodiscard]] int unit(JournalFile file) const { return units_[static_cast<std::size_t>(file)]; }
    int listing_unit_;
    std::array<int, kJournalFileCount> units_;
};

// Closes .jou1, .jou1a, .jou2, .jou3, .jou4 in this order.
void close_journal_files();

// Waits `seconds`; replaced by tests.
using SleepFunction = std::function<void(int seconds)>;

// Opens `name` on `unit` for reading, waiting (10 s between tries, without limit) while
// another program holds the file.  Stops the run when the file does not exist, the form
// text is not one of formatted/unformatted (either case), or the unit is busy.
void OPEN_INPUT_FILES(int listing_unit, int unit, const std::string& name, const std::string& form,
                      const SleepFunction& sleep = {});

// The driver's two records appended to .jou2 when filters were made: the count, then all
// names (200 bytes each, blank-padded) in one record.
void write_filter_list(int jou2_unit, const std::vector<std::string>& filter_names);

}  // namespace torva
