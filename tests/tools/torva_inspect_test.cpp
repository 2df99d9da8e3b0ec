// torva-inspect, judged from outside where it can be:
//   - the record scanner on byte strings framed by hand, and on a file framed by the
//     project's unit table with subrecords forced small;
//   - the expected journal layout on a two-sheet mesh whose counts are worked by hand;
//   - the whole tool on a run directory whose journal files a real gfortran program wrote
//     (so the framing comes from a Fortran run-time library, not from us), intact and with
//     one fault at a time;
//   - the VTK export read back by meshio (Debian's python3-meshio), a reader that shares
//     nothing with our writer, and compared with the geometry the test itself defined;
//   - the shipped Wigley example run by the built torva_setup and inspected.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../tools/inspect_journal.hpp"
#include "../../tools/inspect_listing.hpp"
#include "../../tools/inspect_records.hpp"
#include "frame/units.hpp"
#include "support/fortran_runner.hpp"
#include "support/run_program.hpp"

namespace {

namespace fs = std::filesystem;
using namespace torva::inspect;
using torva::testing::FortranRun;
using torva::testing::TempDir;
using torva::testing::built_program;
using torva::testing::read_text;
using torva::testing::run_command;
using torva::testing::run_in;
using torva::testing::shell_quote;
using torva::testing::write_text;

// ---- record framing ---------------------------------------------------------------------

void put_count(std::string& s, std::int32_t v)
{
    char b[4];
    std::memcpy(b, &v, 4);   // the test machines are little-endian, as the files are
    s.append(b, 4);
}
std::string record(const std::string& data)
{
    std::string s;
    put_count(s, static_cast<std::int32_t>(data.size()));
    s += data;
    put_count(s, static_cast<std::int32_t>(data.size()));
    return s;
}

TEST(inspect_records, scan_finds_hand_framed_records_as_runs)
{
    std::istringstream in(record("abcd") + record("") + record("12345678") + record("ABCDEFGH"));
    const RecordScan scan = scan_records(in);
    ASSERT_TRUE(scan.ok()) << scan.error;
    EXPECT_EQ(scan.records, 4);
    EXPECT_EQ(scan.file_size, 4 * 8 + 4 + 0 + 8 + 8);
    ASSERT_EQ(scan.runs.size(), 3u);
    EXPECT_EQ(scan.runs[0].count, 1);
    EXPECT_EQ(scan.runs[0].length, 4);
    EXPECT_EQ(scan.runs[1].length, 0);
    EXPECT_EQ(scan.runs[2].count, 2);
    EXPECT_EQ(scan.runs[2].length, 8);
    // Data offsets: 4; 4+4+4 = 12 +4 = 16; 16+0+4 = 20 +4 = 24; 24+8+4 = 36 +4 = 40.
    ASSERT_EQ(scan.head.size(), 4u);
    EXPECT_EQ(scan.head[0].pieces[0].offset, 4);
    EXPECT_EQ(scan.head[1].pieces[0].offset, 16);
    EXPECT_EQ(scan.head[2].pieces[0].offset, 24);
    EXPECT_EQ(scan.head[3].pieces[0].offset, 40);
    ASSERT_EQ(scan.tail.size(), 2u);
    EXPECT_EQ(scan.tail[1].index, 4);
    const auto bytes = read_record_bytes(in, scan.tail[1]);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "ABCDEFGH");
}

TEST(inspect_records, subrecords_join_into_one_logical_record)
{
    // 10 bytes as 6 + 4: the first leading count is negative (more follow), the last
    // trailing count negative (one precedes).
    std::string s;
    put_count(s, -6);
    s += "012345";
    put_count(s, 6);
    put_count(s, 4);
    s += "6789";
    put_count(s, -4);
    s += record("xy");
    std::istringstream in(s);
    const RecordScan scan = scan_records(in);
    ASSERT_TRUE(scan.ok()) << scan.error;
    EXPECT_EQ(scan.records, 2);
    ASSERT_EQ(scan.head.size(), 2u);
    EXPECT_EQ(scan.head[0].length, 10);
    EXPECT_EQ(scan.head[0].pieces.size(), 2u);
    const auto bytes = read_record_bytes(in, scan.head[0]);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "0123456789");
}

