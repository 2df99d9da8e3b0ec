// The key table against the group's declaration, the defaults, and the derived values worked
// by hand.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frame/run_stop.hpp"
#include "input/namelist_test_support.hpp"
#include "input/parameter_limits.hpp"

namespace torva {
namespace {

using input_testing::fresh_parameters;
using input_testing::same_parameters;

std::string fixed_text_200(const std::string& text) { return text + std::string(200 - text.size(), ' '); }

TEST(run_parameters, key_table_has_the_declared_count_of_each_type_and_shape)
{
    // The group declares 61 real, 58 integer and 15 logical scalars, 35 texts of 200, 4 of 80
    // and 1 of 3 characters, 16 integer, 84 real, 2 logical and 1 text array.
    std::map<std::string, int> counts;
    std::set<std::string_view> names;
    for (const KeyInfo& key : kTorvaInpKeys) {
        names.insert(key.name);
        const char* kinds[] = {"real", "integer", "logical", "text"};
        ++counts[std::string(kinds[static_cast<int>(key.kind)]) + (key.is_array() ? " array" : " scalar") +
                 (key.kind == ValueKind::Text ? " " + std::to_string(key.text_length) : "")];
    }
    EXPECT_EQ(names.size(), kTorvaInpKeyCount);
    const std::map<std::string, int> declared = {
        {"real scalar", 61}, {"integer scalar", 58}, {"logical scalar", 15}, {"text scalar 200", 35},
        {"text scalar 80", 4}, {"text scalar 3", 1}, {"integer array", 16}, {"real array", 84},
        {"logical array", 2}, {"text array 200", 1}};
    EXPECT_EQ(counts, declared);
    const KeyInfo& ispline = kTorvaInpKeys[*find_key("ISPLINE")];
    EXPECT_EQ(ispline.lower, 0);
    EXPECT_EQ(ispline.count(), 2u);
    EXPECT_EQ(kTorvaInpKeys[*find_key("boxload3")].count(), 600u);
    EXPECT_EQ(kTorvaInpKeys.back().name, "DAMPRAMP");
}

TEST(run_parameters, defaults_are_those_the_setup_relies_on_and_are_restored)
{
    auto p = fresh_parameters();
    EXPECT_EQ(std::vector<float>({p->ALENGTH, p->SEA_DEPTH, p->REFSPEEDX, p->XMTN_RUD, p->BOXLOAD2[599], p->VISCOSITY,
                                  p->TDPRS2}),
              std::vector<float>({1.0f, -1.0f, -FLT_MAX, FLT_MAX, FLT_MAX, 1.14e-6f, -2.0f}));
    EXPECT_EQ(std::vector<int>({p->INFORDER, p->INFMETH, p->IFSBC, p->N_KERNEL, p->ISPLINE[0], p->ISPLINE[1],
                                p->NSTATION_MAN, p->B_FILTER, p->MOOR_STERN}),
              std::vector<int>({1, -1, 1, 0, 1, 1, 200, 0, 1}));
    EXPECT_EQ(p->FILE_FS, "0" + std::string(199, ' '));
    EXPECT_EQ(p->FILESTATUS, "new" + std::string(77, ' '));
    EXPECT_EQ(p->REGOUT.substr(0, 15), "torva_reg.dump ");
    EXPECT_EQ(p->ANIMTYPE, "   ");
    input_testing::fill_distinctive(*p);
    set_run_parameter_defaults(*p);
    EXPECT_TRUE(same_parameters(RunParameters{}, *p));
}

TEST(run_parameters, load_sets_copy_points_shear_heights_and_boxes_as_worked_by_hand)
{
    auto p = fresh_parameters();
    p->NLOAD = 2;
    p->ICOMP = {1, 0, 1};
    p->NLOAD2 = 1;
    for (int i = 1; i <= 3; ++i) {
        element_2d(p->XLOAD, 3, i, 1) = static_cast<float>(i);         // XLOAD points (1, 2, 3) and (4, 5, 6)
        element_2d(p->XLOAD, 3, i, 2) = static_cast<float>(i + 3);
        element_2d(p->XLOAD2, 3, i, 1) = static_cast<float>(i + 6);    // set 2 keeps its own point (7, 8, 9)
    }
    element_2d(p->BOXLOAD3, 6, 4, 2) = 0.5f;   // set 3 has a box given for its point 2
    p->ZSHEAR3[2] = 42.0f;                     // beyond NLOAD3 = 2: untouched
    derive_run_parameters(*p);
    constexpr float H = FLT_MAX;
    // Set 1: every box was HUGE, so each becomes (x, HUGE, -HUGE, HUGE, -HUGE, HUGE); set 2
    // is not copied; set 3 had one box value given: its boxes are kept as they were.
    const std::pair<float, float> checks[] = {
        {p->NLOAD1, 2}, {p->NLOAD2, 1}, {p->NLOAD3, 2}, {element_2d(p->XLOAD1, 3, 3, 2), 6},
        {element_2d(p->XLOAD3, 3, 1, 1), 1}, {element_2d(p->XLOAD2, 3, 1, 2), 0}, {p->ZSHEAR1[0], 3},
        {p->ZSHEAR1[1], 6}, {p->ZSHEAR2[0], 9}, {p->ZSHEAR2[1], 0}, {p->ZSHEAR3[2], 42},
        {element_2d(p->BOXLOAD1, 6, 1, 2), 4}, {element_2d(p->BOXLOAD1, 6, 2, 2), H}, {element_2d(p->BOXLOAD1, 6, 3, 2), -H},
        {element_2d(p->BOXLOAD1, 6, 4, 2), H}, {element_2d(p->BOXLOAD1, 6, 5, 2), -H}, {element_2d(p->BOXLOAD1, 6, 6, 2), H},
        {element_2d(p->BOXLOAD1, 6, 1, 3), H}, {element_2d(p->BOXLOAD2, 6, 1, 1), 7},
        {element_2d(p->BOXLOAD3, 6, 1, 1), H}, {element_2d(p->BOXLOAD3, 6, 4, 2), 0.5f}};
    for (std::size_t k = 0; k < std::size(checks); ++k) EXPECT_EQ(checks[k].first, checks[k].second) << "check " << k;

    // Given shear centres stay; without NLOAD no set takes XLOAD's points.
    auto q = fresh_parameters();
    q->SHEARCENTER = true;
    q->ICOMP = {1, 1, 1};
    q->NLOAD1 = 1;
    element_2d(q->XLOAD1, 3, 3, 1) = 2.0f;
    element_2d(q->XLOAD, 3, 3, 1) = 5.0f;
    q->ZSHEAR1[0] = -1.0f;
    derive_run_parameters(*q);
    EXPECT_EQ(element_2d(q->XLOAD1, 3, 3, 1), 2.0f);
    EXPECT_EQ(q->ZSHEAR1[0], -1.0f);
}

TEST(run_parameters, speeds_rudder_point_frc_file_and_linear_run_follow_their_rules)
{
    // The rules themselves are worked in the get_namelist test; here their limits.
    auto q = fresh_parameters();
    q->SPEEDX = 5.0f;
    q->REFSPEEDX = 0.0f;
    q->UVRSLAM = 0.0f;                      // 0 is not below 0: kept
    q->XMTN_RUD = 10000.0f;                 // not above 10000: kept
    q->GEOPRESS = true;                     // cleared in a linear run
    q->DETFRC = fixed_text_200("ship");
    q->FILEFRC = fixed_text_200("mine.frc");
    q->ILIN = 0;
    q->IBERNOULLI = 2;                      // only 1 is cleared
    derive_run_parameters(*q);
    EXPECT_EQ(std::vector<float>({q->REFSPEEDX, q->UVRSLAM, q->XMTN_RUD}), std::vector<float>({0.0f, 0.0f, 10000.0f}));
    EXPECT_FALSE(q->GEOPRESS);
    EXPECT_EQ(q->FILEFRC, fixed_text_200("mine.frc"));
    EXPECT_EQ(q->IBERNOULLI, 2);

    auto r = fresh_parameters();
    r->ILIN = 1;
    r->GEOPRESS = true;
    r->XMTN = 1.0f, r->YMTN = 2.0f, r->ZMTN = 3.0f;   // an unset rudder point follows the motion centre
    derive_run_parameters(*r);
    EXPECT_EQ(std::vector<float>({r->XMTN_RUD, r->YMTN_RUD, r->ZMTN_RUD}), std::vector<float>({1.0f, 2.0f, 3.0f}));
    EXPECT_TRUE(r->GEOPRESS);
    EXPECT_EQ(r->IBERNOULLI, 1);
    EXPECT_EQ(r->FILEFRC, fixed_text_200("0"));   // DETFRC "0": nothing derived
}

}  // namespace
}  // namespace torva

