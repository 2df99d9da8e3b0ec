// The main system's rows, records and stops, on small meshes with influence routines whose
// values are known, so that every entry can be predicted by hand.  gfortran reads the journals
// of a whole run in end_to_end_test.cpp.
#include "equations/seteqn.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <tuple>

#include "equations/basefl.hpp"
#include "frame/run_stop.hpp"
#include "mesh/mesh_text.hpp"
#include "support/memory_output.hpp"

namespace {

using torva::testing::MemoryOutput;
using torva::test::flat_sheet;
using torva::test::sheets_text;
using torva::test::version_header;

using torva::JournalFile;

torva::PanelModel body_sheet(int np1, int np2, int kind = 2, int flag = 1, int symmetry = 0)
{
    torva::PanelModel m;
    const std::string text = version_header("plate", symmetry, 1) +
                             sheets_text({flat_sheet(np1, np2, kind, flag, 0.3, 0.2, 1.0, 1.0, -2.0)});
    EXPECT_EQ(torva::test::load_mesh(m, text, 1.0f), 0);
    torva::fill_moment_tables(m);
    return m;
}

// An influence routine that returns nothing: every interior row then holds its free term only.
const torva::RowInfluence kNoInfluence = [](const std::array<float, 3>&, int, torva::RowInfluenceArrays& a) {
    for (auto* v : {&a.panel_sum, &a.node_sum, &a.panel_diff, &a.node_diff}) std::fill(v->begin(), v->end(), 0.0f);
};

TEST(seteqn_rows, rim_rows_are_second_differences_over_root_six_and_interior_rows_hold_the_free_term)
{
    const auto m = body_sheet(3, 2);   // padded 5 x 4
    const int n = m.n_panels;
    ASSERT_EQ(n, 20);
    std::vector<float> amat(n * n, 0.0f);
    MemoryOutput o;
    torva::assemble_system(m, o.out, 0, 1, n, kNoInfluence, -1.0f, amat, {});
    auto a = [&](int r, int c) { return amat[r + c * n]; };   // 0-based
    const float k1 = 1.0f / std::sqrt(6.0f), k2 = -2.0f / std::sqrt(6.0f);
    // Padded (a, b), 1-based, first direction fastest: r = (a-1) + 5 (b-1).
    auto idx = [](int ai, int bi) { return (ai - 1) + 5 * (bi - 1); };
    struct Expect { int a, b, step; };
    // Corners take the first-direction stencil; the a = 1 test comes first.
    for (const Expect e : {Expect{1, 1, 1}, {5, 1, -1}, {1, 4, 1}, {5, 4, -1}, {3, 1, 5}, {2, 4, -5}, {1, 2, 1}, {5, 3, -1}}) {
        const int r = idx(e.a, e.b);
        for (int c = 0; c < n; ++c) {
            const float want = c == r ? k1 : c == r + e.step ? k2 : c == r + 2 * e.step ? k1 : 0.0f;
            EXPECT_NEAR(a(r, c), want, 1e-7f) << "row (" << e.a << "," << e.b << ") column " << c;
        }
    }
    // Interior row (2, 2): 2 pi (1,6,1) x (1,6,1) on its nine nodes, scaled to unit norm:
    // the norm of (1,6,1) x (1,6,1) is 38.
    const int r = idx(2, 2);
    const float w[3] = {1, 6, 1};
    for (int db = -1; db <= 1; ++db)
        for (int da = -1; da <= 1; ++da)
            EXPECT_NEAR(a(r, r + da + 5 * db), w[da + 1] * w[db + 1] / 38.0f, 2e-7f);
    // Right-hand sides: N records of N zeros; nothing in .jou1a without symmetry; the
    // velocity records (flag 1) are 3 floats for each interior row and active panel.
    EXPECT_EQ(o.floats(JournalFile::jou1), std::vector<std::vector<float>>(20, std::vector<float>(20, 0.0f)));
    EXPECT_TRUE(o.floats(JournalFile::jou1a).empty());
    const auto jou4 = o.floats(JournalFile::jou4);
    EXPECT_EQ(jou4.size(), 6u * 6u);
    for (const auto& rec : jou4) EXPECT_EQ(rec.size(), 3u);
}

// An influence routine whose source column 1 of the panel arrays is the field point's z:
// the bottom image adds the value at -z - 2d with the same sign as the direct one.
TEST(seteqn_rows, bottom_image_adds_with_the_signs_of_the_direct_pass)
{
    const torva::RowInfluence z_source = [](const std::array<float, 3>& f, int, torva::RowInfluenceArrays& a) {
        kNoInfluence(f, 0, a);
        const std::size_t n = a.panel_sum.size() / 12;
        std::fill_n(a.panel_sum.begin(), n, f[2]);
    };
    for (const float depth : {-1.0f, 0.0f, 3.0f}) {
        const auto m = body_sheet(3, 3);
        const int n = m.n_panels;
        std::vector<float> amat(n * n, 0.0f);
        MemoryOutput o;
        torva::assemble_system(m, o.out, 0, 1, n, z_source, depth, amat, {});
        const auto jou1 = o.floats(JournalFile::jou1);
        const int r = 1 + 5 * 1;   // interior (2, 2)
        // brow = -(z) [- (-z - 2d)], negated, divided by the row norm 2 pi 38.
        const float z = -2.0f;
        const float expect = (depth > 0 ? -2.0f * depth : z) / (6.28318f * 38.0f);
        for (float v : jou1[r]) EXPECT_NEAR(v, expect, 1e-6f * std::abs(expect)) << "depth " << depth;
        // Velocity records: none at depth 0 exactly, 3 floats otherwise.
        EXPECT_EQ(o.floats(JournalFile::jou4).size(), depth == 0.0f ? 0u : 81u) << "depth " << depth;
    }
}

// A singular system stops the run with its routine's message: seteqn with the sgetrf info (a
// free-surface sheet with no influence has empty interior rows), basefl's sleqbf.
TEST(singular_systems, stop_with_their_routines_message)
{
    const auto m = body_sheet(2, 2, 3, 0);
    std::vector<float> singular = {1, 2, 3, 2, 4, 6, 0, 1, 1}, rhs = {1, 1, 1};
    MemoryOutput o;
    const std::tuple<std::function<void()>, std::string, bool> cases[] = {   // the call, its message, an info after it
        {[&] { torva::seteqn(m, o.out, 0, 1, m.n_panels, kNoInfluence, 1, -1.0f); },
         "ERROR: Error decomposing amat in routine  seteqn. ", true},
        {[&] { torva::sleqbf(6, 3, singular, rhs); }, "ERROR: Error decomposing matrix in sleqbf", false}};
    for (const auto& [call, message, info] : cases) {
        try {
            call();
            ADD_FAILURE() << "no stop: " << message;
        } catch (const torva::RunStopped& stop) {
            ASSERT_EQ(stop.lines.size(), 1u);
            const std::string& line = stop.lines[0];
            EXPECT_EQ(info ? line.substr(0, message.size()) : line, message);
            if (info) {
                EXPECT_GT(std::stoi(line.substr(message.size())), 0) << line;
            }
        }
    }
}

}  // namespace