TEST(inspect_records, agrees_with_the_unit_table_when_it_splits_records)
{
    TempDir dir("inspect_units");
    const std::string name = dir.file("split.bin");
    {
        torva::UnitTable table;              // a private table: the process-wide one is untouched
        table.set_max_subrecord(8);
        torva::OpenOptions o;
        o.status = "REPLACE";
        o.form = torva::FileForm::unformatted;
        ASSERT_EQ(table.open(20, name, o), 0);
        const std::vector<float> big(7, 1.5f);   // 28 bytes: subrecords of 8, 8, 8, 4
        const std::vector<float> small(2, 2.5f);
        table.write_record(20, torva::bytes_of(big));
        table.write_record(20, torva::bytes_of(small));
        table.close(20);
    }
    std::ifstream in(name, std::ios::binary);
    const RecordScan scan = scan_records(in);
    ASSERT_TRUE(scan.ok()) << scan.error;
    EXPECT_EQ(scan.records, 2);
    EXPECT_EQ(scan.head[0].length, 28);
    EXPECT_EQ(scan.head[0].pieces.size(), 4u);
    EXPECT_EQ(scan.head[1].length, 8);
}

TEST(inspect_records, damaged_frames_are_located)
{
    {   // trailing count differs from the leading one
        std::string s = record("abcd");
        put_count(s, 4);
        s += "wxyz";
        put_count(s, 5);
        std::istringstream in(s);
        const RecordScan scan = scan_records(in);
        EXPECT_FALSE(scan.ok());
        EXPECT_NE(scan.error.find("record 2"), std::string::npos) << scan.error;
        EXPECT_EQ(scan.error_offset, 12 + 4 + 4);
        EXPECT_EQ(scan.records, 1);
    }
    {   // the file ends inside a record
        std::string s = record("abcd");
        put_count(s, 100);
        s += "short";
        std::istringstream in(s);
        const RecordScan scan = scan_records(in);
        EXPECT_FALSE(scan.ok());
        EXPECT_NE(scan.error.find("announces 100 bytes"), std::string::npos) << scan.error;
        EXPECT_EQ(scan.error_offset, 12);
    }
    {   // two stray bytes after the last record
        std::istringstream in(record("abcd") + "zz");
        EXPECT_FALSE(scan_records(in).ok());
    }
}

// ---- the expected layout ------------------------------------------------------------------

// Sheet 1: NP1 = 2, NP2 = 3, kind 2, flag 1 -> padded 4 x 5 = 20 panels, 2 x 3 = 6 interior.
// Sheet 2: NP1 = 3, NP2 = 2, kind 3, flag 0 -> padded 5 x 4 = 20 panels, 3 x 2 = 6 interior.
RunFacts two_sheet_facts()
{
    RunFacts f;
    f.n = 40;
    f.symmetry = 1;
    f.sheets = {{4, 5, 20, 2, 1, 6}, {5, 4, 20, 3, 0, 6}};
    f.inforder = 1;
    f.infbnd = 1;
    f.infinvs = 1;
    f.ifsbc = 1;
    f.b_filter = true;
    f.sea_depth = -1.0f;
    f.filejou = "ship";
    return f;
}

const ExpectedFile& file_named(const std::vector<ExpectedFile>& files, const std::string& name)
{
    for (const auto& f : files)
        if (f.name == name) return f;
    throw std::runtime_error("no expected file " + name);
}

std::vector<std::pair<std::int64_t, std::int64_t>> shape(const ExpectedFile& f)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> s;
    for (const auto& r : f.runs) s.emplace_back(r.count, r.length);
    return s;
}
using Shape = std::vector<std::pair<std::int64_t, std::int64_t>>;

