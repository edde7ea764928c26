#pragma once

#include <span>
#include <string>

namespace bench {

// One line the program prints after its runs: how a benchmark compares with its reference.
struct Ratio {
    // A benchmark's name: one line for it, or for each of its runs with arguments.
    std::string benchmark;
    // The run it is measured against, by processor time per iteration (see wallClock)...
    std::string reference;
    // ...or, with no reference, a counter of the run's own that already is a ratio (measured
    // against a theory rather than another run).
    std::string counter = {};
    // Compare wall-clock time instead of processor time: for work that runs on other threads
    // or in another process while the benchmark's own thread waits.
    bool wallClock = false;
    // The ratio this benchmark should stay at or below; 0 when it has none. Printed beside the
    // ratio, with whether it is met, so a run reads as a check of the goals.
    double goal = 0;
};

// The main of every benchmark program: runs the benchmarks the command line selects, as the
// library's own main would, then prints one line per ratio whose runs took place:
//   ratio <benchmark> / <reference>: <x>
// (with " (wall clock)" after the reference for ratios of wall-clock time, and
// "  goal <= <g>: met" or "... missed" after the ratio where the benchmark has a goal).
// A run that failed or was not selected gives no line.
int runWithRatios(int argc, char** argv, std::span<const Ratio> ratios);

}  // namespace bench
