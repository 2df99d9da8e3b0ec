#include "input/parameter_limits.hpp"

#include <cmath>

#include "frame/list_directed.hpp"
#include "frame/run_stop.hpp"

namespace torva {

namespace {

[[noreturn]] void refuse(const char* key, const std::string& value, const std::string& limit)
{
    stop_run({std::string("ERROR: ") + key + " = " + value + " is outside its limit: " + limit});
}

}  // namespace

void check_parameter_limits(const RunParameters& params)
{
    const float alength = params.ALENGTH;
    if (!(alength >= kMinAlength && alength <= kMaxAlength))
        refuse("ALENGTH", format_item(alength),
               "a length scale from " + format_item(kMinAlength) + " to " + format_item(kMaxAlength));
    if (params.N_KERNEL > kMaxKernelCount)
        refuse("N_KERNEL", std::to_string(params.N_KERNEL),
               "at most " + std::to_string(kMaxKernelCount) + " bottom images");
}

int bottom_image_count(float depth, float waterline_length, float sea_depth_given)
{
    const float target = 5.0f * waterline_length;
    // The quotient in double lands on the answer or next to it; the float products decide.
    const double estimate = std::ceil(static_cast<double>(target) / static_cast<double>(depth));
    if (!(estimate <= kMaxKernelCount + 1.0))
        refuse("SEA_DEPTH", format_item(sea_depth_given),
               "a depth that needs at most " + std::to_string(kMaxKernelCount) +
                   " bottom images (5 x the waterline length / the depth; here about " +
                   format_item(static_cast<float>(estimate)) + ")");
    // No waterline (its extent still at the start values) gives a negative length: one image.
    int n = estimate < 1.0 ? 1 : static_cast<int>(estimate);
    while (n > 1 && static_cast<float>(n - 1) * depth >= target) --n;
    while (static_cast<float>(n) * depth < target) ++n;
    if (n > kMaxKernelCount)
        refuse("SEA_DEPTH", format_item(sea_depth_given),
               "a depth that needs at most " + std::to_string(kMaxKernelCount) + " bottom images");
    return n;
}

}  // namespace torva