TEST(inspect_layout, half_hull_with_factors_and_one_filter)
{
    const auto files = expected_files(two_sheet_facts());
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(shape(file_named(files, "ship.jou1")), (Shape{{40, 160}}));        // N rows of N reals
    EXPECT_EQ(shape(file_named(files, "ship.jou1a")), (Shape{{40, 160}}));
    // LU (40 * 40 * 4 = 6400 bytes) and pivots (160) per system, then 1 filter, 200 bytes.
    EXPECT_EQ(shape(file_named(files, "ship.jou2")),
              (Shape{{1, 6400}, {1, 160}, {1, 6400}, {1, 160}, {1, 4}, {1, 200}}));
    EXPECT_EQ(shape(file_named(files, "ship.jou3")), (Shape{{1, 7 * 40 * 4}}));
    // 12 interior field points x 6 velocity panels, 6 reals each with symmetry.
    EXPECT_EQ(shape(file_named(files, "ship.jou4")), (Shape{{72, 24}}));
    const ExpectedFile& filter = file_named(files, "ship.jou05");
    EXPECT_EQ(filter.filter_sheet, 2);
    EXPECT_EQ(shape(filter), (Shape{{3, 4}, {20, 80}}));
}

TEST(inspect_layout, options_change_the_records_as_documented)
{
    RunFacts f = two_sheet_facts();
    f.symmetry = 0;
    f.infinvs = 0;
    f.b_filter = false;
    auto files = expected_files(f);
    EXPECT_EQ(files.size(), 5u) << "no filter file without B_FILTER";
    EXPECT_TRUE(file_named(files, "ship.jou1a").runs.empty());
    EXPECT_EQ(shape(file_named(files, "ship.jou2")), (Shape{{1, 6400}}));   // the inverse alone
    EXPECT_EQ(shape(file_named(files, "ship.jou4")), (Shape{{72, 12}}));    // 3 reals without symmetry

    f = two_sheet_facts();
    f.infinvs = -1;
    EXPECT_EQ(shape(file_named(expected_files(f), "ship.jou2")),
              (Shape{{1, 6400}, {1, 6400}, {1, 4}, {1, 200}}));

    f.sea_depth = 0.0f;                       // no velocity record at depth exactly 0
    EXPECT_TRUE(file_named(expected_files(f), "ship.jou4").runs.empty());
    f.sea_depth = 3.0f;
    EXPECT_EQ(shape(file_named(expected_files(f), "ship.jou4")), (Shape{{72, 24}}));

    f.ifsbc = 3;                              // modes 3, 4, 5: 3N reals each
    EXPECT_EQ(shape(file_named(expected_files(f), "ship.jou4")), (Shape{{1, 480}, {1, 480}, {1, 480}}));

    f = two_sheet_facts();
    f.inforder = 2;                           // panel-wise: every one of the N panels visits
    EXPECT_EQ(shape(file_named(expected_files(f), "ship.jou4")), (Shape{{240, 24}}));
    f.infbnd = 0;
    EXPECT_TRUE(file_named(expected_files(f), "ship.jou4").runs.empty());
}

TEST(inspect_layout, filter_files_are_numbered_from_05_in_sheet_order)
{
    RunFacts f = two_sheet_facts();
    f.sheets = {{5, 5, 25, 3, 0, 9}, {4, 5, 20, 2, 1, 6}, {5, 4, 20, 3, 0, 6}, {6, 4, 24, 3, 0, 8}};
    EXPECT_EQ(filter_file_names(f), (std::vector<std::string>{"ship.jou05", "ship.jou06", "ship.jou07"}));
    const auto files = expected_files(f);
    EXPECT_EQ(file_named(files, "ship.jou07").filter_sheet, 4);
    EXPECT_EQ(shape(file_named(files, "ship.jou07")), (Shape{{3, 4}, {24, 96}}));
    EXPECT_EQ(shape(file_named(files, "ship.jou2")).back(), (std::pair<std::int64_t, std::int64_t>{1, 600}));
}

