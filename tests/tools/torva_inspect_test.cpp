// torva-inspect, as a smoke test judged from outside: the record scanner on byte strings framed
// by hand, and the whole tool on runs of the shipped Wigley example written by the built
// torva_setup (two decks through different journal layouts), intact and with one fault at a
// time; the estimate's bytes of every file (in the listing and from --estimate) against the
// files the run wrote; the VTK export is read back by meshio (Debian's python3-meshio), a
// reader that shares nothing with our writer.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "../../tools/inspect_records.hpp"
#include "driver/run_estimate.hpp"
#include "support/run_program.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torva::inspect;
using namespace torva::testing;

// ---- record framing ---------------------------------------------------------------------

// A record's data between its leading and trailing counts (little-endian, as the test machines
// and the files are).
std::string framed(std::int32_t lead, const std::string& data, std::int32_t trail)
{
    char b[8];
    std::memcpy(b, &lead, 4);
    std::memcpy(b + 4, &trail, 4);
    return std::string(b, 4) + data + std::string(b + 4, 4);
}
std::string record(const std::string& data) { return framed(std::int32_t(data.size()), data, std::int32_t(data.size())); }

// "NAME : 1,234 bytes" lines of an estimate, by file name.
std::map<std::string, std::int64_t> predicted_sizes(const std::string& text)
{
    std::map<std::string, std::int64_t> sizes;
    const std::regex line(R"((\S+\.jou\w+) +: ([0-9,]+) bytes)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) {
        std::string digits = (*it)[2];
        std::erase(digits, ',');
        sizes[(*it)[1]] = std::stoll(digits);
    }
    return sizes;
}

// A Python that can import meshio: Debian's own first (pyenv shims may hide its packages).
std::string meshio_python()
{
    for (const char* python : {"/usr/bin/python3", "python3"})
        if (run_command(std::string(python) + " -c 'import meshio'").exit_code == 0) return python;
    return {};
}

// Records "abcd", "", "0123456789" as subrecords 6 + 4 (the first leading count negative: more
// follow; the last trailing count negative: one precedes), then "ABCDEFGH".
TEST(inspect_records, scan_joins_subrecords_and_locates_damaged_frames)
{
    const std::string s = record("abcd") + record("") + framed(-6, "012345", 6) + framed(4, "6789", -4) + record("ABCDEFGH");
    std::istringstream in(s);
    const RecordScan scan = scan_records(in);
    ASSERT_TRUE(scan.ok()) << scan.error;
    EXPECT_EQ(scan.records, 4);
    EXPECT_EQ(scan.file_size, std::int64_t(s.size()));
    ASSERT_EQ(scan.head.size(), 4u);
    EXPECT_EQ(scan.head[0].pieces[0].offset, 4);
    EXPECT_EQ(scan.head[1].pieces[0].offset, 16);   // 4 + 4 + 4 + 4
    EXPECT_EQ(scan.head[2].length, 10);
    EXPECT_EQ(scan.head[2].pieces.size(), 2u);
    const auto joined = read_record_bytes(in, scan.head[2]), last = read_record_bytes(in, scan.head[3]);
    EXPECT_EQ(std::string(joined.begin(), joined.end()), "0123456789");
    EXPECT_EQ(std::string(last.begin(), last.end()), "ABCDEFGH");

    // Record 2's trailing count differs from its leading one; the file ends inside record 2;
    // two stray bytes after the last record.
    const struct {
        std::string bytes;
        std::int64_t offset;
        const char* error;
    } damaged[] = {{record("abcd") + framed(4, "wxyz", 5), 12 + 4 + 4, "record 2"},
                   {record("abcd") + framed(100, "short", 0).substr(0, 9), 12, ""},
                   {record("abcd") + "zz", -1, ""}};
    for (const auto& d : damaged) {
        std::istringstream bad(d.bytes);
        const RecordScan r = scan_records(bad);
        EXPECT_FALSE(r.ok()) << d.bytes.size();
        EXPECT_NE(r.error.find(d.error), std::string::npos) << r.error;
        EXPECT_TRUE(d.offset < 0 || r.error_offset == d.offset) << r.error_offset << ": " << r.error;
    }
}

