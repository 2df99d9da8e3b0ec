// Defaults, key lookup and derived values of the run-parameter record (see run_parameters.hpp).
#include "input/run_parameters.hpp"

#include <algorithm>
#include <cctype>
#include <map>

namespace torva {

namespace run_parameters_detail {

std::string padded_text(std::string_view text, std::size_t length)
{
    std::string fixed(text.substr(0, std::min(text.size(), length)));
    fixed.resize(length, ' ');
    return fixed;
}

}  // namespace run_parameters_detail

namespace {

template <bool Const, class T>
void point_at(BasicKeySlot<Const>& slot, T* first, std::size_t count)
{
    using E = std::remove_const_t<T>;
    if constexpr (std::is_same_v<E, float>) slot.reals = first;
    else if constexpr (std::is_same_v<E, int>) slot.integers = first;
    else if constexpr (std::is_same_v<E, bool>) slot.logicals = first;
    else slot.texts = first;
    slot.count = count;
}

template <bool Const, class M>
BasicKeySlot<Const> slot_of(M& member)
{
    BasicKeySlot<Const> slot;
    if constexpr (run_parameters_detail::is_std_array<std::remove_const_t<M>>::value)
        point_at(slot, member.data(), member.size());
    else
        point_at(slot, &member, 1);
    return slot;
}

// Trimmed text equals `value`: a blank-padded "0" is the one-character text "0".
bool text_is(const std::string& text, std::string_view value)
{
    const auto end = text.find_last_not_of(' ');
    const std::size_t length = end == std::string::npos ? 0 : end + 1;
    return std::string_view(text).substr(0, length) == value;
}

}  // namespace

std::array<KeySlot, kTorvaInpKeyCount> key_slots(RunParameters& params)
{
    return {{
#define TORVA_INP_SLOT(name, kind, lower, n1, n2, text_length, dflt) slot_of<false>(params.name),
        TORVA_INP_KEYS(TORVA_INP_SLOT)
#undef TORVA_INP_SLOT
    }};
}

std::array<ConstKeySlot, kTorvaInpKeyCount> key_slots(const RunParameters& params)
{
    return {{
#define TORVA_INP_SLOT(name, kind, lower, n1, n2, text_length, dflt) slot_of<true>(params.name),
        TORVA_INP_KEYS(TORVA_INP_SLOT)
#undef TORVA_INP_SLOT
    }};
}

std::optional<std::size_t> find_key(std::string_view name)
{
    static const std::map<std::string, std::size_t, std::less<>> index = [] {
        std::map<std::string, std::size_t, std::less<>> keys;
        for (std::size_t k = 0; k < kTorvaInpKeys.size(); ++k) keys.emplace(std::string(kTorvaInpKeys[k].name), k);
        return keys;
    }();
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto found = index.find(upper);
    if (found == index.end()) return std::nullopt;
    return found->second;
}

void set_run_parameter_defaults(RunParameters& params)
{
    // Member by member, so that no second 170-kB record is built on the caller's stack.
#define TORVA_INP_DEFAULT(name, kind, lower, n1, n2, text_length, dflt)                          \
    params.name = run_parameters_detail::default_value<                                          \
        run_parameters_detail::member_t<ValueKind::kind, n1, n2>>(dflt, text_length);
    TORVA_INP_KEYS(TORVA_INP_DEFAULT)
#undef TORVA_INP_DEFAULT
}

namespace {

constexpr int kLoadPoints = 100;     // second extent of XLOAD* and BOXLOAD*, extent of ZSHEAR*
constexpr std::size_t kXloadRows = 3;
constexpr std::size_t kBoxloadRows = 6;

struct LoadSet {
    int& nload;
    std::array<float, kXloadRows * kLoadPoints>& xload;
    std::array<float, kBoxloadRows * kLoadPoints>& boxload;
    std::array<float, kLoadPoints>& zshear;
};

int points_held(int count) { return std::clamp(count, 0, kLoadPoints); }

}  // namespace

void derive_run_parameters(RunParameters& params)
{
    auto& p = params;
    if (p.REFSPEEDX == -kHuge) p.REFSPEEDX = p.SPEEDX;           // 1
    if (p.UVRSLAM < 0.0f) p.UVRSLAM = p.SPEEDX;                  // 2

    // 3: the three load sets.
    const std::array<LoadSet, 3> sets = {{
        {p.NLOAD1, p.XLOAD1, p.BOXLOAD1, p.ZSHEAR1},
        {p.NLOAD2, p.XLOAD2, p.BOXLOAD2, p.ZSHEAR2},
        {p.NLOAD3, p.XLOAD3, p.BOXLOAD3, p.ZSHEAR3},
    }};
    for (std::size_t c = 0; c < sets.size(); ++c) {
        const LoadSet& set = sets[c];
        if (p.NLOAD >= 1 && p.ICOMP[c] == 1) {                  // 3a
            set.nload = p.NLOAD;
            for (int k = 1; k <= points_held(p.NLOAD); ++k)
                for (int i = 1; i <= static_cast<int>(kXloadRows); ++i)
                    element_2d(set.xload, kXloadRows, i, k) = element_2d(p.XLOAD, kXloadRows, i, k);
        }
        const int points = points_held(set.nload);
        if (!p.SHEARCENTER)                                      // 3b
            for (int k = 1; k <= points; ++k)
                set.zshear[static_cast<std::size_t>(k - 1)] = element_2d(set.xload, kXloadRows, 3, k);

        bool boxes_given = false;                                // 3c
        for (std::size_t e = 0; e < kBoxloadRows * static_cast<std::size_t>(points); ++e)
            if (set.boxload[e] != kHuge) boxes_given = true;
        if (!boxes_given)
            for (int k = 1; k <= points; ++k) {
                const std::array<float, kBoxloadRows> box = {
                    element_2d(set.xload, kXloadRows, 1, k), kHuge, -kHuge, kHuge, -kHuge, kHuge};
                for (int i = 1; i <= static_cast<int>(kBoxloadRows); ++i)
                    element_2d(set.boxload, kBoxloadRows, i, k) = box[static_cast<std::size_t>(i - 1)];
            }
    }

    if (p.XMTN_RUD > 10000.0f) {                                 // 4
        p.XMTN_RUD = p.XMTN;
        p.YMTN_RUD = p.YMTN;
        p.ZMTN_RUD = p.ZMTN;
    }

    if (!text_is(p.DETFRC, "0") && text_is(p.FILEFRC, "0")) {    // 5
        const auto end = p.DETFRC.find_last_not_of(' ');
        const std::string stem = end == std::string::npos ? std::string() : p.DETFRC.substr(0, end + 1);
        p.FILEFRC = run_parameters_detail::padded_text(stem + "_total.frc", p.FILEFRC.size());
    }

    if (p.ILIN == 0) {                                           // 6
        p.GEOPRESS = false;
        if (p.IBERNOULLI == 1) p.IBERNOULLI = 0;
    }
}

}  // namespace torva
