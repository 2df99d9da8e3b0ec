// The setup run sequence.  Every step writes what it owes the listing before the next one
// starts, so a run that stops leaves a listing that says how far it came.
#include "driver/setup_driver.hpp"

#include <cmath>
#include <ctime>
#include <iostream>

#include "driver/grid_tables.hpp"
#include "driver/journal.hpp"
#include "driver/pre_run_checks.hpp"
#include "equations/basefl.hpp"
#include "equations/seteqn.hpp"
#include "equations/seteqn1.hpp"
#include "filter/bspline_filter.hpp"
#include "frame/command_line.hpp"
#include "frame/file_open.hpp"
#include "frame/frame_variables.hpp"
#include "frame/list_directed.hpp"
#include "frame/progress.hpp"
#include "frame/run_stop.hpp"
#include "frame/text_helpers.hpp"
#include "frame/units.hpp"
#include "input/get_namelist.hpp"
#include "input/parameter_limits.hpp"
#include "mesh/mesh_fault.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"

namespace torva {

namespace {

constexpr int kNamelistLogUnit = 16;

// A line with nine blanks in front and an empty line after it.
void announce(const char* text)
{
    units().write_line(kListingUnit, std::string(9, ' ') + text);
    units().write_line(kListingUnit, "");
    units().flush(kListingUnit);   // a run killed in the phase that follows still shows it
}

void progress(const std::string& text) { std::cerr << "torva_setup: " << text << '\n'; }

}  // namespace

ProgramIdentityTexts setup_program_identity()
{
    ProgramIdentityTexts id;
    id.program_id = fixed_text("TORVA_SETUP", 11);
    id.title = fixed_text("Setup matrices for Torva_Solve", 100);
    id.version = fixed_text("3.1-03", 10);
    id.impl_update = fixed_text(" ", 10);
    id.special_notes = fixed_text(" ", 100);
    id.release_date = fixed_text("29-NOV-2010", 11);
    return id;
}

int kernel_count(float sea_depth, float waterline_length)
{
    return bottom_image_count(sea_depth, waterline_length, sea_depth);
}

void run_setup()
{
    UnitTable& io = units();
    // 1-2. Identity and the frame's standard units: listing 6, input 5.
    const ProgramIdentityTexts identity = setup_program_identity();
    set_standard_units(kInputUnit, kListingUnit);

    // 3-4. Input name and listing name.
    std::string input_name(200, ' ');
    const int query = command_line().get_into_fixed_text("INPUT", std::span<char>(input_name.data(), input_name.size()));
    if (trimmed_length(input_name) == 0) input_name = fixed_text("setup", 200);
    const std::string input = trimmed(input_name);
    // A name longer than its 200 characters would be cut, and a cut name could even be the
    // input file itself, which the listing's open would then move aside.  Such a name is
    // refused before any file is touched, as the frame refuses a listing it cannot open.
    if (query == kQueryTruncated)
        stop_run_on(-1, {"ERROR: The INPUT name is longer than 200 characters: " + input.substr(0, 100) + "..."}, 1);
    frame_variables().put("OUTNAME", input + ".LIS");

    // 5. Program start: the listing and its header.
    bool started = false;
    program_start(identity, "SHORT", started);

    // 6. The run-parameter file, as named, else with ".inp".
    OpenOptions old_text;
    old_text.status = "OLD";
    if (io.open(kInputUnit, input, old_text) != kIostatOk &&
        file_open(kInputUnit, "", input, ".inp", "OLD", "FORMATTED") != 0)
        stop_run({"ERROR: Unable to open rundata file"}, 1);

    // 7. Parameters, with their log and echo.
    RunParameters params;
    {
        OpenOptions replace;
        replace.status = "replace";
        if (io.open(kNamelistLogUnit, "setup_nml.log", replace) != kIostatOk)
            stop_run({"ERROR: Unable to open setup_nml.log in the run directory"});
        int in_unit = kInputUnit, log_unit = kNamelistLogUnit;
        get_namelist(in_unit, log_unit, params);
        io.close(kNamelistLogUnit);
    }
    check_parameter_limits(params);
    const std::string file_ssg = trimmed(params.FILE_SSG);
    const std::string file_fs = trimmed(params.FILE_FS);
    const float alength = params.ALENGTH;

    // 8. The depth in mesh units.
    float sea_depth = params.SEA_DEPTH;
    if (sea_depth != 0.0f) sea_depth /= alength;
    if (sea_depth == 0.0f) sea_depth = -1.0f;   // depth 0 is deep water, as every negative depth

    // 9-15. The mesh.  The mesh module reports a bad mesh as a MeshFault, whose lines stop
    // the run here.
    PanelModel model;
    try {
        // 9-10. Sizing pass.
        if (io.open(kMeshUnit, file_ssg, old_text) != kIostatOk)
            stop_run({"ERROR: Unable to open mesh ssg file", params.FILE_SSG});
        const MeshSizes sizes = size_mesh(kMeshUnit, file_fs);
        io.close(kMeshUnit);

        // 11-12. The panel model, sized for the mirrored mesh when the basis flow will mirror.
        const bool mirrored = params.IFSBC == 3 && sizes.symmetry == 1;
        allocate_panel_model(model, std::max(sizes.n_panels, 0), sizes.n_sheets, mirrored);

        // 13. Reading.
        int status = 0;
        if (file_fs == kNoSecondMeshFile) {
            if (io.open(kMeshUnit, file_ssg, old_text) != kIostatOk)
                stop_run({"ERROR: Unable to open mesh ssg file", params.FILE_SSG});
            status = read_mesh_one_file(kMeshUnit, alength, model);
        } else {
            status = read_mesh_two_files(kMeshUnit, file_ssg, file_fs, alength, model);
        }
        if (status == 1) stop_run({"ERROR: Too many spline sheets."});

        // 14-15. Classification and the moment tables; the reading's work arrays go.
        classify_panels(model);
        fill_moment_tables(model);
        release_mesh_work_arrays(model);
    } catch (const MeshFault& fault) {
        stop_run(fault.lines);
    }

    // 16. Grid summary.
    const GridExtents extents = compute_grid_extents(model);
    print_grid_information(kListingUnit, model);
    print_principal_particulars(kListingUnit, model, extents, alength);
    warn_negative_displacement(kListingUnit, model);
    report_run_estimate(kListingUnit, model, params);
    io.flush(kListingUnit);
    // The bottom images are counted before any work, so that a depth needing too many of them
    // stops the run now rather than after the equation system.
    int n_kernel = params.N_KERNEL;
    const bool count_images = sea_depth > 0.0f && n_kernel < 1;
    if (!(sea_depth > 0.0f)) n_kernel = 0;
    else if (count_images)
        n_kernel = bottom_image_count(sea_depth, model.waterline_xmax - model.waterline_xmin, params.SEA_DEPTH);

    // 17. Journal files.
    std::string why;
    if (open_journal_files(kListingUnit, params.FILEJOU, params.FILESTATUS, &why) < 0)
        stop_run({"ERROR: Could not open jou-file", "ERROR: " + why});

    // 18-19. The boundary-integral system.
    announce("Setting up the boundary integral equation ...");
    progress("assembling the boundary-integral system, N = " + std::to_string(model.n_panels));
    const std::array<int, 3> ispline = {params.ISPLINE[0], params.ISPLINE[1], 1};
    UnitJournal journal(kListingUnit);
    const SeteqnOutput su{kListingUnit, journal};
    if (params.INFORDER == 1)
        seteqn(model, su, model.header.symmetry, model.n_sheets, model.n_panels, ispline, params.INFMETH,
               params.INFINVS, sea_depth);
    else
        seteqn1(model, su, model.header.symmetry, model.n_sheets, model.n_panels, ispline, params.INFMETH,
                params.INFBND, params.INFINVS, sea_depth);

    // 20-21. Basis flow, with the bottom images counted from the depth.
    announce("Solving for the base-flow...");
    progress("solving the basis flow");
    if (count_images) io.write_line(kListingUnit, list_directed("n_kernel", n_kernel));
    ProgressReporter basis_flow("solving the basis flow");
    basis_flow.announce();
    basefl(model, kListingUnit, journal, model.header.symmetry, model.n_sheets, model.n_panels,
           model.link_record_count, model.n_interior_body, params.IFLUX_DB, params.NPANFLUX, params.KPANFLUX,
           params.IPANFLUX, params.JPANFLUX, params.FPANFLUX, params.INFNMR, n_kernel, sea_depth, params.IFSBC,
           kModeCount);
    basis_flow.finish();

    // 23. One B-spline filter per free-surface sheet.
    if (params.B_FILTER) {
        progress("building the free-surface filters");
        const float t0 = cpu_seconds();
        std::vector<std::string> names;
        BsplineFilter filter;
        int k = 0;
        for (int s = 0; s < model.n_sheets; ++s) {
            if (model.kp[s] != kSheetKindFreeSurface) continue;
            ++k;
            const int unit = io.free_unit();
            // k + 4 as two digits with a leading zero: 05, 06, ...
            const std::string digits = (k + 4 < 10 ? "0" : "") + std::to_string(k + 4);
            const std::string name = trimmed(params.FILEJOU) + ".jou" + digits;
            create_bspline_filter_2D(kListingUnit, params.H1, params.H2, model.np1[s], model.np2[s], -0.001f, filter);
            write_bspline_filter_2D(kListingUnit, unit, fixed_text(name, 200), filter);
            names.push_back(name);
        }
        write_filter_list(kJou2Unit, names);
        io.write_line(kListingUnit, list_directed("Cpu time used for creating b-spline filter", cpu_seconds() - t0));
    }

    // 24-25. Close the journals and finish.
    close_journal_files();
    units().commit_pending();   // only now do the journal and filter files take their names
    announce("Setup completed successfully.");
    io.write_line(kListingUnit, list_directed("FINISHED: SUCCESS"));
    progress("FINISHED: SUCCESS");
}

}  // namespace torva
