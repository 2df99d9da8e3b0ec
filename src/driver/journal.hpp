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

#include <functional>
#include <string>
#include <vector>

namespace torva {

inline constexpr int kJou1Unit = 11;
inline constexpr int kJou1aUnit = 15;
inline constexpr int kJou2Unit = 12;
inline constexpr int kJou3Unit = 13;
inline constexpr int kJou4Unit = 14;

struct JournalFile {
    const char* suffix;
    int unit;
};
// In the order in which they are opened.
inline constexpr JournalFile kJournalFiles[5] = {
    {".jou1", kJou1Unit}, {".jou1a", kJou1aUnit}, {".jou2", kJou2Unit},
    {".jou3", kJou3Unit}, {".jou4", kJou4Unit}};

// Opens the five journal files.  `filestatus` is the run parameter FILESTATUS: "OLD"/"old"
// selects the waiting open (OPEN_INPUT_FILES, which stops the run itself on failure); any
// other status word is used as given.  Returns 0, or -1 at the first file that could not be
// opened (its name and the system's reason go to `failure` when given).
int open_journal_files(int listing_unit, const std::string& filejou, const std::string& filestatus,
                       std::string* failure = nullptr);

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
