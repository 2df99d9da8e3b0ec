// torva-inspect: the comparison of the record layout that a finished run must have left in
// its journal and filter files (driver/journal_layout.hpp works it out from the mesh and the
// run parameters) with what a scan of the files found.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/journal_layout.hpp"
#include "inspect_records.hpp"

namespace torva::inspect {

using torva::ExpectedFile;
using torva::ExpectedRun;
using torva::RunFacts;
using torva::SheetFacts;
using torva::expected_file_bytes;
using torva::expected_files;
using torva::expected_record_count;
using torva::filter_file_names;
using torva::interior_panel_count;
using torva::kFileNameBytes;
using torva::kIntegerBytes;
using torva::kRealBytes;
using torva::modes_with_records;
using torva::velocity_field_points;
using torva::velocity_panel_count;

// Walks the expected and the scanned runs side by side.  Returns "" when they agree, else
// one sentence naming the first record that differs.
[[nodiscard]] inline std::string compare_layout(const std::vector<ExpectedRun>& expected,
                                                const std::vector<RecordRun>& found)
{
    std::size_t ie = 0, ia = 0;
    std::int64_t left_e = expected.empty() ? 0 : expected[0].count;
    std::int64_t left_a = found.empty() ? 0 : found[0].count;
    std::int64_t record = 0;   // records matched so far
    auto skip_empty = [&] {
        while (ie < expected.size() && left_e == 0) left_e = ++ie < expected.size() ? expected[ie].count : 0;
        while (ia < found.size() && left_a == 0) left_a = ++ia < found.size() ? found[ia].count : 0;
    };
    skip_empty();
    while (ie < expected.size() && ia < found.size()) {
        if (expected[ie].length != found[ia].length)
            return "record " + std::to_string(record + 1) + " holds " + std::to_string(found[ia].length) +
                   " bytes, expected " + std::to_string(expected[ie].length) + ": " + expected[ie].what;
        const std::int64_t step = std::min(left_e, left_a);
        record += step;
        left_e -= step;
        left_a -= step;
        skip_empty();
    }
    if (ie < expected.size()) {
        std::int64_t missing = left_e;
        for (std::size_t k = ie + 1; k < expected.size(); ++k) missing += expected[k].count;
        return "ends after " + std::to_string(record) + " records, " + std::to_string(missing) +
               " missing; record " + std::to_string(record + 1) + " should be " + expected[ie].what;
    }
    if (ia < found.size()) {
        std::int64_t extra = left_a;
        for (std::size_t k = ia + 1; k < found.size(); ++k) extra += found[k].count;
        return "has " + std::to_string(extra) + " records more than the " + std::to_string(record) +
               " expected; record " + std::to_string(record + 1) + " holds " + std::to_string(found[ia].length) +
               " bytes";
    }
    return {};
}

}  // namespace torva::inspect
