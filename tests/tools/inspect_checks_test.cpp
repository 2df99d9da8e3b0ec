// The checks before a run, end to end with the built programs (the estimate's bytes against a
// real run's files are checked with the runs of torva_inspect_test.cpp):
//   - torva-inspect --check-mesh on the example (passes) and on its hull turned inside out
//     (fails, naming the sheet), and torva_setup's warning for that hull;
//   - the stop when the journal files cannot fit: through the free-space seam in process,
//     and on a real 256 KiB tmpfs where the system allows a private mount.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../../tools/mesh_shapes.hpp"
#include "driver/pre_run_checks.hpp"
#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"
#include "frame/units.hpp"
#include "support/panel_models.hpp"
#include "support/run_program.hpp"

namespace {

namespace fs = std::filesystem;
namespace mt = torva::mesh_tool;
using namespace torva::testing;

void copy_example(const TempDir& dir)
{
    for (const char* name : {"wigley.inp", "wigley_hull.ssg", "wigley_fs.ssg"})
        fs::copy_file(std::string(TORVA_SOURCE_DIR) + "/examples/wigley/" + name, dir.file(name));
}

// The example's hull with its node order reversed along the first direction.
void write_reversed_hull(const std::string& name)
{
    const mt::Sheet hull = mt::wigley_hull({2.0, 0.2, 0.125, 32, 10, true}, true)[0];
    const mt::Sheet turned = mt::make_sheet(hull.np1, hull.np2, hull.kind, [&](int a, int b) { return hull.node(hull.np1 - a, b); });
    std::ofstream out(name);
    mt::write_mesh(out, {"Wigley hull inside out", 1}, {turned}, mt::Layout::version2);
}

TEST(inspect_checks, check_mesh_passes_the_example_and_fails_a_hull_inside_out)
{
    TempDir dir("check_mesh");
    copy_example(dir);
    write_reversed_hull(dir.file("inside_out.ssg"));
    const struct {
        std::string args;
        int exit_code;
        std::string expected;
    } cases[] = {
        {"--check-mesh wigley", 0, "mesh checks passed"},
        {"--check-mesh --ssg wigley_hull.ssg --fs wigley_fs.ssg", 0, "waterline: 35 hull nodes, 33 free-surface edge nodes, largest gap 0 "},
        {"--check-mesh --ssg inside_out.ssg --fs wigley_fs.ssg", 1, "FAIL sheet 1 (kind 2) gives a negative displacement"},
        {"--check-mesh --ssg missing.ssg", 2, "cannot open the mesh file missing.ssg"},
        {"--check-mesh --fs wigley_fs.ssg", 2, "--fs needs --ssg"},
    };
    for (const auto& c : cases) {
        const FortranRun r = run_in(dir, built_program("torva-inspect"), c.args);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << c.args << "\n" << r.output;
    }

    // The setup itself warns and goes on.
    write_text(dir.file("inside_out.inp"),
               "&TORVA_INP\n FILE_SSG = 'inside_out.ssg'\n FILE_FS = '0'\n FILEJOU = 'inside_out'\n/\n");
    const FortranRun setup = run_in(dir, built_program("torva_setup"), "/INPUT=inside_out");
    const std::string warning = "WARNING: sheet 1 (kind 2) gives a negative displacement";
    EXPECT_NE(setup.output.find("torva_setup: " + warning), std::string::npos) << setup.output;
    const std::string listing = read_text(dir.file("inside_out.LIS"));
    EXPECT_NE(listing.find("\n " + warning), std::string::npos) << listing;
    EXPECT_NE(listing.find("FINISHED: SUCCESS"), std::string::npos) << listing;
}

TEST(inspect_checks, journals_that_cannot_fit_stop_the_run_before_any_is_written)
{
    // In process, with the free space given: the stop and its message.
    TempDir dir("no_room");
    torva::PanelModel model = torva::testing::panel_model_from(mt::wigley_hull({2.0, 0.2, 0.125, 8, 4, true}, true), 1);
    torva::RunParameters params;
    params.FILEJOU = torva::fixed_text(dir.file("ship"), 200);
    torva::UnitTable& io = torva::units();
    torva::OpenOptions replace;
    replace.status = "REPLACE";
    const int unit = io.free_unit();
    ASSERT_EQ(io.open(unit, dir.file("ship.LIS"), replace), torva::kIostatOk);
    std::string stopped;
    try {
        torva::report_run_estimate(unit, model, params, [](const std::string&) { return std::int64_t{1000}; });
    } catch (const torva::RunStopped& stop) {
        stopped = stop.lines.at(0);
    }
    io.close(unit);
    EXPECT_TRUE(stopped.starts_with("ERROR: The journal and filter files need ")) << stopped;
    EXPECT_NE(stopped.find("has 1,000 bytes free"), std::string::npos) << stopped;
    EXPECT_NE(read_text(dir.file("ship.LIS")).find(stopped), std::string::npos);

    // On a real file system of 256 KiB (the example's files take 14.6 MiB).  The mount lives
    // in a private namespace and goes with it, so what it holds is listed from inside.
    fs::create_directory(dir.file("small"));
    const std::string mount = "unshare -rm sh -c 'mount -t tmpfs -o size=256k tmpfs " + dir.file("small");
    if (run_command(mount + "'").exit_code != 0) GTEST_SKIP() << "no private tmpfs mounts here (unshare -rm, mount)";
    copy_example(dir);
    std::string inp = read_text(dir.file("wigley.inp"));
    inp.replace(inp.find("FILEJOU = 'wigley'"), 18, "FILEJOU = 'small/wigley'");
    write_text(dir.file("wigley.inp"), inp);
    const FortranRun r = run_command("cd " + shell_quote(dir.path().string()) + " && " + mount + " && " +
                                     built_program("torva_setup") + " /INPUT=wigley; ls -A small'");
    const std::string listing = read_text(dir.file("wigley.LIS"));
    EXPECT_NE(listing.find(" ERROR: The journal and filter files need 15,354,616 bytes (14.6 MiB) but the file system "
                           "of small has 262,144 bytes (256.0 KiB) free"),
              std::string::npos)
        << listing << r.output;
    EXPECT_EQ(r.output.find("wigley.jou"), std::string::npos) << r.output;   // ls found no journal
    EXPECT_EQ(listing.find("Setting up the boundary integral equation"), std::string::npos);
}

}  // namespace
