// The corpus of malformed inputs (run-parameter files, meshes, command lines): each is read
// in-process by the part that judges it, and by the whole program, whose listing must end in
// "FINISHED: SUCCESS" or in an "ERROR:" line giving the reason.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>

#include "frame/run_stop.hpp"
#include "input/namelist_reader.hpp"
#include "mesh/mesh_fault.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"
#include "reliability/corpus.hpp"

namespace torva {
namespace {

using namespace torva::testing;

// "KEY=v1 v2 ..." against the record: texts trimmed, reals as the nearest float of the
// decimal text (strtof rounds correctly, and so must the reader), logicals T/F.
std::string check_value(const RunParameters& params, const std::string& assignment)
{
    const std::size_t eq = assignment.find('=');
    const std::string key = trim(assignment.substr(0, eq)), want = assignment.substr(eq + 1);
    const auto index = find_key(key);
    if (!index) return "no key " + key;
    const ConstKeySlot slot = key_slots(params)[*index];
    if (kTorvaInpKeys[*index].kind == ValueKind::Text)
        return trim(slot.texts[0]) == want ? "" : key + " is '" + trim(slot.texts[0]) + "', not '" + want + "'";
    std::istringstream values(want);
    std::size_t e = 0;
    for (std::string v; values >> v; ++e) {
        const ValueKind kind = kTorvaInpKeys[*index].kind;
        const bool same = kind == ValueKind::Integer ? slot.integers[e] == std::stoi(v)
                          : kind == ValueKind::Real  ? slot.reals[e] == std::strtof(v.c_str(), nullptr)
                                                     : (slot.logicals[e] ? "T" : "F") == v;
        if (!same) return key + " element " + std::to_string(e + 1) + " is not " + v;
    }
    return "";
}

// The driver's mesh steps on in-memory text (ALENGTH 1, no mirroring).
struct MeshOutcome {
    bool stopped = false;
    RunStopped stop;
    PanelModel model;
};
std::unique_ptr<MeshOutcome> read_mesh(const std::string& bytes, const std::string& name)
{
    auto out = std::make_unique<MeshOutcome>();
    try {
        std::istringstream sizing(bytes), reading(bytes);
        const MeshSizes sizes = size_mesh(sizing, name, nullptr, "");
        allocate_panel_model(out->model, sizes.n_panels, sizes.n_sheets, false);
        if (read_mesh_one_file(reading, name, 1.0f, out->model) != 0) stop_run({"ERROR: Too many spline sheets."});
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
    const long got = what == "sheets" ? m.n_sheets : what == "panels" ? m.n_panels
                   : what == "interior_body" ? m.n_interior_body : what == "links" ? m.link_record_count
                   : what == "title_length" ? static_cast<long>(m.header.title.size()) : -1;
    return got == want ? "" : what + " is " + std::to_string(got) + ", not " + std::to_string(want);
}

// A command-line case: its .args file (arguments one a line), INPUT, messages and run columns.
std::vector<std::vector<std::string>> command_cases()
{ return read_table(corpus_dir("command_line") / "expected.tsv", 4); }
std::string check_messages(const std::string& messages, const std::vector<std::string>& lines)
{
    std::vector<std::string> got;
    for (const auto& l : lines)
        if (l.rfind("Cmd.Line:", 0) == 0) got.push_back(l);
    if (messages == "?") return "";
    if (messages == "-") return got.empty() ? "" : "unexpected messages:\n" + show(got);
    return find_in_order(split(messages, " | "), got);
}

// A run's listing ends in success or in the reason it stopped.
std::string check_last_line(const std::vector<std::string>& listing)
{
    if (listing.empty()) return "empty listing";
    const std::string last = trim(listing.back());
    return last == "FINISHED: SUCCESS" || last.rfind("ERROR:", 0) == 0 ? "" : "listing ends in:\n" + show(listing);
}

TEST(corpus, namelist_reader_accepts_or_locates_each_fault_as_the_table_says)
{
    for (const auto& c : corpus_cases("namelist")) {
        SCOPED_TRACE(c.input);
        std::istringstream in(read_bytes(corpus_dir("namelist") / c.input));
        const auto params = std::make_unique<RunParameters>();
        const NamelistStatus status = read_torva_inp(in, *params);
        if (c.result == "ok") {
            ASSERT_TRUE(status.ok()) << "line " << status.line << ": " << status.message;
            for (const auto& assignment : split(expand_repeats(c.detail), ";")) EXPECT_EQ(check_value(*params, assignment), "");
            continue;
        }
        ASSERT_FALSE(status.ok()) << "the reader accepted it";
        const NamelistFailure failure = c.result == "no_group"         ? NamelistFailure::no_group
                                        : c.result == "unclosed_group" ? NamelistFailure::unclosed_group
                                                                       : NamelistFailure::bad_input;
        EXPECT_EQ(status.failure, failure) << status.message;
        if (failure == NamelistFailure::bad_input) {
            EXPECT_EQ(status.fault_line, std::stoi(c.result)) << status.message;
        }
        EXPECT_TRUE(matches(c.detail, status.message)) << "message: " << status.message;
    }
}

TEST(corpus, mesh_reader_reads_or_stops_each_mesh_as_the_table_says)
{
    for (const auto& c : corpus_cases("mesh")) {
        SCOPED_TRACE(c.input);
        const auto out = read_mesh(read_bytes(corpus_dir("mesh") / c.input), c.input);
        if (c.result == "ok") {
            ASSERT_FALSE(out->stopped) << show(out->stop.lines);
            for (const auto& check : split(c.detail, ";")) EXPECT_EQ(check_model(out->model, check), "");
            continue;
        }
        EXPECT_TRUE(out->stopped) << "the mesh was read";   // its message: the whole run below
    }
}

TEST(corpus, mesh_cut_at_any_byte_is_read_or_stops_at_a_record_of_the_file)
{
    // Cut right after record r, the cube must stop at record r + 1 with "the file ends here";
    // cut inside a record it may still read (a shortened number is a number), and any stop
    // names a record no further than one past the last one present.
    const std::string bytes = read_bytes(corpus_dir("mesh") / "valid_cube.ssg");
    int records = 0;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const auto out = read_mesh(bytes.substr(0, cut), "cut.ssg");
        const bool at_record_end = cut == 0 || bytes[cut - 1] == '\n';
        if (cut > 0 && at_record_end) ++records;
        if (!out->stopped) {
            EXPECT_FALSE(at_record_end) << "cut after record " << records << " was read";
            continue;
        }
        const std::string& line = out->stop.lines.at(0);
        const std::string head = "ERROR: Mesh file \"cut.ssg\", record ";
        ASSERT_EQ(line.rfind(head, 0), 0u) << line;
        const int record = std::stoi(line.substr(head.size()));
        EXPECT_LE(record, records + 2) << line;
        if (at_record_end) {
            EXPECT_EQ(record, records + 1) << line;
        }
    }
}

TEST(corpus, whole_program_ends_each_input_as_its_table_says)
{
    // Run-parameter files: the listing, the log or the output must hold the table's lines.
    for (const auto& c : corpus_cases("namelist")) {
        SCOPED_TRACE(c.input);
        TempDir dir("nmlcorpus");
        std::filesystem::copy_file(corpus_dir("namelist") / c.input, dir.path() / c.input);
        const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=" + shell_quote(c.input));
        EXPECT_EQ(run.exit_code, 0) << run.output;
        const auto listing = lines_of(read_bytes(dir.file(c.input + ".LIS")));
        EXPECT_EQ(check_last_line(listing), "");
        const auto lines = c.where == "log" ? lines_of(read_bytes(dir.file("setup_nml.log"))) : listing;
        std::vector<std::string> wanted = split(expand_repeats(c.lines), " | ");
        if (c.where == "log" && c.result != "ok") wanted.insert(wanted.begin(), "[get_namelist]");
        EXPECT_EQ(find_consecutive(wanted, lines), "") << c.where << ":\n" << show(lines);
        EXPECT_EQ(read_bytes(dir.path() / c.input), read_bytes(corpus_dir("namelist") / c.input));   // never changed
        EXPECT_EQ(std::filesystem::exists(dir.file("setup_nml.log2")), c.result == "ok");   // the echo of a read deck
    }
    // Mesh files: a stop's reason is the listing's last line.
    for (const auto& c : corpus_cases("mesh")) {
        SCOPED_TRACE(c.input);
        TempDir dir("meshcorpus");
        std::filesystem::copy_file(corpus_dir("mesh") / c.input, dir.path() / c.input);
        write_text(dir.file("mesh.inp"), "&TORVA_INP\n FILE_SSG = '" + c.input + "'\n FILEJOU = 'j'\n/\n");
        const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=mesh");
        EXPECT_EQ(run.exit_code, 0) << run.output;
        const auto listing = lines_of(read_bytes(dir.file("mesh.LIS")));
        EXPECT_EQ(check_last_line(listing), "");
        EXPECT_TRUE(c.result == "ok" ? find_in_order({c.lines}, listing).empty() : matches(c.lines, trim(listing.back())))
            << show(listing);
    }
    // Command lines: the run reads the deck the INPUT option names, or refuses the name with
    // status 1 and leaves the directory as it found it.
    const std::string deck = "&TORVA_INP\n FILE_SSG = 'nosuch.ssg'\n FILEJOU = 'j'\n/\n";
    for (const auto& c : command_cases()) {
        SCOPED_TRACE(c[0]);
        TempDir dir("cmdcorpus");
        std::set<std::string> before;
        for (const auto& e : std::filesystem::directory_iterator(corpus_dir("command_line")))
            if (e.path().extension() == ".txt") {
                std::filesystem::copy_file(e.path(), dir.path() / e.path().filename());
                before.insert(e.path().filename().string());
            }
        std::string tail;
        for (const auto& a : lines_of(read_bytes(corpus_dir("command_line") / c[0]))) tail += " " + shell_quote(a);
        if (c[3] == "stop") {
            const FortranRun run = run_in(dir, built_program("torva_setup"), tail);
            EXPECT_EQ(run.exit_code, 1) << run.output;
            EXPECT_EQ(find_in_order({"*ERROR:*longer than*"}, lines_of(run.output)), "") << run.output;
            std::set<std::string> after;
            for (const auto& e : std::filesystem::directory_iterator(dir.path())) after.insert(e.path().filename().string());
            EXPECT_EQ(after, before);
            continue;
        }
        const std::string name = expand_repeats(c[3].substr(8));
        std::filesystem::create_directories((dir.path() / name).parent_path());
        write_text(dir.file(name), deck);
        const FortranRun run = run_in(dir, built_program("torva_setup"), tail);
        EXPECT_EQ(run.exit_code, 0) << run.output;
        const auto listing = lines_of(read_bytes(dir.file(name + ".LIS")));
        EXPECT_EQ(find_consecutive({"ERROR: Unable to open mesh ssg file", "nosuch.ssg"}, listing), "") << run.output;
        EXPECT_EQ(check_messages(c[2], lines_of(run.output)), "");
    }
}

}  // namespace
}  // namespace torva
