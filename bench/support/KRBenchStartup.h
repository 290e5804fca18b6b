#pragma once

// The main of the benchmarks of the application's windows and widgets: the application as
// main() makes it (KRApplicationStartup, with every service it installs and nothing else), for
// a returning user with folders of its own and no hosting service to reach, run until its
// launch is over (the gallery on screen, the blank project open); then the benchmarks.

#include <functional>

namespace KRBench {

// Offscreen unless QT_QPA_PLATFORM names another platform. setUp runs once the launch is over,
// tearDown after the benchmarks while the application still exists; figures with targets are
// printed last. Returns main's exit code.
int runStartedApplication(int argc, char **argv, const std::function<void()> &setUp = {},
                          const std::function<void()> &tearDown = {});

} // namespace KRBench
