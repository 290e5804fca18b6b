#pragma once

// What the benchmarks share: generated projects written as packages and opened in design
// mode, the property-change loop, and waiting on the event loop.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class KRDocument;
class QCoreApplication;
class KRNodeRunner;
class KRObject;
class KRProject;

namespace KRBench {

// The project XML of `pages` pages ("page1", "Page 1", ...) with `objectsPerPage` objects
// each; `objectXML(o)` gives the element of object o (1-based), one to a line.
QByteArray generatedProjectXML(int pages, int objectsPerPage, const std::function<QByteArray(int)> &objectXML);

// Writes "<folder>/Bench.krproj" (with its empty web folder) holding the project XML.
QString writePackage(const QString &folder, const QByteArray &projectXML);

struct Opened
{
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
};

// The package opened in design mode; empty on any failure.
Opened openProject(const QString &package);

// Opens the package once an iteration; an error when it fails or has not the given size. With a
// figure name, the mean time of an opening is that figure, in ms, with its target (below).
void openRepeatedly(benchmark::State &state, const QString &package, int pages, int objectsPerPage,
                    const std::string &figure = {}, double targetMs = 0);

// Every object of every page of the project, in order.
std::vector<std::shared_ptr<KRObject>> allObjects(const Opened &opened);

// Opens the package (an error when it fails); each iteration then changes 10,000 properties
// spread over all its objects, cycling through `keys`; the time per change is the counter
// "per_change" and, with a figure name, that figure in µs with its target (below).
void changeProperties(benchmark::State &state, const QString &package, const std::vector<const char *> &keys,
                      const std::string &figure = {}, double targetMicroseconds = 0);

// Starts a runtime server of its own on a free port with the folder as its document root, for
// a floor's pages: the application's pages stay with the application's server. Null (and
// nothing started) when node is not installed.
std::unique_ptr<KRNodeRunner> startFloorServer(const QString &documentRoot);

// Points XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and XDG_STATE_HOME at sub-folders of
// the folder, so that the user's own settings and files stay out of the measurement.
void usePrivateUserFolders(const QString &folder);

// What a benchmark's main() that reads the application's settings sets up first, in this order:
// private per-user folders (above) in a temporary folder, the Qt application, and the benchmark
// library's options taken from the arguments. Both folder and application last as long as it.
class PrivateApplication
{
public:
    PrivateApplication(int &argc, char **argv);
    ~PrivateApplication();
    PrivateApplication(const PrivateApplication &) = delete;
    PrivateApplication &operator=(const PrivateApplication &) = delete;

    // The temporary folder holding the per-user folders.
    QString home() const { return m_home.path(); }

private:
    QTemporaryDir m_home;
    std::unique_ptr<QCoreApplication> m_application;
};

// Peak resident memory of the program since the last resetPeakResident(), in KiB (Linux; -1
// when unknown).
long peakResidentKiB();
void resetPeakResident();
// The same summed over the program and every process it started and that still runs: the web
// engine's processes (renderers, GPU and utility processes) and the runtime server, each since
// the last resetProcessTreePeakResident() (Linux; -1 when unknown). A process that has ended
// is no longer counted.
long processTreePeakResidentKiB();
void resetProcessTreePeakResident();
// The processor time process `pid` has used so far, all its threads together, in ms (Linux; -1
// when unknown).
double processorMs(qint64 pid);
// The same for this program (to the nanosecond) and every process it started and that still
// runs: the web engine's processes and the runtime server.
double processTreeProcessorMs();

// Runs the event loop until the predicate holds, checking it at least every `pollMilliseconds`;
// false when the time ran out first.
bool waitUntil(const std::function<bool()> &predicate, int milliseconds, int pollMilliseconds = 5);

// A live view mirroring 1,000 edits made in one go: each iteration makes the edits, flushes,
// and is timed (manual time) from the flush until `inStep` holds (an error after 10 s); the
// counter "model_ms" is the time of the edits themselves, the figure `name` the mean time over
// `targetMs`. `afterEach` runs after each timing.
void mirrorThousandEdits(benchmark::State &state, const std::string &name, double targetMs,
                         const std::function<void()> &edit, const std::function<void()> &flush,
                         const std::function<bool()> &inStep, const std::function<void()> &afterEach = {});

// The round trip of a single edit: each iteration is one edit, timed until `inStep` holds; the
// figure `name` is the mean time over `targetMs`.
void timeEditRoundTrips(benchmark::State &state, const std::string &name, double targetMs,
                        const std::function<void()> &edit, const std::function<bool()> &inStep);

} // namespace KRBench
