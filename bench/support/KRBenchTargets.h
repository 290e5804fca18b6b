#pragma once

// Figures that have a target. Each is printed once its program has run its benchmarks, as one
// line that `make bench` collects into its closing table:
//
//   KRBENCH <name> <value> <unit> <target>
//
// name is one word ("typing_over_plain"), value a number, unit one word ("x" for a ratio, "ms",
// "MB", "frames", ...), and target the comparison the value must pass, with no space in it:
// "<=1.2", "<2", ">=1", ">0.67". A program without this header prints the same line itself.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace KRBench {

enum class Bound { AtMost, Below, AtLeast, Above };

struct TargetedFigure
{
    std::string name;
    double value = 0;
    std::string unit;
    double target = 0;
    Bound bound = Bound::AtMost;
};

inline const char *boundOperator(Bound bound)
{
    switch (bound) {
    case Bound::AtMost:
        return "<=";
    case Bound::Below:
        return "<";
    case Bound::AtLeast:
        return ">=";
    case Bound::Above:
        return ">";
    }
    return "<=";
}

// The line of one figure, printed at once.
inline void printFigure(const std::string &name, double value, const std::string &unit, double target,
                        Bound bound = Bound::AtMost)
{
    std::printf("KRBENCH %s %.4g %s %s%g\n", name.c_str(), value, unit.c_str(), boundOperator(bound), target);
    std::fflush(stdout);
}

inline std::vector<TargetedFigure> &targetedFigures()
{
    static std::vector<TargetedFigure> figures;
    return figures;
}

// The lines of the figures reported so far, in the order they were first reported; each once.
inline void printTargets()
{
    for (const TargetedFigure &figure : targetedFigures())
        printFigure(figure.name, figure.value, figure.unit, figure.target, figure.bound);
    targetedFigures().clear();
}

// The counter `name` of the benchmark, printed by printTargets (at the latest when the program
// exits); the benchmark library may run a benchmark more than once while it settles its
// iterations, and the last report counts.
inline void reportTarget(benchmark::State &state, const std::string &name, double value, const std::string &unit,
                         double target, Bound bound = Bound::AtMost)
{
    state.counters[name] = value;
    std::vector<TargetedFigure> &figures = targetedFigures();
    static const bool printedAtExit = [] { return std::atexit(printTargets) == 0; }();
    (void)printedAtExit;
    for (TargetedFigure &figure : figures) {
        if (figure.name == name) {
            figure = {name, value, unit, target, bound};
            return;
        }
    }
    figures.push_back({name, value, unit, target, bound});
}

// A ratio ("x"), most often a time over the time it should take at most (target 1).
inline void reportTarget(benchmark::State &state, const std::string &name, double value, double target,
                         Bound bound = Bound::AtMost)
{
    reportTarget(state, name, value, "x", target, bound);
}

// Wall time since it was made (or restarted), for a figure of a benchmark's loop.
class LoopClock
{
public:
    void restart() { m_start = std::chrono::steady_clock::now(); }
    double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count(); }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

} // namespace KRBench