namespace torva {
namespace {

// The bottom-image count, computed directly, is the count its definition gives by counting
// up: the smallest n >= 1 with n x depth >= 5 x waterline length in float arithmetic.
TEST(parameter_limits, bottom_image_count_is_the_counted_one_up_to_its_limit)
{
    std::mt19937 random(17u);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int trial = 0; trial < 20000; ++trial) {
        const float length = 0.01f + 100.0f * unit(random);
        const float depth = length * (0.005f + 3.0f * unit(random)) * (trial % 7 == 0 ? 1.0f : unit(random) + 0.01f);
        int counted = 1;
        while (static_cast<float>(counted) * depth < 5.0f * length && counted <= kMaxKernelCount) ++counted;
        if (counted > kMaxKernelCount) {
            EXPECT_THROW((void)bottom_image_count(depth, length, depth), RunStopped) << depth << " " << length;
            continue;
        }
        ASSERT_EQ(bottom_image_count(depth, length, depth), counted) << depth << " " << length;
    }
    EXPECT_EQ(bottom_image_count(1.0f, -2.0e15f, 1.0f), 1);   // no waterline
    EXPECT_EQ(bottom_image_count(1.0f, 200.0f, 1.0f), kMaxKernelCount);   // the limit itself, and one past it
    EXPECT_THROW((void)bottom_image_count(1.0f, 200.1f, 1.0f), RunStopped);
}

}  // namespace
}  // namespace torva
