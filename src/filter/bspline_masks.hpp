// Refinement masks of the quadratic B-spline for the integer dilations h = 2..10.
//
// With b_h the box of h ones, (b_h)(k) = 1 for k = 1..h, the discrete quadratic B-spline of
// dilation h is the triple convolution
//
//     c_h(k) = (b_h * b_h * b_h)(k) / h^2,        k = 1 .. 3h - 2,                      (1)
//
// each value rounded once to single precision (the integer numerator and h^2 are exact in
// float, so one float division is the correctly rounded value).  Two properties follow from
// (1) and are what makes c_h the prolongation of a coarse quadratic spline:
//
//     sum_k c_h(k) = h^3 / h^2 = h,                                                      (2)
//     sum_J c_h(k + J h) = 1 for every k    (the h-shifts form a partition of unity),    (3)
//
// (3) because the h-periodised box is the constant 1, and each further convolution with
// b_h multiplies that constant by h.  For example c_2 = (1, 3, 3, 1)/4 and
// c_3 = (1, 3, 6, 7, 6, 3, 1)/9.
//
// The tables are computed by the compiler from (1), so no number is typed by hand.
#pragma once

#include <array>
#include <cstddef>
#include <span>

namespace torva {

inline constexpr int kMinFilterFactor = 2;
inline constexpr int kMaxFilterFactor = 10;
// Longest mask: 3 * 10 - 2 entries.
inline constexpr int kMaxMaskLength = 3 * kMaxFilterFactor - 2;

// Length 3h - 2 of the mask of dilation h.
[[nodiscard]] constexpr int mask_length(int h) noexcept { return 3 * h - 2; }

namespace detail {

// Integer numerators (b_h * b_h * b_h)(k), k = 1..3h-2, stored from index 0.
constexpr std::array<long, kMaxMaskLength> triple_box_convolution(int h)
{
    std::array<long, kMaxMaskLength> once{};   // b_h
    for (int k = 0; k < h; ++k) once[k] = 1;
    auto convolve_with_box = [h](const std::array<long, kMaxMaskLength>& g, int g_length) {
        std::array<long, kMaxMaskLength> out{};
        for (int k = 0; k < g_length + h - 1; ++k)
            for (int m = 0; m < h; ++m)
                if (k - m >= 0 && k - m < g_length) out[k] += g[k - m];
        return out;
    };
    const auto twice = convolve_with_box(once, h);           // length 2h - 1
    return convolve_with_box(twice, 2 * h - 1);               // length 3h - 2
}

constexpr std::array<float, kMaxMaskLength> bspline_mask_values(int h)
{
    const auto numerators = triple_box_convolution(h);
    std::array<float, kMaxMaskLength> mask{};
    for (int k = 0; k < mask_length(h); ++k)
        mask[k] = static_cast<float>(numerators[k]) / static_cast<float>(h * h);   // (1)
    return mask;
}

constexpr std::array<std::array<float, kMaxMaskLength>, kMaxFilterFactor + 1> all_masks()
{
    std::array<std::array<float, kMaxMaskLength>, kMaxFilterFactor + 1> masks{};
    for (int h = kMinFilterFactor; h <= kMaxFilterFactor; ++h) masks[h] = bspline_mask_values(h);
    return masks;
}

inline constexpr auto kBsplineMasks = all_masks();

}  // namespace detail

// The mask c_h, entries c_h(1..3h-2) at indices 0..3h-3; an empty span for h outside 2..10.
[[nodiscard]] constexpr std::span<const float> bspline_mask(int h) noexcept
{
    if (h < kMinFilterFactor || h > kMaxFilterFactor) return {};
    return std::span<const float>(detail::kBsplineMasks[h].data(),
                                  static_cast<std::size_t>(mask_length(h)));
}

}  // namespace torva
