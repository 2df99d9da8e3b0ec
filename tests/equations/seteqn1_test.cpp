// The panel-wise system's journal records against the row-wise system's, and their
// independence of the thread count.  The added mass it gives (against the row-wise system and
// the exact sphere and floating hemisphere, for every INFBND, INFINVS and INFMETH), the
// refusal of INFBND 2 and the framing of the records read by gfortran are checked on whole
// runs in end_to_end_test.cpp.
#include "equations/seteqn1.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "frame/run_stop.hpp"
#include "support/memory_output.hpp"
#include "support/panel_models.hpp"
#include "support/run_program.hpp"

#ifdef _OPENMP
#include <omp.h>
#endif

namespace {

using namespace torva;
using namespace torva::testing;

enum class Assembly { row_wise, panel_wise };   // seteqn, seteqn1

struct Case {
    Assembly assembly = Assembly::panel_wise;
    int infmeth = 3;
    int infbnd = 1;
    int infinvs = 1;
    float sea_depth = -1.0f;
};

struct Journals {
    std::vector<std::vector<float>> rhs[2];        // rows of B, B_a
    std::vector<std::vector<std::byte>> jou2;      // every record of .jou2
    std::vector<std::vector<std::byte>> jou4;
    std::vector<std::string> listing;
    std::vector<std::string> stop_lines;           // empty when the system was written
};

// Runs seteqn or seteqn1 on `model` in a directory of its own and reads back what it wrote.
Journals run_case(const PanelModel& model, const Case& c)
{
    TempDir dir("seteqn1");
    Journals j;
    {
        MemoryOutput o(dir.path());
        const int sym = model.header.symmetry, n = model.n_panels;
        try {
            if (c.assembly == Assembly::row_wise)
                seteqn(model, o.out, sym, model.n_sheets, n, {1, 1, 1}, c.infmeth, c.infinvs, c.sea_depth);
            else
                seteqn1(model, o.out, sym, model.n_sheets, n, {1, 1, 1}, c.infmeth, c.infbnd, c.infinvs, c.sea_depth);
        } catch (const RunStopped& stop) {
            j.stop_lines = stop.lines;
        }
        j.rhs[0] = o.floats(JournalFile::jou1);
        j.rhs[1] = o.floats(JournalFile::jou1a);
        j.jou2 = o.journal.records(JournalFile::jou2);
        j.jou4 = o.journal.records(JournalFile::jou4);
        j.listing = o.listing();
    }
    return j;
}

// Under INFBND 1 every row, ghosts included, writes one velocity record per active panel of
// the flagged body sheets: 3 reals, 6 with symmetry (sum and difference of the y-mirror).
// The records of the interior rows are those seteqn writes, in the same order: seteqn's
// vector sweep against getvel pair by pair, here over a sea bottom so that the image terms
// of the records are compared too.  Three timing lines close the listing.  The parallel
// panel loop adds every column block in panel order, so every file is the same bytes
// whatever the thread count: 17 threads make blocks of 34 panels instead of 32 and share the
// 600 rows of the whole sphere out in two chunks; the half body exercises the antisymmetric
// system and getic2b's path (INFMETH 0).
TEST(seteqn1_journals, velocity_records_as_seteqn_writes_them_timings_and_any_thread_count)
{
    for (const auto& [faces, half, infmeth, threads] : {std::tuple{8, false, -1, 17}, std::tuple{4, true, 0, 3}}) {
        const PanelModel model = panel_model_from(cubed_sphere(faces, 3.0, half), half ? 1 : 0);
        const int n = model.n_panels;
        std::size_t active = 0;
        for (int p = 0; p < n; ++p) active += model.active[p] != 0;
        const Journals row = run_case(model, {Assembly::row_wise, infmeth, 1, -1, 5.0f});
#ifdef _OPENMP
        const int before = omp_get_max_threads();
        omp_set_num_threads(threads);
        const Journals many = run_case(model, {Assembly::panel_wise, infmeth, 1, -1, 5.0f});
        omp_set_num_threads(1);
#endif
        const Journals col = run_case(model, {Assembly::panel_wise, infmeth, 1, -1, 5.0f});
#ifdef _OPENMP
        omp_set_num_threads(before);
        EXPECT_TRUE(col.rhs[0] == many.rhs[0] && col.rhs[1] == many.rhs[1]) << threads << " threads";
        EXPECT_TRUE(col.jou2 == many.jou2 && col.jou4 == many.jou4) << threads << " threads";
#endif
        ASSERT_TRUE(col.stop_lines.empty()) << col.stop_lines[0];
        ASSERT_EQ(col.jou4.size(), std::size_t(n) * active);
        for (const auto& rec : col.jou4) ASSERT_EQ(rec.size(), (half ? 6u : 3u) * sizeof(float));
        std::vector<std::vector<std::byte>> interior;
        for (int p = 0; p < n; ++p)
            if (model.active[p])
                for (std::size_t k = 0; k < active; ++k) interior.push_back(col.jou4[p * active + k]);
        EXPECT_TRUE(interior == row.jou4);

        const std::string labels[3] = {"time spent on panel integral:        ", "time spent on boundary condition:    ",
                                       "time spent on matrix factorization:  "};
        std::vector<std::string> timings;
        for (const std::string& line : col.listing)
            if (line.rfind(" time spent on ", 0) == 0) timings.push_back(line);
        ASSERT_EQ(timings.size(), 3u);
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(timings[k].rfind(" " + labels[k] + " ", 0), 0u) << timings[k];
            EXPECT_GE(std::stod(timings[k].substr(labels[k].size() + 2)), 0.0);
        }
    }
}

}  // namespace
