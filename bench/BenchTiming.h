#pragma once
// Timing of the yardstick programs, which compare our code with another
// library in alternating rounds: processor time of the whole process, and
// the median of the rounds.
#include <algorithm>
#include <ctime>
#include <vector>

namespace bench_timing {

inline double ProcessorSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace bench_timing
