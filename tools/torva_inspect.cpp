// torva-inspect: checks what a finished torva_setup run left behind, prints a summary, and
// exports the panels with the basis flow for ParaView; before a run, checks its meshes and
// estimates what it will need.
//
//     torva-inspect [--dir DIR] [--vtk FILE] [--quiet] [INPUT]
//     torva-inspect --check-mesh [--dir DIR] [INPUT]  |  --check-mesh --ssg FILE [--fs FILE]
//     torva-inspect --estimate [--dir DIR] [INPUT]
//
// INPUT is the run-parameter file as it was given to torva_setup /INPUT= (default "setup");
// it is opened as named, else with ".inp", and the listing is INPUT.LIS, as the setup names
// them.  The meshes are read again with the setup's own readers, and from the mesh and the
// run parameters the layout of every journal and filter file is worked out
// (inspect_journal.hpp) and compared with a scan of the files' record framing
// (inspect_records.hpp).  The basis-flow record of .jou3 is read back and its values
// checked for non-finite numbers.
//
// Exit status: 0 when every check passes and the listing ends with "FINISHED: SUCCESS";
// 1 when a check fails; 2 when the run cannot be read (bad arguments, no run-parameter
// file, a mesh the setup's readers reject, an output file that cannot be written).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "input/namelist_reader.hpp"
#include "input/run_parameters.hpp"
#include "driver/run_estimate.hpp"
#include "frame/threads.hpp"
#include "mesh/mesh_checks.hpp"
#include "mesh/mesh_fault.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"

#include "inspect_journal.hpp"
#include "inspect_listing.hpp"
#include "inspect_records.hpp"
#include "inspect_vtk.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torva;
using namespace torva::inspect;

constexpr int kExitOk = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitCannotRead = 2;

enum class Mode { finished_run, check_mesh, estimate };

struct Arguments {
    Mode mode = Mode::finished_run;
    std::string dir = ".";
    std::string input = "setup";
    bool input_given = false;
    std::string vtk;
    std::string ssg, fs;   // mesh files given directly to --check-mesh
    bool quiet = false;
};

void print_help(std::ostream& o)
{
    o << "usage: torva-inspect [--dir DIR] [--vtk FILE] [--quiet] [INPUT]\n"
         "       torva-inspect --check-mesh [--dir DIR] [INPUT]\n"
         "       torva-inspect --check-mesh --ssg FILE [--fs FILE]\n"
         "       torva-inspect --estimate [--dir DIR] [INPUT]\n"
         "       torva-inspect --help\n"
         "\n"
         "Checks a finished torva_setup run in DIR (default: the current directory).  INPUT\n"
         "is the run-parameter file as given to torva_setup /INPUT= (default: setup; opened\n"
         "as named, else INPUT.inp); the listing is INPUT.LIS.\n"
         "\n"
         "The meshes are read again, and from them and the run parameters the record layout\n"
         "of every journal file (.jou1 .jou1a .jou2 .jou3 .jou4) and filter file (.jou05 ...)\n"
         "is worked out and compared with the files' framing.  A summary follows: sheets,\n"
         "panel count N, records and sizes, the basis flow's ranges, the listing's timings.\n"
         "\n"
         "  --vtk FILE   export the interior panels for ParaView: FILE.vtu as XML, FILE.vtk\n"
         "               as legacy ASCII.  Cell data: panel, sheet, kind, flag, normal, area,\n"
         "               and phi u v w ux vy weight velocity from .jou3.  Lengths are the\n"
         "               mesh's divided by ALENGTH, as the setup works with them.  A half\n"
         "               hull (symmetry 1) is exported as modelled: ParaView's Reflect filter\n"
         "               about y = 0 shows the whole hull.\n"
         "  --quiet      print only what fails\n"
         "\n"
         "Before a run:\n"
         "  --check-mesh checks the meshes of INPUT (FILE_SSG and FILE_FS), or the files given\n"
         "               by --ssg (body) and --fs (free surface): FAIL for a body sheet turned\n"
         "               inside out (its body's displacement negative, or against the sheets\n"
         "               it joins), a free surface that does not meet the hull along the\n"
         "               waterline (the gap and where), degenerate panels, sheets that\n"
         "               overlap; WARN for panels of aspect ratio above\n"
         "               25 or skewed more than 60 degrees.  Prints a panel-quality table and\n"
         "               the five worst panels by area, aspect ratio and skew.  Lengths are\n"
         "               the mesh files' own (ALENGTH is not applied).\n"
         "  --estimate   prints what the run of INPUT will need: N, the peak memory, the\n"
         "               bytes of every journal and filter file (exact), the free space of\n"
         "               the file system they go to, and a time from a short calibration on\n"
         "               this machine (an idle machine's time; writing the files not counted).\n"
         "\n"
         "Exit status: 0 all checks pass and the run finished (--check-mesh: no FAIL;\n"
         "--estimate: the files fit); 1 a check failed (--check-mesh: a FAIL; --estimate: the\n"
         "files do not fit in the free space); 2 the run or the meshes could not be read.\n";
}

