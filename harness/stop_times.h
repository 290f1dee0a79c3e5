// How the tests judge a run of stops: a stop waits for one 100 ms poll of the running flag and
// the clean-up. The ninth stop in ten is held to that, which a longer poll or a stop waiting on a
// tick would raise in most runs; the slowest only loosely, as a busy machine holds a thread now
// and then.
#ifndef HARNESS_STOP_TIMES_H
#define HARNESS_STOP_TIMES_H

#include <algorithm>
#include <cstddef>
#include <vector>

constexpr long long kStopBoundUs = 100000 + 150000; // one 100 ms poll plus clean-up
constexpr long long kSlowestStopBoundUs = 1000000;

struct StopTimes {
    long long ninthInTenUs;
    long long slowestUs;
    size_t slowest; // which stop, in the order they came
};

inline StopTimes SummariseStops(std::vector<long long> stopsUs) {
    const size_t slowest =
        static_cast<size_t>(std::max_element(stopsUs.begin(), stopsUs.end()) - stopsUs.begin());
    std::sort(stopsUs.begin(), stopsUs.end());
    return {stopsUs[stopsUs.size() * 9 / 10], stopsUs.back(), slowest};
}

#endif
