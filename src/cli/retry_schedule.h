#pragma once

#include <chrono>
#include <random>

namespace dazoroz::cli {

// The longest wait between two attempts, before the spread.
inline constexpr std::chrono::seconds kLongestRetryWait{600};

// The wait before the `retry`th further attempt (1 for the first): `first` doubled for each
// earlier one, up to kLongestRetryWait, then spread by `spread` (from -1 to 1) times 10 %, so
// that senders that failed together do not all come back at once.
std::chrono::milliseconds retryWait(std::chrono::seconds first, int retry, double spread);

// The same with a random spread.
class RetrySchedule {
public:
    explicit RetrySchedule(std::chrono::seconds first);
    std::chrono::milliseconds wait(int retry);

private:
    std::chrono::seconds first_;
    std::mt19937 random_;
};

} // namespace dazoroz::cli