// Returns the exit status to end with now, or -1 to go on.
int parse_arguments(int argc, char** argv, Arguments& args)
{
    bool input_seen = false;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        auto value = [&](const char* option) -> const char* {
            if (k + 1 >= argc) {
                std::cerr << "torva-inspect: " << option << " needs a value\n";
                return nullptr;
            }
            return argv[++k];
        };
        if (a == "--help" || a == "-h") {
            print_help(std::cout);
            return kExitOk;
        } else if (a == "--dir") {
            const char* v = value("--dir");
            if (!v) return kExitCannotRead;
            args.dir = v;
        } else if (a == "--vtk") {
            const char* v = value("--vtk");
            if (!v) return kExitCannotRead;
            args.vtk = v;
        } else if (a == "--quiet") {
            args.quiet = true;
        } else if (a == "--check-mesh" || a == "--estimate") {
            const Mode mode = a == "--check-mesh" ? Mode::check_mesh : Mode::estimate;
            if (args.mode != Mode::finished_run && args.mode != mode) {
                std::cerr << "torva-inspect: --check-mesh and --estimate go one at a time\n";
                return kExitCannotRead;
            }
            args.mode = mode;
        } else if (a == "--ssg" || a == "--fs") {
            const char* v = value(a.c_str());
            if (!v) return kExitCannotRead;
            (a == "--ssg" ? args.ssg : args.fs) = v;
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "torva-inspect: unknown option " << a << " (see --help)\n";
            return kExitCannotRead;
        } else if (input_seen) {
            std::cerr << "torva-inspect: more than one INPUT given: " << args.input << ", " << a << '\n';
            return kExitCannotRead;
        } else {
            args.input = a;
            input_seen = true;
            args.input_given = true;
        }
    }
    if ((!args.ssg.empty() || !args.fs.empty()) && args.mode != Mode::check_mesh) {
        std::cerr << "torva-inspect: --ssg and --fs go with --check-mesh\n";
        return kExitCannotRead;
    }
    if (!args.fs.empty() && args.ssg.empty()) {
        std::cerr << "torva-inspect: --fs needs --ssg (the body mesh) too\n";
        return kExitCannotRead;
    }
    if (!args.ssg.empty() && args.input_given) {
        std::cerr << "torva-inspect: give either INPUT or --ssg, not both\n";
        return kExitCannotRead;
    }
    if (!args.vtk.empty() && args.mode != Mode::finished_run) {
        std::cerr << "torva-inspect: --vtk goes with the check of a finished run\n";
        return kExitCannotRead;
    }
    if (!args.vtk.empty()) {
        const std::string ext = fs::path(args.vtk).extension().string();
        if (ext != ".vtk" && ext != ".vtu") {
            std::cerr << "torva-inspect: --vtk " << args.vtk << ": the name must end in .vtu (XML) or .vtk (legacy)\n";
            return kExitCannotRead;
        }
    }
    return -1;
}

// The run-parameter file, opened as the setup opens it: as named, else with ".inp".
bool read_parameters(const std::string& input, RunParameters& params, std::string& used_name)
{
    std::ifstream in(input);
    used_name = input;
    if (!in) {
        in.clear();
        in.open(input + ".inp");
        used_name = input + ".inp";
    }
    if (!in) {
        std::cerr << "torva-inspect: cannot open the run-parameter file " << input << " (nor " << input << ".inp)\n";
        return false;
    }
    const NamelistStatus status = read_torva_inp(in, params);
    if (!status.ok()) {
        std::cerr << "torva-inspect: " << used_name << " line " << status.line << ": " << status.message << '\n';
        return false;
    }
    derive_run_parameters(params);
    return true;
}

