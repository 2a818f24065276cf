#include "cli/retry_schedule.h"

#include <algorithm>
#include <cmath>

namespace dazoroz::cli {

std::chrono::milliseconds retryWait(std::chrono::seconds first, int retry, double spread) {
    std::chrono::seconds wait = std::min(first, kLongestRetryWait);
    for (int i = 1; i < retry && wait < kLongestRetryWait; ++i)
        wait = std::min(wait * 2, kLongestRetryWait);
    const double factor = 1.0 + 0.1 * std::clamp(spread, -1.0, 1.0);
    const auto ms = std::chrono::duration<double, std::milli>(wait).count() * factor;
    return std::chrono::milliseconds(std::llround(ms));
}

RetrySchedule::RetrySchedule(std::chrono::seconds first)
    : first_(first), random_(std::random_device{}()) {}

std::chrono::milliseconds RetrySchedule::wait(int retry) {
    std::uniform_real_distribution<double> spread(-1.0, 1.0);
    return retryWait(first_, retry, spread(random_));
}

} // namespace dazoroz::cli
