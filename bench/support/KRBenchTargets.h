#pragma once

// Figures that have a target: each is a counter of its benchmark and, once the program has run
// its benchmarks, a line of its own beside its target ("typing_over_plain 1.14 (target ≤ 1.2)"),
// so that `make bench` says at a glance what is met.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace KRBench {

enum class Bound { AtMost, Below };

struct TargetedFigure
{
    std::string name;
    double value = 0;
    double target = 0;
    Bound bound = Bound::AtMost;
};

inline std::vector<TargetedFigure> &targetedFigures()
{
    static std::vector<TargetedFigure> figures;
    return figures;
}

// The counter `name` of the benchmark, kept for printTargets; the benchmark library may run a
// benchmark more than once while it settles its iterations, and the last report counts.
inline void reportTarget(benchmark::State &state, const std::string &name, double value, double target,
                         Bound bound = Bound::AtMost)
{
    state.counters[name] = value;
    for (TargetedFigure &figure : targetedFigures()) {
        if (figure.name == name) {
            figure = {name, value, target, bound};
            return;
        }
    }
    targetedFigures().push_back({name, value, target, bound});
}

// One line a figure, in the order they were first reported; "missed" marks a target not met.
inline void printTargets()
{
    if (targetedFigures().empty())
        return;
    std::printf("Figures against their targets:\n");
    for (const TargetedFigure &figure : targetedFigures()) {
        const bool met = figure.bound == Bound::AtMost ? figure.value <= figure.target : figure.value < figure.target;
        std::printf("  %s %.3g (target %s %g)%s\n", figure.name.c_str(), figure.value,
                    figure.bound == Bound::AtMost ? "\u2264" : "<", figure.target, met ? "" : "  missed");
    }
    std::fflush(stdout);
}

} // namespace KRBench