// The mesh, read by the setup's readers as the setup reads it (not mirrored: the journal
// files describe the modelled half).
bool read_model(const RunParameters& params, PanelModel& model)
{
    UnitTable& io = units();
    const std::string file_ssg = trimmed(params.FILE_SSG);
    const std::string file_fs = trimmed(params.FILE_FS);
    OpenOptions old_text;
    old_text.status = "OLD";
    try {
        if (io.open(kMeshUnit, file_ssg, old_text) != kIostatOk) {
            std::cerr << "torva-inspect: cannot open the mesh file FILE_SSG = " << file_ssg << '\n';
            return false;
        }
        const MeshSizes sizes = size_mesh(kMeshUnit, file_fs);
        io.close(kMeshUnit);
        allocate_panel_model(model, std::max(sizes.n_panels, 0), sizes.n_sheets, false);
        int status = 0;
        if (file_fs == kNoSecondMeshFile) {
            if (io.open(kMeshUnit, file_ssg, old_text) != kIostatOk) {
                std::cerr << "torva-inspect: cannot open the mesh file FILE_SSG = " << file_ssg << '\n';
                return false;
            }
            status = read_mesh_one_file(kMeshUnit, params.ALENGTH, model);
        } else {
            status = read_mesh_two_files(kMeshUnit, file_ssg, file_fs, params.ALENGTH, model);
        }
        if (status != 0) {
            std::cerr << "torva-inspect: the mesh has more sheets than its header counted\n";
            return false;
        }
        classify_panels(model);
    } catch (const MeshFault& fault) {
        for (const std::string& line : fault.lines) std::cerr << line << '\n';
        std::cerr << "torva-inspect: the setup's mesh reader rejects " << file_ssg
                  << (file_fs == kNoSecondMeshFile ? std::string() : " + " + file_fs) << '\n';
        return false;
    } catch (const RunStopped&) {
        // The readers' message is on stderr already.
        std::cerr << "torva-inspect: the setup's mesh reader rejects " << file_ssg
                  << (file_fs == kNoSecondMeshFile ? std::string() : " + " + file_fs) << '\n';
        return false;
    } catch (const IoError& e) {
        std::cerr << "torva-inspect: " << e.what() << '\n';
        return false;
    }
    return true;
}

std::string fixed(double v, int digits)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

// Contents that the framing alone cannot show: the filter list at the end of .jou2 and the
// three integers that open a filter file.
std::string check_contents(const ExpectedFile& file, const RecordScan& scan, std::ifstream& in, const RunFacts& f)
{
    if (file.filter_sheet > 0) {
        std::vector<std::int32_t> head;
        for (std::size_t k = 0; k < 3 && k < scan.head.size(); ++k) {
            const auto bytes = read_record_bytes(in, scan.head[k]);
            if (bytes.size() != 4) return "cannot read record " + std::to_string(k + 1);
            head.push_back(int32_at(bytes, 0));
        }
        const std::int32_t order = f.sheets[static_cast<std::size_t>(file.filter_sheet - 1)].np;
        if (head.size() != 3) return "its first three records are missing";
        if (head[0] != 1) return "storage type " + std::to_string(head[0]) + ", expected 1 (full matrix)";
        if (head[1] != order) return "order " + std::to_string(head[1]) + ", expected NP' = " + std::to_string(order);
        if (static_cast<std::int64_t>(head[2]) != static_cast<std::int64_t>(order) * order)
            return "entry count " + std::to_string(head[2]) + ", expected " + std::to_string(std::int64_t(order) * order);
        return {};
    }
    if (file.name == f.filejou + ".jou2" && f.b_filter && scan.tail.size() == 2) {
        const std::vector<std::string> names = filter_file_names(f);
        const auto count = read_record_bytes(in, scan.tail[0]);
        const auto list = read_record_bytes(in, scan.tail[1]);
        if (count.size() != 4) return "cannot read the number of filter files";
        if (int32_at(count, 0) != static_cast<std::int32_t>(names.size()))
            return "lists " + std::to_string(int32_at(count, 0)) + " filter files, expected " + std::to_string(names.size());
        for (std::size_t k = 0; k < names.size(); ++k) {
            const std::string stored(reinterpret_cast<const char*>(list.data()) + k * kFileNameBytes, kFileNameBytes);
            if (stored != fixed_text(names[k], kFileNameBytes))
                return "filter file name " + std::to_string(k + 1) + " is \"" + trimmed(stored) + "\", expected \"" + names[k] + '"';
        }
    }
    return {};
}