TEST(inspect_layout, comparison_names_the_first_record_that_differs)
{
    const std::vector<ExpectedRun> rows = {{40, 160, "row of B"}};
    EXPECT_EQ(compare_layout(rows, {{40, 160}}), "");
    EXPECT_EQ(compare_layout(rows, {{10, 160}, {1, 156}, {29, 160}}),
              "record 11 holds 156 bytes, expected 160: row of B");
    EXPECT_EQ(compare_layout(rows, {{39, 160}}), "ends after 39 records, 1 missing; record 40 should be row of B");
    EXPECT_EQ(compare_layout(rows, {{41, 160}}),
              "has 1 records more than the 40 expected; record 41 holds 160 bytes");
    EXPECT_EQ(compare_layout({}, {}), "");
    // Runs of the same length but different meaning are one run in a scan.
    const std::vector<ExpectedRun> jou2 = {{1, 4, "count"}, {1, 4, "other"}, {1, 200, "names"}};
    EXPECT_EQ(compare_layout(jou2, {{2, 4}, {1, 200}}), "");
    EXPECT_EQ(compare_layout(jou2, {{1, 4}, {1, 200}}), "record 2 holds 200 bytes, expected 4: other");
}

// ---- the listing ----------------------------------------------------------------------------

TEST(inspect_listing, reads_timings_errors_and_the_end)
{
    std::istringstream ok(
        " Time spent on matrix setup:          0.429367\n"
        " Time spent on matrix factorization:  5.0E-02\n"
        " time spent on panel integral:        1.5\n"
        " Cpu time used for creating b-spline filter 0.02375096\n"
        " Time spent on nothing in particular: soon\n"
        "         Setup completed successfully.\n\n"
        " FINISHED: SUCCESS\n");
    const ListingSummary s = summarise_listing(ok);
    EXPECT_TRUE(s.finished);
    EXPECT_TRUE(s.errors.empty());
    ASSERT_EQ(s.timings.size(), 4u) << "a timing line without a number is not a timing";
    EXPECT_EQ(s.timings[0].label, "Time spent on matrix setup:");
    EXPECT_DOUBLE_EQ(s.timings[0].seconds, 0.429367);
    EXPECT_DOUBLE_EQ(s.timings[1].seconds, 0.05);
    EXPECT_EQ(s.timings[2].label, "time spent on panel integral:");
    EXPECT_EQ(s.timings[3].label, "Cpu time used for creating b-spline filter");
    EXPECT_DOUBLE_EQ(s.timings[3].seconds, 0.02375096);

    std::istringstream failed(" Time spent on matrix setup: 1.0\n ERROR: Error decomposing amat in routine seteqn. 3\n");
    const ListingSummary f = summarise_listing(failed);
    EXPECT_FALSE(f.finished);
    ASSERT_EQ(f.errors.size(), 1u);
    EXPECT_EQ(f.errors[0], "ERROR: Error decomposing amat in routine seteqn. 3");
}

// ---- the tool on a run written by gfortran ------------------------------------------------

// The mesh: a vertical plate in y = 0.1 (kind 2, flag 1, node (a, b) at (0.5 a, 0.1, -0.25 b))
// and a free-surface sheet in z = 0 (kind 3, node (a, b) at (1 + 0.4 a, 0.2 + 0.3 b, 0)),
// half hull, ALENGTH 2.
std::string plate_mesh()
{
    std::ostringstream m;
    m << "Version 2.0\nPlate and free surface\n1 N\n2\n0. 0. 0. 0. 0. 0.\nF\n";
    m << "2 3 2 1\n";
    for (int b = 0; b <= 3; ++b)
        for (int a = 0; a <= 2; ++a) m << 0.5 * a << " 0.1 " << -0.25 * b << '\n';
    m << "3 2 3 0\n";
    for (int b = 0; b <= 2; ++b)
        for (int a = 0; a <= 3; ++a) m << 1.0 + 0.4 * a << ' ' << 0.2 + 0.3 * b << " 0.0\n";
    return m.str();
}

