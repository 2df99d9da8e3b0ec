#include "driver/pre_run_checks.hpp"

#include <iostream>
#include <string>

#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/threads.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_checks.hpp"

namespace torva {

void warn_negative_displacement(int listing_unit, const PanelModel& model)
{
    for (const CheckFinding& finding : orientation_findings(model)) {
        const std::string text = "WARNING: " + finding.text + " (torva-inspect --check-mesh tells more)";
        units().write_line(listing_unit, list_directed(text));
        std::cerr << "torva_setup: " << text << '\n';
    }
}

void report_run_estimate(int listing_unit, const PanelModel& model, const RunParameters& params,
                         const FreeSpaceQuery& free_space)
{
    UnitTable& io = units();
    const RunFacts facts = run_facts(model, params);
    const Calibration calibration = calibrate_machine(model, params, listing_unit);
    const RunEstimate estimate = estimate_run(facts, params.H1, params.H2, team_threads(), calibration);
    const SpaceCheck space = journal_space(estimate, facts.filejou, free_space);

    const std::string rule = std::string(9, ' ') + std::string(58, '-');
    io.write_line(listing_unit, rule);
    io.write_line(listing_unit, std::string(27, ' ') + "ESTIMATE BEFORE THE WORK");
    io.write_line(listing_unit, rule);
    for (const std::string& line : estimate_lines(estimate, space, available_memory_bytes()))
        io.write_line(listing_unit, std::string(10, ' ') + line);
    io.write_line(listing_unit, rule);
    io.write_line(listing_unit, "");

    if (!journals_fit(estimate, space))
        stop_run_on(listing_unit,
                    {"ERROR: The journal and filter files need " + byte_text(estimate.peak_file_bytes) +
                         " but the file system of " + space.directory + " has " + byte_text(space.free_bytes) +
                         " free" + (space.reused_bytes > 0 ? " (+ " + byte_text(space.reused_bytes) + " of files replaced)" : ""),
                     "Make room there, or give FILEJOU a directory on a larger file system."});
}

}  // namespace torva