// The basis-flow record of .jou3, read through the setup's unit table; empty when it is not
// there in the expected size.
std::vector<float> read_basis_flow(const std::string& name, int n)
{
    std::vector<float> values;
    UnitTable& io = units();
    const int unit = io.free_unit();
    OpenOptions options;
    options.status = "OLD";
    options.form = FileForm::unformatted;
    options.read_only = true;
    if (io.open(unit, name, options) != kIostatOk) return values;
    try {
        const auto record = io.read_record(unit);
        const std::size_t expected = kBasisFlowValues * static_cast<std::size_t>(n) * sizeof(float);
        if (record && record->size() == expected) {
            values.resize(kBasisFlowValues * static_cast<std::size_t>(n));
            std::memcpy(values.data(), record->data(), expected);
        }
    } catch (const IoError&) {
        values.clear();
    }
    io.close(unit);
    return values;
}

struct Range {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -std::numeric_limits<double>::infinity();
    void add(double v) { lo = std::min(lo, v); hi = std::max(hi, v); }
};

// Ranges of the basis flow over the interior panels; counts non-finite values over all
// panels (ghost panels included: the solver reads them too).
int summarise_basis_flow(const PanelModel& model, const std::vector<float>& flow, bool quiet)
{
    static const char* const kNames[kBasisFlowValues] = {"phi", "u", "v", "w", "ux", "vy", "weight"};
    Range ranges[kBasisFlowValues];
    std::int64_t bad = 0, first_bad = -1;
    for (std::size_t p = 0; p < static_cast<std::size_t>(model.n_panels); ++p) {
        for (std::size_t v = 0; v < kBasisFlowValues; ++v) {
            const float x = flow[kBasisFlowValues * p + v];
            if (!std::isfinite(x)) {
                if (first_bad < 0) first_bad = static_cast<std::int64_t>(p);
                ++bad;
            } else if (model.active[p] == 1) {
                ranges[v].add(x);
            }
        }
    }
    if (!quiet) {
        std::cout << "basis flow (.jou3), interior panels:\n";
        for (std::size_t v = 0; v < kBasisFlowValues; ++v)
            std::cout << "  " << kNames[v] << std::string(8 - std::strlen(kNames[v]), ' ') << fixed(ranges[v].lo, 6)
                      << " .. " << fixed(ranges[v].hi, 6) << '\n';
    }
    if (bad > 0) {
        std::cout << "FAIL .jou3: " << bad << " values are not finite, the first at panel "
                  << to_panel_number(static_cast<int>(first_bad)) << '\n';
        return 1;
    }
    return 0;
}

bool enter_run_directory(const std::string& dir)
{
    std::error_code ec;
    fs::current_path(dir, ec);
    if (ec) std::cerr << "torva-inspect: cannot enter the run directory " << dir << ": " << ec.message() << '\n';
    return !ec;
}