const char* const kPlateInput =
    "&TORVA_INP\n"
    " FILE_SSG = 'plate.ssg'\n"
    " FILEJOU = 'ship'\n"
    " ALENGTH = 2.0\n"
    " INFORDER = 1\n"
    " B_FILTER = .TRUE.\n"
    " H1 = 2\n"
    " H2 = 2\n"
    " SEA_DEPTH = -1.0\n"
    "/\n";

const char* const kPlateListing =
    " Time spent on matrix setup:          0.5\n"
    " Time spent on matrix factorization:  0.25\n"
    " Cpu time used for creating b-spline filter 0.125\n"
    "         Setup completed successfully.\n"
    "\n"
    " FINISHED: SUCCESS\n";

// Writes the journal and filter files of the plate run, N = 40, as the setup lays them out;
// the argument picks one fault: short4 (a .jou4 record missing), badname (the filter list
// names the wrong file), nan (a NaN in the basis flow), badorder (the filter file's order).
// Basis flow of panel i: phi = i/2, u = i, v = -i, w = 2i, ux = i + 1/4, vy = i - 1/4, weight 1.
const char* const kJournalWriter = R"(
program journals
  use, intrinsic :: ieee_arithmetic
  implicit none
  integer, parameter :: n = 40, nfs = 20
  character(len=16) :: fault
  real :: row(n), lu(n*n), flow(7*n), vel(6), col(nfs)
  integer :: ipiv(n), i, k, r, nvel
  character(len=200) :: names(1)
  call get_command_argument(1, fault)
  open(11, file='ship.jou1', form='unformatted', status='replace')
  open(15, file='ship.jou1a', form='unformatted', status='replace')
  do r = 1, n
    row = real(r)
    write(11) row
    write(15) -row
  end do
  close(11)
  close(15)
  open(12, file='ship.jou2', form='unformatted', status='replace')
  lu = 0.5
  ipiv = (/ (i, i = 1, n) /)
  do k = 1, 2
    write(12) lu
    write(12) ipiv
  end do
  names(1) = 'ship.jou05'
  if (fault == 'badname') names(1) = 'ship.jou06'
  write(12) 1
  write(12) names
  close(12)
  do i = 1, n
    flow(7*i-6) = 0.5 * i
    flow(7*i-5) = real(i)
    flow(7*i-4) = -real(i)
    flow(7*i-3) = 2.0 * i
    flow(7*i-2) = i + 0.25
    flow(7*i-1) = i - 0.25
    flow(7*i) = 1.0
  end do
  if (fault == 'nan') flow(7*33-6) = ieee_value(1.0, ieee_quiet_nan)
  open(13, file='ship.jou3', form='unformatted', status='replace')
  write(13) flow
  close(13)
  nvel = 72
  if (fault == 'short4') nvel = 71
  open(14, file='ship.jou4', form='unformatted', status='replace')
  vel = (/ 1.0, 2.0, 3.0, 4.0, 5.0, 6.0 /)
  do k = 1, nvel
    write(14) vel
  end do
  close(14)
  open(20, file='ship.jou05', form='unformatted', status='replace')
  write(20) 1
  if (fault == 'badorder') then
    write(20) nfs + 1
  else
    write(20) nfs
  end if
  write(20) nfs * nfs
  col = 0.05
  do k = 1, nfs
    write(20) col
  end do
  close(20)
end program journals
)";

class InspectRun : public ::testing::Test {
protected:
    // Compiles the writer once per test; each case lays out its own run directory.
    void SetUp() override
    {
        if (!fs::exists(built_program("torva-inspect"))) GTEST_SKIP() << "torva-inspect is not built";
        const std::string src = build_.file("journals.f90");
        write_text(src, kJournalWriter);
        const FortranRun b = run_command(std::string(TORVA_FORTRAN_COMPILER) + " -o " +
                                         shell_quote(build_.file("journals")) + " " + shell_quote(src));
        ASSERT_EQ(b.exit_code, 0) << b.output;
    }

