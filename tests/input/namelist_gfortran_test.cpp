// Our namelist files judged by gfortran's run-time library: it reads our echo and writes the
// group back with its own namelist WRITE, which our reader then reads.  Both directions are
// checked against values chosen in the test, so neither side can agree with itself by mistake.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "input/namelist_test_support.hpp"
#include "input/namelist_writer.hpp"
#include "support/run_program.hpp"

namespace torva {
namespace {

using input_testing::fill_distinctive;
using input_testing::fortran_declarations;
using input_testing::fresh_parameters;
using input_testing::read_text;
using input_testing::same_parameters;
using torva::testing::run_command;
using torva::testing::shell_quote;
using torva::testing::TempDir;
using torva::testing::write_text;

std::string echo_of(const RunParameters& params)
{
    std::ostringstream out;
    write_torva_inp(out, params);
    return out.str();
}

// gfortran reads our echo and its own write reads back to every value we set; it agrees with
// our reader on every value form and refuses what our reader refuses.
TEST(namelist_gfortran, reads_our_echo_agrees_on_every_value_form_and_refuses_what_we_refuse)
{
    // The judging program (tests/fortran/namelist_roundtrip.f90 with the group's declarations):
    // it reads base.nml and, when given, change.nml, and writes the group to out.nml; exit
    // code 3 when a read fails.
    TempDir dir("namelist");
    write_text(dir.file("torva_inp_decl.inc"), fortran_declarations());
    const auto build = run_command(std::string(TORVA_FORTRAN_COMPILER) + " -I" + shell_quote(dir.path().string()) + " -o " +
                                   shell_quote(dir.file("judge")) + " " +
                                   shell_quote(std::string(TORVA_SOURCE_DIR) + "/tests/fortran/namelist_roundtrip.f90"));
    ASSERT_EQ(build.exit_code, 0) << build.output;
    std::string output;
    const auto judge = [&](const std::string& base, const std::string* change) {
        write_text(dir.file("base.nml"), base);
        std::filesystem::remove(dir.file("change.nml"));
        std::filesystem::remove(dir.file("out.nml"));
        if (change) write_text(dir.file("change.nml"), *change);
        const auto result = run_command("cd " + shell_quote(dir.path().string()) + " && ./judge");
        output = result.output;
        return result.exit_code;
    };
    const auto written_by_judge = [&] { return torva::testing::read_text(dir.file("out.nml")); };

    auto set = fresh_parameters();
    fill_distinctive(*set);
    ASSERT_EQ(judge(echo_of(*set), nullptr), 0) << output;

    // gfortran's file pads every text to its length, puts a text array on one line and
    // writes reals with nine digits; every key of it must come back as we set it.
    const std::string written = written_by_judge();
    ASSERT_NE(written.find("&TORVA_INP"), std::string::npos) << written.substr(0, 200);
    auto parsed = fresh_parameters();
    const NamelistStatus status = read_text(written, *parsed);
    ASSERT_TRUE(status.ok()) << "line " << status.line << ": " << status.message;
    EXPECT_TRUE(same_parameters(*set, *parsed));

    // Every value form: defaults first (so that both sides start from the same record), then this deck on top.
    const std::string deck =
        "run of 5 May: any text before the group, and another group, is passed over\n"
        "&SOLVE_INP TMAX = 100.0 /\n"
        "&torva_inp   ! the group name in lower case, a comment after it\n"
        " alength = 2.5D0, Grav=9.80665 , density= 1.025e3\n"
        " INFORDER=2 , ISPLINE(0) = 0\n"
        " SDIS0(3) = 1.5, 2.5, 3.5\n"
        " SVEL0 = 3*-1.25, 2*, 7.0e-3\n"
        " PERIOD = 1.0,,3.0 , , 5\n"
        " BETA = , 2.0\n"
        " XLOAD(2,3) = 4.0 5.0\n"
        " XLOAD1(1:3:2, 2) = 11.0, 13.0\n"
        " XLOAD2(3, 1:2) = -1, -2\n"
        " ICOMP = 1 0 1\n"
        " ICOMP(3:1:-1) = 30, 20 10\n"
        " IPRSTERM = .TRUE. .f. T F\n"
        " B_FILTER = .t.\n"
        " DELETE_FILE(998) = T t\n"
        " FILE_SSG = 'hull''s \"mesh\".ssg', FILEJOU = \"ship \"\"a\"\" 'b'\"\n"
        " FILE_SHAPE(2) = 2*'s!/x', 'plain'\n"
        " AMPLTD = 1.5+3, -.5E-2, 1e-3 2q1 0.1 1e-42 3.4028235e38 16777217 1e-60 -0.0 0.333333343267 +3. -inf\n"
        " ADD_DAMP(6,6) = -1.0\n"
        " TITLEVTF = 'comma, slash / excl ! amp & eq ='\n"
        " MFFB = 2*7 3, 0000000000000000001\n"
        " PAE_X(4999) = 1 2\n"
        " SPEEDX = 5.0  SPEEDX = 6.0\n"
        " ILIN=-3, IFSBC = +3\n"
        " ANIMTYPE = 'vwxyz'\n"
        "/\n"
        "text after the group is not read: garbage &%$\n";
    auto base = fresh_parameters();
    ASSERT_EQ(judge(echo_of(*base), &deck), 0) << output;

    auto theirs = fresh_parameters();
    const NamelistStatus their_status = read_text(written_by_judge(), *theirs);
    ASSERT_TRUE(their_status.ok()) << their_status.message;
    auto ours = fresh_parameters();
    const NamelistStatus our_status = read_text(deck, *ours);
    ASSERT_TRUE(our_status.ok()) << "line " << our_status.line << ": " << our_status.message;
    EXPECT_TRUE(same_parameters(*theirs, *ours));

    // And a few of the values worked by hand, so that a shared misreading cannot pass.
    EXPECT_EQ(ours->ISPLINE[0], 0);
    EXPECT_EQ(ours->SDIS0[4], 3.5f);
    EXPECT_EQ(ours->SVEL0[2], -1.25f);
    EXPECT_EQ(ours->SVEL0[5], 7.0e-3f);
    EXPECT_EQ(ours->AMPLTD[0], 1500.0f);
    EXPECT_EQ(ours->AMPLTD[7], 16777216.0f);
    EXPECT_EQ(ours->AMPLTD[11], 3.0f);
    EXPECT_EQ(ours->ICOMP, (std::array<int, 3>{10, 20, 30}));
    EXPECT_EQ(ours->SPEEDX, 6.0f);
    EXPECT_EQ(ours->MFFB[3], 1);
    EXPECT_EQ(ours->ANIMTYPE, "vwx");

    // And both refuse the same faults, at the same line.
    const std::string echo = echo_of(*base);
    const char* const bad_items[] = {
        "NO_SUCH_KEY = 1",          // unknown key
        "ISPLINE(2) = 1",           // index out of the bounds 0:1
        "INFORDER = 1.5",           // a real for an integer
        "ALENGTH = 1.0, 2.0",       // two values for a scalar
        "FILE_SSG = hull.ssg",      // a text without delimiters
        "ICOMP = 1 2 3 4",          // more values than elements
        "INFORDER = 2147483648",    // beyond a 32-bit integer
    };
    for (const char* item : bad_items) {
        const std::string bad = std::string("&TORVA_INP\n ") + item + "\n/\n";
        EXPECT_EQ(judge(echo, &bad), 3) << item << ": " << output;
        auto refused = fresh_parameters();
        const NamelistStatus status = read_text(bad, *refused);
        EXPECT_FALSE(status.ok()) << item;
        EXPECT_EQ(status.line, 2) << item << ": " << status.message;
    }
}

}  // namespace
}  // namespace torva