int check_meshes(const Arguments& args)
{
    if (!enter_run_directory(args.dir)) return kExitCannotRead;
    std::string ssg = args.ssg, fs_name = args.fs;
    if (ssg.empty()) {
        RunParameters params;
        std::string parameter_file;
        if (!read_parameters(args.input, params, parameter_file)) return kExitCannotRead;
        ssg = trimmed(params.FILE_SSG);
        fs_name = trimmed(params.FILE_FS);
    }
    PanelModel model;
    try {
        const std::string problem = read_mesh_for_checks(ssg, fs_name, model);
        if (!problem.empty()) {
            std::cerr << "torva-inspect: " << problem << '\n';
            return kExitCannotRead;
        }
    } catch (const RunStopped&) {
        std::cerr << "torva-inspect: the setup's mesh reader rejects " << ssg
                  << (fs_name.empty() || fs_name == kNoSecondMeshFile ? std::string() : " + " + fs_name) << '\n';
        return kExitCannotRead;
    }
    const MeshCheckReport report = check_mesh(model);
    std::cout << "mesh " << ssg << (fs_name.empty() || fs_name == kNoSecondMeshFile ? "" : " + " + fs_name) << " \""
              << trimmed(model.header.title) << "\": " << model.n_sheets << " sheets, N = " << model.n_panels
              << " padded panels, symmetry " << model.header.symmetry << '\n';
    for (const std::string& line : mesh_report_lines(report)) std::cout << line << '\n';
    if (report.failures() > 0) {
        std::cout << report.failures() << " mesh check" << (report.failures() == 1 ? "" : "s") << " failed\n";
        return kExitCheckFailed;
    }
    std::cout << "mesh checks passed";
    if (report.warnings() > 0) std::cout << " (" << report.warnings() << " warnings)";
    std::cout << '\n';
    return kExitOk;
}

int estimate(const Arguments& args)
{
    if (!enter_run_directory(args.dir)) return kExitCannotRead;
    RunParameters params;
    std::string parameter_file;
    if (!read_parameters(args.input, params, parameter_file)) return kExitCannotRead;
    PanelModel model;
    if (!read_model(params, model)) return kExitCannotRead;
    fill_moment_tables(model);
    // Whatever the influence routines would write to the listing goes to stderr here.
    UnitTable& io = units();
    const int messages = io.free_unit();
    OpenOptions old_text;
    old_text.status = "OLD";
    if (io.open(messages, "/dev/stderr", old_text) != kIostatOk) {
        std::cerr << "torva-inspect: cannot write messages to /dev/stderr\n";
        return kExitCannotRead;
    }
    const RunFacts facts = run_facts(model, params);
    const Calibration calibration = calibrate_machine(model, params, messages);
    io.close(messages);
    const RunEstimate e = estimate_run(facts, params.H1, params.H2, team_threads(), calibration);
    const SpaceCheck space = journal_space(e, facts.filejou);
    std::cout << "estimate for " << parameter_file << " in " << fs::current_path().string() << ":\n";
    for (const std::string& line : estimate_lines(e, space, available_memory_bytes())) std::cout << "  " << line << '\n';
    if (!journals_fit(e, space)) {
        std::cout << "FAIL the journal and filter files need " << byte_text(e.peak_file_bytes) << " but " << space.directory
                  << " has " << byte_text(space.free_bytes) << " free\n";
        return kExitCheckFailed;
    }
    return kExitOk;
}