    // A run directory holding the plate run, with `fault` applied by the writer.
    void lay_out(const TempDir& dir, const std::string& fault)
    {
        write_text(dir.file("plate.ssg"), plate_mesh());
        write_text(dir.file("plate.inp"), kPlateInput);
        write_text(dir.file("plate.inp.LIS"), kPlateListing);
        const FortranRun w = run_in(dir, build_.file("journals"), fault);
        ASSERT_EQ(w.exit_code, 0) << w.output;
    }

    FortranRun inspect(const TempDir& dir, const std::string& extra = "")
    {
        return run_command(shell_quote(built_program("torva-inspect")) + " --dir " +
                           shell_quote(dir.path().string()) + " plate.inp " + extra);
    }

    TempDir build_{"inspect_writer"};
};

TEST_F(InspectRun, intact_run_passes_and_shows_its_summary)
{
    TempDir dir("inspect_ok");
    lay_out(dir, "none");
    const FortranRun r = inspect(dir);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    for (const char* needed : {"N = 40 padded panels, 12 interior, symmetry 1", "ok ship.jou1 ", "ok ship.jou1a",
                               "ok ship.jou2 ", "ok ship.jou3 ", "ok ship.jou4 ", "ok ship.jou05",
                               "Time spent on matrix setup:", "0.5", "Cpu time used for creating b-spline filter",
                               "FINISHED: SUCCESS", "all checks passed"})
        EXPECT_NE(r.output.find(needed), std::string::npos) << "missing \"" << needed << "\" in\n" << r.output;
    // 72 velocity records of 6 reals: 72 * (24 + 8) = 2304 bytes.
    EXPECT_NE(r.output.find("72 records           2,304 bytes"), std::string::npos) << r.output;
    // phi = i/2 over the interior panels 6 .. 34: 3 .. 17.
    EXPECT_NE(r.output.find("phi     3 .. 17"), std::string::npos) << r.output;
}

TEST_F(InspectRun, each_fault_fails_the_check_that_sees_it)
{
    struct Case {
        const char* fault;
        const char* message;
    };
    const Case cases[] = {
        {"short4", "FAIL ship.jou4: ends after 71 records, 1 missing; record 72 should be velocity record (6 reals)"},
        {"badname", "FAIL ship.jou2: filter file name 1 is \"ship.jou06\", expected \"ship.jou05\""},
        {"nan", "FAIL .jou3: 1 values are not finite, the first at panel 33"},
        {"badorder", "FAIL ship.jou05: order 21, expected NP' = 20"},
    };
    for (const Case& c : cases) {
        TempDir dir(std::string("inspect_") + c.fault);
        lay_out(dir, c.fault);
        const FortranRun r = inspect(dir, "--quiet");
        EXPECT_EQ(r.exit_code, 1) << c.fault << ":\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.fault << ":\n" << r.output;
        EXPECT_NE(r.output.find("1 check failed"), std::string::npos) << c.fault << ":\n" << r.output;
    }
}

