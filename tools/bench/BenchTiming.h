// Timing for the benchmark programs: a millisecond clock and the best of a few runs, so that one
// disturbed run does not count.
#pragma once
#include <windows.h>
#include <algorithm>

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