int inspect_run(const Arguments& args)
{
    // Paths the user gave are taken from where the tool was started; the run's own names
    // from the run directory, as the setup took them.
    const fs::path vtk_path = args.vtk.empty() ? fs::path() : fs::absolute(args.vtk);
    std::error_code ec;
    fs::current_path(args.dir, ec);
    if (ec) {
        std::cerr << "torva-inspect: cannot enter the run directory " << args.dir << ": " << ec.message() << '\n';
        return kExitCannotRead;
    }

    RunParameters params;
    std::string parameter_file;
    if (!read_parameters(args.input, params, parameter_file)) return kExitCannotRead;
    PanelModel model;
    if (!read_model(params, model)) return kExitCannotRead;
    const RunFacts facts = run_facts(model, params);
    int failures = 0;

    // The mesh and the options.
    if (!args.quiet) {
        std::cout << "run " << fs::current_path().string() << ", parameters " << parameter_file << '\n'
                  << "mesh \"" << trimmed(model.header.title) << "\": " << model.n_sheets << " sheets, N = " << facts.n
                  << " padded panels, " << interior_panel_count(facts) << " interior, symmetry " << facts.symmetry << '\n'
                  << "  sheet   NP1'  NP2'    NP'  KP  MP  interior\n";
        for (std::size_t s = 0; s < facts.sheets.size(); ++s) {
            const SheetFacts& sh = facts.sheets[s];
            char line[128];
            std::snprintf(line, sizeof line, "  %5zu %6d %5d %6d %3d %3d %9d\n", s + 1, sh.np1, sh.np2, sh.np, sh.kp,
                          sh.mp, sh.active);
            std::cout << line;
        }
        std::cout << "options INFORDER " << facts.inforder << ", INFBND " << facts.infbnd << ", INFINVS " << facts.infinvs
                  << ", IFSBC " << facts.ifsbc << ", B_FILTER " << (facts.b_filter ? "T" : "F") << ", SEA_DEPTH "
                  << fixed(facts.sea_depth, 7) << ", FILEJOU " << facts.filejou << '\n';
        std::cout << "journal and filter files:\n";
    }

    // The files, record by record.
    const std::vector<ExpectedFile> files = expected_files(facts);
    for (const ExpectedFile& file : files) {
        std::ifstream in(file.name, std::ios::binary);
        if (!in) {
            std::cout << "FAIL " << file.name << ": missing (" << file.role << ", "
                      << expected_record_count(file) << " records expected)\n";
            ++failures;
            continue;
        }
        const RecordScan scan = scan_records(in);
        std::string problem = scan.ok() ? compare_layout(file.runs, scan.runs)
                                        : scan.error + " (byte " + std::to_string(scan.error_offset) + ")";
        if (problem.empty()) problem = check_contents(file, scan, in, facts);
        if (!problem.empty()) {
            std::cout << "FAIL " << file.name << ": " << problem << '\n';
            ++failures;
        } else if (!args.quiet) {
            char line[256];
            std::snprintf(line, sizeof line, "  ok %-16s %10s records %15s bytes  %s\n", file.name.c_str(),
                          with_thousands(scan.records).c_str(), with_thousands(scan.file_size).c_str(),
                          file.role.c_str());
            std::cout << line;
        }
    }

    // The basis flow.
    const std::vector<float> flow = read_basis_flow(facts.filejou + ".jou3", facts.n);
    if (!flow.empty()) failures += summarise_basis_flow(model, flow, args.quiet);

    // The listing.
    const std::string listing_name = args.input + ".LIS";
    std::ifstream listing_in(listing_name);
    if (!listing_in) {
        std::cout << "FAIL " << listing_name << ": missing\n";
        ++failures;
    } else {
        const ListingSummary listing = summarise_listing(listing_in);
        if (!args.quiet && !listing.timings.empty()) {
            std::cout << "timings (processor seconds, from " << listing_name << "):\n";
            for (const Timing& t : listing.timings)
                std::cout << "  " << t.label << std::string(t.label.size() < 44 ? 44 - t.label.size() : 1, ' ')
                          << fixed(t.seconds, 6) << '\n';
        }
        for (const std::string& e : listing.errors) std::cout << "listing: " << e << '\n';
        if (!listing.finished) {
            std::cout << "FAIL " << listing_name << ": the run did not finish (no \"FINISHED: SUCCESS\")\n";
            ++failures;
        } else if (!args.quiet) {
            std::cout << "listing " << listing_name << ": FINISHED: SUCCESS\n";
        }
    }

    // The export.
    if (!vtk_path.empty()) {
        const QuadMesh mesh = panel_mesh(model, flow);
        std::ofstream out(vtk_path, std::ios::binary);
        if (out) {
            if (vtk_path.extension() == ".vtu")
                write_vtu(out, mesh);
            else
                write_vtk_legacy(out, mesh);
            out.close();
        }
        if (!out) {
            std::cerr << "torva-inspect: cannot write " << vtk_path.string() << '\n';
            return kExitCannotRead;
        }
        if (!args.quiet)
            std::cout << "wrote " << vtk_path.string() << ": " << mesh.quads.size() << " panels, " << mesh.point_count()
                      << " points" << (flow.empty() ? ", without the basis flow" : "") << '\n';
    }

    if (failures > 0) {
        std::cout << failures << " check" << (failures == 1 ? "" : "s") << " failed\n";
        return kExitCheckFailed;
    }
    if (!args.quiet) std::cout << "all checks passed\n";
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    Arguments args;
    const int parsed = parse_arguments(argc, argv, args);
    if (parsed >= 0) return parsed;
    try {
        if (args.mode == Mode::check_mesh) return check_meshes(args);
        if (args.mode == Mode::estimate) return estimate(args);
        return inspect_run(args);
    } catch (const RunStopped&) {
        return kExitCannotRead;
    } catch (const std::exception& e) {
        std::cerr << "torva-inspect: " << e.what() << '\n';
        return kExitCannotRead;
    }
}