TEST_F(InspectRun, missing_files_and_an_unfinished_run_fail)
{
    TempDir dir("inspect_missing");
    lay_out(dir, "none");
    fs::remove(dir.file("ship.jou1a"));
    write_text(dir.file("plate.inp.LIS"), " ERROR: Error decomposing amat in routine seteqn. 7\n");
    const FortranRun r = inspect(dir, "--quiet");
    EXPECT_EQ(r.exit_code, 1) << r.output;
    EXPECT_NE(r.output.find("FAIL ship.jou1a: missing"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("listing: ERROR: Error decomposing amat in routine seteqn. 7"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("the run did not finish"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 checks failed"), std::string::npos) << r.output;
}

TEST_F(InspectRun, unreadable_runs_end_with_status_2)
{
    TempDir dir("inspect_unreadable");
    const FortranRun none = inspect(dir);     // no plate.inp, no plate.inp.inp
    EXPECT_EQ(none.exit_code, 2) << none.output;
    EXPECT_NE(none.output.find("cannot open the run-parameter file plate.inp"), std::string::npos) << none.output;

    lay_out(dir, "none");
    write_text(dir.file("plate.ssg"), "Version 2.0\nbroken\n1 N\n2\n");   // ends inside the header
    const FortranRun bad = inspect(dir);
    EXPECT_EQ(bad.exit_code, 2) << bad.output;
    EXPECT_NE(bad.output.find("mesh reader rejects plate.ssg"), std::string::npos) << bad.output;

    const FortranRun wrong = run_command(shell_quote(built_program("torva-inspect")) + " --vtk out.png");
    EXPECT_EQ(wrong.exit_code, 2) << wrong.output;
}

// ---- the VTK export, read by meshio -------------------------------------------------------

// A Python that can import meshio: Debian's own first (pyenv shims may hide its packages).
std::string meshio_python()
{
    for (const char* python : {"/usr/bin/python3", "python3"})
        if (run_command(std::string(python) + " -c 'import meshio'").exit_code == 0) return python;
    return {};
}

// Checks the plate export against the geometry defined above; prints one summary line.
// Tolerances: coordinates are floats of (file value) / 2, within one float ulp of the
// double computed here (|x| <= 1: 1.2e-7); areas come from the area moments of the reader,
// a handful of float operations on rectangles: relative 1e-6 (8 ulps); normals are unit
// vectors in float: 1e-6.
const char* const kVtkCheck = R"(
import sys
import meshio
import numpy as np
m = meshio.read(sys.argv[1])
assert [c.type for c in m.cells] == ['quad'], [c.type for c in m.cells]
q = m.cells[0].data
d = {k: np.asarray(v[0]).reshape(len(q), -1) for k, v in m.cell_data.items()}
panel = d['panel'][:, 0].astype(int)
assert sorted(panel) == [6, 7, 10, 11, 14, 15, 27, 28, 29, 32, 33, 34], sorted(panel)
nodes = [(0.5 * a, 0.1, -0.25 * b) for b in range(4) for a in range(3)]
nodes += [(1.0 + 0.4 * a, 0.2 + 0.3 * b, 0.0) for b in range(3) for a in range(4)]
expected = np.array(sorted(tuple(x / 2.0 for x in p) for p in nodes))
got = np.array(sorted(map(tuple, m.points)))
assert got.shape == expected.shape, (got.shape, expected.shape)
assert np.max(np.abs(got - expected)) < 1.2e-7, np.max(np.abs(got - expected))
P = m.points[q].astype(float)
cross = np.cross(P[:, 2] - P[:, 0], P[:, 3] - P[:, 1])
area = 0.5 * np.linalg.norm(cross, axis=1)
assert np.allclose(d['area'][:, 0], area, rtol=1e-6, atol=0), (d['area'][:, 0], area)
plate = panel <= 20
assert np.allclose(area[plate], 0.25 * 0.125, rtol=1e-6)
assert np.allclose(area[~plate], 0.2 * 0.15, rtol=1e-6)
normal = d['normal']
assert np.allclose(normal[plate], [0, 1, 0], atol=1e-6), normal[plate]
assert np.allclose(normal[~plate], [0, 0, 1], atol=1e-6), normal[~plate]
unit_cross = cross / np.linalg.norm(cross, axis=1)[:, None]
assert np.all(np.sum(unit_cross * normal, axis=1) > 1 - 1e-6), 'cell point order against the normal'
assert np.all(d['kind'][:, 0] == np.where(plate, 2, 3))
assert np.all(d['sheet'][:, 0] == np.where(plate, 1, 2))
assert np.all(d['flag'][:, 0] == np.where(plate, 1, 0))
assert np.all(d['phi'][:, 0] == 0.5 * panel)
assert np.all(d['u'][:, 0] == panel) and np.all(d['v'][:, 0] == -panel) and np.all(d['w'][:, 0] == 2 * panel)
assert np.all(d['ux'][:, 0] == panel + 0.25) and np.all(d['vy'][:, 0] == panel - 0.25)
assert np.all(d['weight'][:, 0] == 1.0)
assert np.all(d['velocity'] == np.stack([panel, -panel, 2 * panel], axis=1))
print('cells', len(q), 'points', len(m.points), 'fields', ' '.join(sorted(d)))
)";

TEST_F(InspectRun, vtk_exports_read_back_by_meshio_match_the_mesh_and_the_basis_flow)
{
    const std::string python = meshio_python();
    if (python.empty()) GTEST_SKIP() << "python3-meshio is not installed (scripts/bootstrap.sh installs it)";
    TempDir dir("inspect_vtk");
    lay_out(dir, "none");
    write_text(dir.file("check.py"), kVtkCheck);
    for (const char* name : {"plate.vtu", "plate.vtk"}) {
        const FortranRun r = inspect(dir, std::string("--vtk ") + shell_quote(dir.file(name)));
        ASSERT_EQ(r.exit_code, 0) << r.output;
        EXPECT_NE(r.output.find("12 panels, 24 points"), std::string::npos) << r.output;
        const FortranRun check = run_command(python + " " + shell_quote(dir.file("check.py")) + " " +
                                             shell_quote(dir.file(name)));
        EXPECT_EQ(check.exit_code, 0) << name << ":\n" << check.output;
        EXPECT_NE(check.output.find("cells 12 points 24 fields area flag kind normal panel phi sheet u ux v velocity vy w weight"),
                  std::string::npos)
            << name << ":\n" << check.output;
    }
}

// ---- the shipped example, end to end ------------------------------------------------------

TEST(inspect_example, wigley_run_by_torva_setup_passes_every_check)
{
    const std::string setup = built_program("torva_setup");
    const std::string inspect = built_program("torva-inspect");
    if (!fs::exists(setup) || !fs::exists(inspect)) GTEST_SKIP() << "torva_setup or torva-inspect is not built";
    TempDir dir("inspect_wigley");
    for (const char* f : {"wigley.inp", "wigley_hull.ssg", "wigley_fs.ssg"})
        fs::copy_file(std::string(TORVA_SOURCE_DIR) + "/examples/wigley/" + f, dir.file(f));
    const FortranRun run = run_in(dir, setup, "/INPUT=wigley.inp");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    const FortranRun r = run_in(dir, inspect, "wigley.inp --vtk wigley.vtu");
    EXPECT_EQ(r.exit_code, 0) << r.output << "\nlisting:\n" << read_text(dir.file("wigley.inp.LIS"));
    // 32 x 10 hull panels and 32 x 8 free-surface panels; 33 x 11 + 33 x 9 nodes.
    EXPECT_NE(r.output.find("576 panels, 660 points"), std::string::npos) << r.output;
    const std::string python = meshio_python();
    if (python.empty()) GTEST_SKIP() << "python3-meshio is not installed: the export was not read back";
    const FortranRun check = run_command(
        python + " -c " +
        shell_quote("import meshio, numpy as np, sys\n"
                    "m = meshio.read(sys.argv[1])\n"
                    "q = m.cells[0].data\n"
                    "w = np.ravel(m.cell_data['weight'][0])\n"
                    "print(m.cells[0].type, len(q), bool(np.all(np.isfinite(m.cell_data['phi'][0]))), w.min(), w.max())\n") +
        " " + shell_quote(dir.file("wigley.vtu")));
    EXPECT_EQ(check.exit_code, 0) << check.output;
    // Without a link section every interior body panel has weight 1 and the others 0.
    EXPECT_NE(check.output.find("quad 576 True 0.0 1.0"), std::string::npos) << check.output;
}

}  // namespace