// The shipped deck (LU factors, deep water) and a variant through the other layouts (the
// inverse-times-B product, the mode records of IFSBC 3), each run by torva_setup: the estimate
// (printed before the work) must give every file's bytes exactly, torva-inspect must pass the
// run as written, and fail it once a file is damaged, naming the file.
TEST(inspect_example, wigley_runs_pass_every_check_and_damage_is_named)
{
    const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/wigley/";
    const std::string shipped = read_text(example + "wigley.inp");
    std::string variant = shipped;
    variant.replace(variant.find(" SEA_DEPTH"), 0, " IFSBC = 3\n INFINVS = -1\n");
    for (const std::string& deck : {shipped, variant}) {
        TempDir dir("inspect_wigley");
        for (const char* f : {"wigley_hull.ssg", "wigley_fs.ssg"}) fs::copy_file(example + f, dir.file(f));
        write_text(dir.file("wigley.inp"), deck);
        const FortranRun run = run_in(dir, built_program("torva_setup"), "/INPUT=wigley.inp");
        ASSERT_EQ(run.exit_code, 0) << run.output;
        const std::string inspect = built_program("torva-inspect");
        std::map<std::string, std::int64_t> written;
        std::int64_t total = 0;
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().filename().string().starts_with("wigley.jou")) {
                written[e.path().filename().string()] = static_cast<std::int64_t>(e.file_size());
                total += static_cast<std::int64_t>(e.file_size());
            }
        EXPECT_EQ(written.size(), 6u);   // .jou1 .jou1a .jou2 .jou3 .jou4 .jou05
        const std::string listing = read_text(dir.file("wigley.inp.LIS"));
        const std::size_t block = listing.find("ESTIMATE BEFORE THE WORK");
        ASSERT_LT(block, listing.find("Setting up the boundary integral equation")) << listing;
        EXPECT_EQ(predicted_sizes(listing.substr(block)), written);
        const FortranRun estimate = run_in(dir, inspect, "--estimate wigley.inp");
        EXPECT_EQ(estimate.exit_code, 0) << estimate.output;
        EXPECT_EQ(predicted_sizes(estimate.output), written) << estimate.output;
        EXPECT_NE(estimate.output.find("Journal and filter files        : " + torva::byte_text(total)), std::string::npos)
            << estimate.output;
        const FortranRun r = run_in(dir, inspect, "wigley.inp --vtk wigley.vtu");
        EXPECT_EQ(r.exit_code, 0) << r.output;
        for (const char* needed : {"ok wigley.jou1 ", "ok wigley.jou1a", "ok wigley.jou2 ", "ok wigley.jou3 ",
                                   "ok wigley.jou4 ", "ok wigley.jou05", "FINISHED: SUCCESS", "all checks passed",
                                   "576 panels, 660 points"})   // 32 x 10 + 32 x 8 panels, 33 x 11 + 33 x 9 nodes
            EXPECT_NE(r.output.find(needed), std::string::npos) << "missing \"" << needed << "\" in\n" << r.output;

        // Two stray bytes after the last record of .jou3, and no .jou1a at all.
        { std::ofstream(dir.file("wigley.jou3"), std::ios::app | std::ios::binary) << "zz"; }
        fs::remove(dir.file("wigley.jou1a"));
        const FortranRun damaged = run_in(dir, inspect, "wigley.inp --quiet");
        EXPECT_EQ(damaged.exit_code, 1) << damaged.output;
        EXPECT_NE(damaged.output.find("FAIL wigley.jou1a: missing"), std::string::npos) << damaged.output;
        EXPECT_NE(damaged.output.find("FAIL wigley.jou3"), std::string::npos) << damaged.output;
    }
    TempDir empty("inspect_empty");
    const FortranRun none = run_in(empty, built_program("torva-inspect"), "plate.inp");
    EXPECT_EQ(none.exit_code, 2) << none.output;
    EXPECT_NE(none.output.find("cannot open the run-parameter file plate.inp"), std::string::npos) << none.output;
}

TEST(inspect_example, vtk_export_reads_back_in_meshio)
{
    const std::string python = meshio_python();
    if (python.empty()) GTEST_SKIP() << "python3-meshio is not installed (scripts/bootstrap.sh installs it)";
    const std::string example = std::string(TORVA_SOURCE_DIR) + "/examples/wigley/";
    TempDir dir("inspect_vtk");
    for (const char* f : {"wigley.inp", "wigley_hull.ssg", "wigley_fs.ssg"}) fs::copy_file(example + f, dir.file(f));
    ASSERT_EQ(run_in(dir, built_program("torva_setup"), "/INPUT=wigley.inp").exit_code, 0);
    for (const char* name : {"wigley.vtu", "wigley.vtk"}) {
        const FortranRun r = run_in(dir, built_program("torva-inspect"), std::string("wigley.inp --vtk ") + name);
        ASSERT_EQ(r.exit_code, 0) << r.output;
        // Quads only; every panel's normal of unit length and along the cell's own diagonal
        // cross product (the point order); finite potentials; without a link section interior
        // body panels weigh 1 and the others 0; the nodes within the hull's bounding box.
        const FortranRun check = run_command(
            python + " -c " +
            shell_quote("import meshio, numpy as np, sys\n"
                        "m = meshio.read(sys.argv[1])\n"
                        "q = m.cells[0].data\n"
                        "d = {k: np.asarray(v[0]).reshape(len(q), -1) for k, v in m.cell_data.items()}\n"
                        "P = m.points[q].astype(float)\n"
                        "c = np.cross(P[:, 2] - P[:, 0], P[:, 3] - P[:, 1])\n"
                        "c /= np.linalg.norm(c, axis=1)[:, None]\n"
                        "assert np.allclose(np.linalg.norm(d['normal'], axis=1), 1, atol=1e-6)\n"
                        "assert np.all(np.sum(c * d['normal'], axis=1) > 1 - 1e-5)\n"
                        "w = d['weight'][:, 0]\n"
                        "print(m.cells[0].type, len(q), len(m.points), bool(np.all(np.isfinite(d['phi']))),\n"
                        "      w.min(), w.max(), int(np.sum(d['kind'][:, 0] == 2)))\n") +
            " " + shell_quote(dir.file(name)));
        EXPECT_EQ(check.exit_code, 0) << name << ":\n" << check.output;
        EXPECT_NE(check.output.find("quad 576 660 True 0.0 1.0 320"), std::string::npos) << name << ":\n" << check.output;
    }
}

}  // namespace
