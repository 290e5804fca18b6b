// Building a generated project of 40 objects a page (three controls of the real control library
// and one function in every four, plus a header toolbar: 41 objects the page; the controls mix
// plain HTML controls, jQuery Mobile widgets, list views, graphs and galleries) into a web
// folder holding only the user's files, minifying off: every page made afresh with design mode
// off, its output written, the libraries copied, the manifest and the list of generated files
// written. The build's time is that of KRProjectBuilder::build alone (the project is open and
// its resource list read before).
//
// Figures with a target, on a memory file system (/dev/shm), so that they measure the builder
// and not the disk:
// - "build_us_per_object_1thread": the median build time of the 50-page project on one thread
//   (what the work itself costs) over its number of objects, in µs;
// - "build_per_object_<N>_over_50_pages": the same time per object of 200 and 1,000 pages over
//   that of 50 pages (a build whose cost grows faster than its project shows here), both
//   projects open and built in turns, so that both meet whatever else the machine runs alike;
// - "build_peak_MB_<threads>": each 50-page run's peak resident memory, which includes the open
//   project (pages with their design documents; "open_MB" once it is open), the catalogue, the
//   libraries and what the benchmark itself holds. Each run starts from what the runs before
//   left allocated; the event loop runs once a project is open and once it is closed, as in the
//   application.
// For information only: the 50-page build on four threads (the calling thread writes the files
// that are no pages meanwhile, as in the application), the peak memory of the larger projects
// (with the 50-page one open beside them) and, for every run, the build over a copy
// of its output (exactly the files it wrote, same sizes, the folders they need, copied in this
// process with read and write into a fresh folder of the same file system, timed in the same
// iteration right after the build): that ratio is mostly the file system's, from a few times
// on a disk to thirty and more on a memory file system. And the 50-page build on one thread on
// the temporary folder's disk.
// After the table each figure is printed beside its target, then the informative lines.

#include <bench/support/KRBenchMixedProject.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <builder/KRBuilderSetup.h>
#include <builder/KRProjectBuildSource.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRDocument.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRResources.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray filler(const char *prefix, int size)
{
    QByteArray bytes = "/* ";
    bytes += prefix;
    bytes += " */\n";
    while (bytes.size() < size)
        bytes += "var a=function(b){return b+1};\n";
    return bytes;
}

// Library and runtime files of about the shipped sizes.
QString makeResources(const QString &folder)
{
    const QString server = folder + QStringLiteral("/local-server/");
    writeFile(folder + QStringLiteral("/runtime/KRObjects-min.js"), filler("runtime", 60000));
    writeFile(server + QStringLiteral("jquery-1.9.0/jquery.min.js"), filler("jquery", 93000));
    writeFile(server + QStringLiteral("js-class.js"), filler("classes", 8000));
    writeFile(server + QStringLiteral("bluff-src.js"), filler("charts", 40000));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe.min.js"), filler("gallery", 40000));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe-ui-default.min.js"), filler("gallery UI", 20000));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe.css"), filler("gallery styles", 10000));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.css"), filler("skin", 10000));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.png"), QByteArray(3000, 'x'));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.svg"), QByteArray(3000, 'x'));
    writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/preloader.gif"), QByteArray(3000, 'x'));
    return folder;
}

void fillUserFiles(const QString &web)
{
    for (int i = 0; i < 30; ++i)
        writeFile(web + QStringLiteral("/images/photo%1.jpg").arg(i), QByteArray(20000, 'j'));
    writeFile(web + QStringLiteral("/app.css"), "body { color: black; }\n");
}

