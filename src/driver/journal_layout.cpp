#include "driver/journal_layout.hpp"

#include "frame/list_directed.hpp"
#include "frame/units.hpp"

namespace torva {

RunFacts run_facts(const PanelModel& model, const RunParameters& params)
{
    RunFacts f;
    f.n = model.n_panels;
    f.symmetry = model.header.symmetry;
    for (int s = 0; s < model.n_sheets; ++s) {
        const auto ss = static_cast<std::size_t>(s);
        SheetFacts sheet{model.np1[ss], model.np2[ss], model.np[ss], model.kp[ss], model.mp[ss], 0};
        sheet.active = (sheet.np1 - 2) * (sheet.np2 - 2);   // the ring of ghosts aside
        f.sheets.push_back(sheet);
    }
    f.inforder = params.INFORDER;
    f.infbnd = params.INFBND;
    f.infinvs = params.INFINVS;
    f.ifsbc = params.IFSBC;
    f.b_filter = params.B_FILTER;
    f.sea_depth = params.SEA_DEPTH;
    f.filejou = trimmed(params.FILEJOU);
    f.mode_count = kModeCount;
    return f;
}

std::int64_t framed_record_bytes(std::int64_t length)
{
    const std::int64_t pieces = length <= kMaxSubrecord ? 1 : (length + kMaxSubrecord - 1) / kMaxSubrecord;
    return length + 8 * pieces;
}

std::int64_t expected_file_bytes(const ExpectedFile& file)
{
    std::int64_t bytes = 0;
    for (const ExpectedRun& r : file.runs) bytes += r.count * framed_record_bytes(r.length);
    return bytes;
}

}  // namespace torva
