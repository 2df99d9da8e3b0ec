// Malformed and awkward mesh files (tests/corpus/mesh): each goes through the driver's mesh
// sequence in-process (sizing pass, allocation, one-file reader, classification) and through
// the whole program, and must end as tests/corpus/mesh/expected.tsv says: read, or stopped
// with the listed lines.  A small valid mesh is also cut at every byte.
#include <gtest/gtest.h>

#include <sstream>

#include "frame/run_stop.hpp"
#include "mesh/mesh_fault.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

const std::filesystem::path kDir = corpus_dir("mesh");

struct Outcome {
    bool stopped = false;
    RunStopped stop;
    PanelModel model;
};

// The driver's steps 9 to 14 on in-memory text (ALENGTH 1, no mirroring).
std::unique_ptr<Outcome> read_mesh(const std::string& bytes, const std::string& name)
{
    auto out = std::make_unique<Outcome>();
    try {
        std::istringstream sizing(bytes);
        const MeshSizes sizes = size_mesh(sizing, name, nullptr, "");
        allocate_panel_model(out->model, sizes.n_panels, sizes.n_sheets, false);
        std::istringstream reading(bytes);
        if (read_mesh_one_file(reading, name, 1.0f, out->model) != 0)
            stop_run({"ERROR: Too many spline sheets."});
        classify_panels(out->model);
    } catch (const RunStopped& stop) {
        out->stopped = true;
        out->stop = stop;
    } catch (const MeshFault& fault) {
        out->stopped = true;
        out->stop.lines = fault.lines;
    }
    return out;
}

std::string check_model(const PanelModel& m, const std::string& assignment)
{
    const std::size_t eq = assignment.find('=');
    const std::string what = assignment.substr(0, eq);
    const long want = std::stol(assignment.substr(eq + 1));
    long got = -1;
    if (what == "sheets") got = m.n_sheets;
    else if (what == "panels") got = m.n_panels;
    else if (what == "interior_body") got = m.n_interior_body;
    else if (what == "links") got = m.link_record_count;
    else if (what == "title_length") got = static_cast<long>(m.header.title.size());
    else return "unknown check " + what;
    return got == want ? "" : what + " is " + std::to_string(got) + ", not " + std::to_string(want);
}

TEST(mesh_corpus, table_names_every_file_of_the_folder_once)
{
    std::vector<std::string> listed;
    for (const auto& c : corpus_cases("mesh")) listed.push_back(c.input);
    expect_table_names_every_file_once("mesh", listed);
}

TEST(mesh_corpus, reader_reads_or_stops_each_mesh_as_the_table_says)
{
    for (const auto& c : corpus_cases("mesh")) {
        SCOPED_TRACE(c.input);
        const auto out = read_mesh(read_bytes(kDir / c.input), c.input);
        if (c.result == "ok") {
            ASSERT_FALSE(out->stopped) << show(out->stop.lines);
            for (const auto& check : split(c.detail, ";")) EXPECT_EQ(check_model(out->model, check), "");
            continue;
        }
        ASSERT_TRUE(out->stopped) << "the mesh was read";
        const std::vector<std::string> wanted = split(c.lines, " | ");
        ASSERT_EQ(out->stop.lines.size(), wanted.size()) << show(out->stop.lines);
        for (std::size_t k = 0; k < wanted.size(); ++k)
            EXPECT_TRUE(matches(wanted[k], out->stop.lines[k])) << "got:      " << out->stop.lines[k]
                                                                << "\nexpected: " << wanted[k];
        // A stop of the mesh reader goes to the listing; only the 3 x 3 solver writes elsewhere
        // (unit 123), and the table says so with "output".
        EXPECT_EQ(out->stop.unit == kListingUnit, c.where == "listing") << "unit " << out->stop.unit;
        EXPECT_EQ(out->stop.status, 0);
    }
}

TEST(mesh_corpus, mesh_cut_at_any_byte_is_read_or_stops_at_a_record_of_the_file)
{
    // valid_cube.ssg: 66 records, no link section.  Cut right after record r (r < 66), the
    // file must stop at record r + 1 with "the file ends here"; cut inside a record it may
    // still read (a shortened last number is a number) but must never crash, and any stop
    // names this file and a record no further than one past its last.
    const std::string bytes = read_bytes(kDir / "valid_cube.ssg");
    ASSERT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 66);
    int records = 0;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const std::string prefix = bytes.substr(0, cut);
        const auto out = read_mesh(prefix, "cut.ssg");
        const bool at_record_end = cut > 0 && bytes[cut - 1] == '\n';
        if (at_record_end) ++records;
        if (!out->stopped) {
            EXPECT_FALSE(at_record_end || cut == 0) << "cut after record " << records << " was read";
            continue;
        }
        ASSERT_EQ(out->stop.lines.size(), 1u) << show(out->stop.lines);
        const std::string& line = out->stop.lines[0];
        const std::string head = "ERROR: Mesh file \"cut.ssg\", record ";
        ASSERT_EQ(line.rfind(head, 0), 0u) << line;
        const int record = std::stoi(line.substr(head.size()));
        const int present = records + (at_record_end || cut == 0 ? 0 : 1);
        EXPECT_GE(record, 1) << line;
        EXPECT_LE(record, present + 1) << line;
        if (at_record_end || cut == 0) {
            EXPECT_EQ(record, records + 1) << line;
            EXPECT_NE(line.find("the file ends here"), std::string::npos) << line;
        }
    }
}

TEST(mesh_corpus, whole_program_reports_each_mesh_where_the_table_says)
{
    for (const auto& c : corpus_cases("mesh")) {
        SCOPED_TRACE(c.input);
        TempDir dir("meshcorpus");
        std::filesystem::copy_file(kDir / c.input, dir.path() / c.input);
        write_text(dir.file("mesh.inp"), "&TORVA_INP\n FILE_SSG = '" + c.input + "'\n FILEJOU = 'j'\n/\n");
        const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=mesh");
        EXPECT_EQ(run.exit_code, 0) << run.output;
        const std::vector<std::string> lines =
            c.where == "listing" ? lines_of(read_bytes(dir.file("mesh.LIS"))) : lines_of(run.output);
        EXPECT_EQ(find_consecutive(split(c.lines, " | "), lines), "") << c.where << ":\n" << show(lines);
    }
}

}  // namespace
}  // namespace torva