// The files below the folder, by path relative to it, hidden ones too.
QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    const QDir root(folder);
    while (it.hasNext())
        files.append(root.relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The peer of a build: the same files, of the same sizes, copied from one folder into an
// empty one in this process, one by one with read and write (the folders they need made on
// the way). Returns the bytes copied, -1 on any failure.
qint64 copyFiles(const QString &from, const QString &to, const QStringList &files, std::vector<char> &buffer)
{
    qint64 bytes = 0;
    QString madeFolder;
    for (const QString &file : files) {
        const QString target = to + QLatin1Char('/') + file;
        const QString folder = QFileInfo(target).path();
        if (folder != madeFolder) {
            QDir().mkpath(folder);
            madeFolder = folder;
        }
        const int in = ::open(QFile::encodeName(from + QLatin1Char('/') + file).constData(), O_RDONLY | O_CLOEXEC);
        const int out = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = in >= 0 && out >= 0;
        for (ssize_t n; ok && (n = ::read(in, buffer.data(), buffer.size())) != 0;) {
            ok = n > 0 && ::write(out, buffer.data(), std::size_t(n)) == n;
            bytes += n;
        }
        if (in >= 0)
            ::close(in);
        if (out >= 0)
            ::close(out);
        if (!ok)
            return -1;
    }
    return bytes;
}

double elapsedMs(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double residentMB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The process's peak resident memory since the last resetPeakResident (the kernel's "VmHWM"),
// so that each benchmark run reports its own.
void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

void processPendingEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The lines main prints once the benchmarks have run: each figure beside its target, then the
// lines that are for information only.
QStringList &figures()
{
    static QStringList lines;
    return lines;
}

QStringList &informativeLines()
{
    static QStringList lines;
    return lines;
}

constexpr double kMicrosecondsPerObjectTarget = 25;
constexpr double kScalingTarget = 1.3;
constexpr int kScalingBase = 50;

// Where a run builds. The figures with a target measure the builder, so their builds go into a
// memory file system (/dev/shm when it is one): on a disk's file system the same build took
// from 41 to 59 ms from one run to the next, as the file system's own state changed, while the
// copy of its output took from 1.5 to 25 ms. One run builds on the temporary folder's file
// system as well, for information.
enum class Place { Memory, Disk };

bool isMemoryFileSystem(const char *path)
{
    struct statfs info;
    return ::statfs(path, &info) == 0 && info.f_type == TMPFS_MAGIC;
}

QString folderTemplate(Place place)
{
    const QString base = place == Place::Memory && isMemoryFileSystem("/dev/shm") ? QStringLiteral("/dev/shm")
                                                                                   : QDir::tempPath();
    return base + QStringLiteral("/bench_builder-XXXXXX");
}

QString runName(int threads, int pages, Place place)
{
    return QStringLiteral("build/%1 %2, %3 pages%4")
        .arg(threads)
        .arg(threads == 1 ? QStringLiteral("thread") : QStringLiteral("threads"))
        .arg(pages)
        .arg(place == Place::Disk ? QStringLiteral(", on disk") : QString());
}

std::string runSuffix(int threads)
{
    return threads == 1 ? std::string("1thread") : std::to_string(threads) + "threads";
}

// A generated project written as a package in `folder` and open as in the project window,
// built into its web folder again and again. What each build and copy wrote is moved aside,
// and deleted only when the program ends: a file system that keeps the places of deleted files
// free for a while makes a new file the slower to create the more files were deleted just
// before, and both the build and the copy would pay for the benchmark's own deletions.
class OpenProject
{
public:
    struct Round
    {
        double buildMs = 0;
        double copyMs = 0;
        int files = 0;
        qint64 bytes = 0;
    };

    OpenProject(const QString &folder, const QString &aside, int pages)
        : m_aside(aside)
    {
        const QString package = folder + QStringLiteral("/Project.krproj");
        m_web = package + QStringLiteral("/kr-web");
        writeFile(package + QStringLiteral("/project.xml"), KRBench::mixedControlsProjectXML(pages));
        QDir().mkpath(m_web);
        m_document = KRDocument::openPackage(package);
        if (!m_document.ok()) {
            m_error = m_document.error().toString();
            return;
        }
        // The open project of the project window: pages with their design documents.
        m_project = KRProject::create(m_document.value(), true);
        if (!m_project.ok()) {
            m_error = m_project.error().toString();
            return;
        }
        // What the application's event loop does once the project is open (the design pages
        // finish setting up on it).
        processPendingEvents();
        // The objects the build makes: every control and function of every page.
        for (const auto &page : m_project.value()->krPages())
            m_objects += page->kr_objects().size();
        if (m_objects == 0)
            m_error = QStringLiteral("the generated project has no objects");
        fillUserFiles(m_web);
        m_userFiles = filesBelow(m_web);
        m_userItems = QDir(m_web).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    ~OpenProject()
    {
        m_project = KRError(QStringLiteral("closed"), 0, QString());
        m_document = KRError(QStringLiteral("closed"), 0, QString());
        processPendingEvents(); // what the closed project left to the event loop
    }

    const QString &error() const { return m_error; }
    qsizetype objects() const { return m_objects; }
    int concurrentPageLimit(int pageThreads) const
    {
        return KRProjectBuildSource(m_project.value(), pageThreads).concurrentPageLimit();
    }

    // One build on `pageThreads` page threads, timed, then the copy of what it wrote, timed;
    // the error is set when either fails.
    Round build(benchmark::State &state, int pageThreads, const QString &deviceMap)
    {
        Round round;
        state.PauseTiming();
        const int number = ++rounds();
        moveAside(QStringLiteral("built%1").arg(number));
        if (filesBelow(m_web) != m_userFiles) {
            m_error = QStringLiteral("the web folder holds more than the user's files");
            return round;
        }
        m_project.value()->reloadResources();
        KRProjectBuilder builder(std::make_shared<KRProjectBuildSource>(m_project.value(), pageThreads));
        builder.setDeviceInformationJSON(deviceMap);
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        auto result = builder.build();
        round.buildMs = elapsedMs(start);
        if (!result.ok()) {
            m_error = result.error().toString();
            return round;
        }

        state.PauseTiming();
        QStringList written = filesBelow(m_web);
        written.erase(std::remove_if(written.begin(), written.end(),
                                     [&](const QString &file) { return m_userFiles.contains(file); }),
                      written.end());
        const auto copyStart = std::chrono::steady_clock::now();
        round.bytes = copyFiles(m_web, m_aside + QStringLiteral("/copy%1").arg(number), written, m_buffer);
        round.copyMs = elapsedMs(copyStart);
        if (round.bytes < 0)
            m_error = QStringLiteral("the built files could not be copied");
        round.files = int(written.size());
        state.ResumeTiming();
        return round;
    }

private:
    static int &rounds()
    {
        static int count = 0;
        return count;
    }

    // Moves what is in the web folder besides the user's files into a new folder aside.
    void moveAside(const QString &name)
    {
        const QString folder = m_aside + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        for (const QString &item : QDir(m_web).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (!m_userItems.contains(item))
                QDir().rename(m_web + QLatin1Char('/') + item, folder + QLatin1Char('/') + item);
        }
    }

    QString m_aside;
    QString m_web;
    QString m_error;
    KRResult<std::shared_ptr<KRDocument>> m_document = KRError(QStringLiteral("not open"), 0, QString());
    KRResult<std::shared_ptr<KRProject>> m_project = KRError(QStringLiteral("not open"), 0, QString());
    qsizetype m_objects = 0;
    QStringList m_userFiles;
    QStringList m_userItems;
    std::vector<char> m_buffer = std::vector<char>(1 << 20);
};

// The folder every run moves what it wrote into, on the file system of its builds.
QString asideFolder(Place place)
{
    static QTemporaryDir memoryAside(folderTemplate(Place::Memory));
    static QTemporaryDir diskAside(folderTemplate(Place::Disk));
    return place == Place::Memory ? memoryAside.path() : diskAside.path();
}

// The library and runtime files of the builds, in the folder; the device map of the catalogue.
QString setUpResources(const QString &folder)
{
    KRObjectInfo::sharedInstance(); // the catalogue comes from the application's resources
    KRResources::setResourcesDirectory(makeResources(folder + QStringLiteral("/resources")));
    setUpProjectBuilder();
    return KRObjectInfo::sharedInstance().deviceInformationJSON();
}

QString mediansText(double buildMs, qsizetype objects)
{
    return QStringLiteral("(median build %1 ms, %2 objects)").arg(QString::number(buildMs, 'f', 1)).arg(objects);
}

QString copyLine(const QString &name, double buildMs, const std::vector<double> &copyTimes, const std::vector<double> &ratios)
{
    return QStringLiteral("%1  %2\u00d7 a copy of its output   (medians: build %3 ms, copy %4 ms)")
        .arg(name.leftJustified(34), QString::number(median(ratios), 'f', 2).rightJustified(6),
             QString::number(buildMs, 'f', 1), QString::number(median(copyTimes), 'f', 1));
}

// The 50-page project, built on state.range(0) page threads, on a memory file system or
// (state.range(1)) on the temporary folder's.
void BM_BuildGeneratedProject(benchmark::State &state)
{
    const int pageThreads = int(state.range(0));
    const Place place = state.range(1) ? Place::Disk : Place::Memory;
    resetPeakResident();
    QTemporaryDir folder(folderTemplate(place));
    const QString deviceMap = setUpResources(folder.path());
    std::vector<double> buildTimes;
    std::vector<double> copyTimes;
    std::vector<double> ratios;
    OpenProject::Round last;
    double openMB = 0;
    qsizetype objects = 0;
    int threads = 0;
    {
        OpenProject project(folder.path(), asideFolder(place), kScalingBase);
        openMB = residentMB("VmRSS:");
        for (auto _ : state) {
            if (!project.error().isEmpty())
                break;
            last = project.build(state, pageThreads, deviceMap);
            buildTimes.push_back(last.buildMs);
            copyTimes.push_back(last.copyMs);
            ratios.push_back(last.buildMs / last.copyMs);
        }
        if (!project.error().isEmpty()) {
            state.SkipWithError(qPrintable(project.error()));
            KRResources::setResourcesDirectory(QString());
            return;
        }
        objects = project.objects();
        threads = project.concurrentPageLimit(pageThreads);
    }
    KRResources::setResourcesDirectory(QString());

    const double buildMs = median(buildTimes);
    const double perObject = buildMs * 1000.0 / double(objects);
    const double peakMB = residentMB("VmHWM:");
    state.counters["build_ms"] = buildMs;
    state.counters["us_per_object"] = perObject;
    state.counters["objects"] = double(objects);
    state.counters["copy_ms"] = median(copyTimes);
    state.counters["build_over_copy"] = median(ratios);
    state.counters["files"] = last.files;
    state.counters["MB_written"] = double(last.bytes) / (1024.0 * 1024.0);
    state.counters["open_MB"] = openMB;
    state.counters["peak_MB"] = peakMB;
    state.counters["page_threads"] = threads;
    const QString name = runName(threads, kScalingBase, place);
    if (threads == 1 && place == Place::Memory) {
        KRBench::reportTarget(state, "build_us_per_object_1thread", perObject, "us", kMicrosecondsPerObjectTarget);
        figures().append(QStringLiteral("%1  %2 \u00b5s per object   target \u2264 %3 \u00b5s   %4")
                             .arg(name.leftJustified(34), QString::number(perObject, 'f', 2).rightJustified(6))
                             .arg(kMicrosecondsPerObjectTarget)
                             .arg(mediansText(buildMs, objects)));
    } else {
        informativeLines().append(QStringLiteral("%1  %2 \u00b5s per object   %3")
                                      .arg(name.leftJustified(34), QString::number(perObject, 'f', 2).rightJustified(6),
                                           mediansText(buildMs, objects)));
    }
    // The copy of the build's output is the file system's time as much as ours: for information.
    informativeLines().append(copyLine(name, buildMs, copyTimes, ratios));
    if (place == Place::Memory) {
        KRBench::reportTarget(state, "build_peak_MB_" + runSuffix(threads), peakMB, "MB", 200, KRBench::Bound::Below);
        figures().append(QStringLiteral("%1  %2 MB      target < 200 MB")
                             .arg(QStringLiteral("peak/%1").arg(name.mid(6)).leftJustified(34),
                                  QString::number(peakMB, 'f', 0).rightJustified(6)));
    }
}
// The run on the disk after the other 50-page runs: it is for information only.
BENCHMARK(BM_BuildGeneratedProject)->ArgNames({"threads", "disk"})->Args({1, 0})->Args({4, 0})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(40);

// How the time per object holds as a project grows: the project of state.range(0) pages and
// the 50-page one, both open, built on one thread in turns on a memory file system (one build
// of the large one, then builds of the small one for about as many objects), so that both meet
// whatever else the machine runs alike; the medians of their times per object.
void BM_BuildLargerProject(benchmark::State &state)
{
    const int pages = int(state.range(0));
    const int smallBuilds = std::max(1, pages / kScalingBase);
    resetPeakResident();
    QTemporaryDir folder(folderTemplate(Place::Memory));
    const QString deviceMap = setUpResources(folder.path());
    std::vector<double> largeTimes;
    std::vector<double> smallTimes;
    std::vector<double> copyTimes;
    std::vector<double> ratios;
    double openMB = 0;
    qsizetype largeObjects = 0;
    qsizetype smallObjects = 0;
    {
        OpenProject small(folder.path() + QStringLiteral("/small"), asideFolder(Place::Memory), kScalingBase);
        OpenProject large(folder.path() + QStringLiteral("/large"), asideFolder(Place::Memory), pages);
        openMB = residentMB("VmRSS:");
        for (auto _ : state) {
            if (!large.error().isEmpty() || !small.error().isEmpty())
                break;
            const OpenProject::Round round = large.build(state, 1, deviceMap);
            largeTimes.push_back(round.buildMs);
            copyTimes.push_back(round.copyMs);
            ratios.push_back(round.buildMs / round.copyMs);
            for (int i = 0; i < smallBuilds && small.error().isEmpty(); ++i)
                smallTimes.push_back(small.build(state, 1, deviceMap).buildMs);
        }
        const QString error = !large.error().isEmpty() ? large.error() : small.error();
        if (!error.isEmpty()) {
            state.SkipWithError(qPrintable(error));
            KRResources::setResourcesDirectory(QString());
            return;
        }
        largeObjects = large.objects();
        smallObjects = small.objects();
    }
    KRResources::setResourcesDirectory(QString());

    const double largePerObject = median(largeTimes) * 1000.0 / double(largeObjects);
    const double smallPerObject = median(smallTimes) * 1000.0 / double(smallObjects);
    const double ratio = largePerObject / smallPerObject;
    const double peakMB = residentMB("VmHWM:");
    state.counters["us_per_object"] = largePerObject;
    state.counters["us_per_object_50_pages"] = smallPerObject;
    state.counters["objects"] = double(largeObjects);
    state.counters["open_MB"] = openMB;
    state.counters["peak_MB"] = peakMB;
    const std::string figure = "build_per_object_" + std::to_string(pages) + "_over_" + std::to_string(kScalingBase) + "_pages";
    KRBench::reportTarget(state, figure, ratio, kScalingTarget);
    const QString name = runName(1, pages, Place::Memory);
    figures().append(QStringLiteral("%1  %2\u00d7 the %3-page time per object   target \u2264 %4\u00d7   (%5 \u00b5s against %6 \u00b5s, in turns)")
                         .arg(name.leftJustified(34), QString::number(ratio, 'f', 2).rightJustified(6))
                         .arg(kScalingBase)
                         .arg(kScalingTarget)
                         .arg(QString::number(largePerObject, 'f', 2), QString::number(smallPerObject, 'f', 2)));
    informativeLines().append(QStringLiteral("%1  %2 \u00b5s per object   %3")
                                  .arg(name.leftJustified(34), QString::number(largePerObject, 'f', 2).rightJustified(6),
                                       mediansText(median(largeTimes), largeObjects)));
    informativeLines().append(copyLine(name, median(largeTimes), copyTimes, ratios));
    informativeLines().append(QStringLiteral("%1  %2 MB peak   (%3 MB once open, with the 50-page project)")
                                  .arg(QStringLiteral("peak/%1").arg(name.mid(6)).leftJustified(34),
                                       QString::number(peakMB, 'f', 0).rightJustified(6),
                                       QString::number(openMB, 'f', 0)));
}
// After the 50-page runs: each run's peak memory starts from what the runs before left allocated.
BENCHMARK(BM_BuildLargerProject)->ArgName("pages")->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_BuildLargerProject)->ArgName("pages")->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    // The user's own settings (say "JSMinimize") stay out of the measurement and untouched.
    const KRBench::PrivateApplication program(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Each figure beside its target, after the table, then what is for information only.
    for (const QString &line : std::as_const(figures()))
        std::printf("%s\n", line.toUtf8().constData());
    std::printf("For information (no target):\n");
    for (const QString &line : std::as_const(informativeLines()))
        std::printf("  %s\n", line.toUtf8().constData());
    return 0;
}
