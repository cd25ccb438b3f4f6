// Timing for the benchmark programs: a millisecond clock, and the best or the median of a few runs,
// so that one disturbed run does not count.
#pragma once
#include <windows.h>
#include <algorithm>
#include <vector>

const int Runs = 5;

inline double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return counter.QuadPart * 1000.0 / frequency.QuadPart;
}

// The shortest of `Runs` runs of `run`, in milliseconds.
template <class F>
double BestOf(F run)
{
    double best = 1e9;
    for (int i = 0; i < Runs; ++i) {
        double start = Now();
        run();
        best = std::min(best, Now() - start);
    }
    return best;
}

// The median of `runs` runs of `run`, in milliseconds: a figure a user meets, where the best of a
// few is one nothing disturbed.
template <class F>
double MedianOf(int runs, F run)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        run();
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
