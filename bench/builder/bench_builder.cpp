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
//   that of 50 pages (a build whose cost grows faster than its project shows here);
// - "build_peak_MB_<threads>": each 50-page run's peak resident memory, which includes the open
//   project (pages with their design documents; "open_MB" once it is open), the catalogue, the
//   libraries and what the benchmark itself holds. Each run starts from what the runs before
//   left allocated; the event loop runs once a project is open and once it is closed, as in the
//   application.
// For information only: the 50-page build on four threads (the calling thread writes the files
// that are no pages meanwhile, as in the application) and, for every run, the build over a copy
// of its output (exactly the files it wrote, same sizes, the folders they need, copied in this
// process with read and write into a fresh folder of the same file system, timed in the same
// iteration right after the build): that ratio is mostly the file system's, from a few times
// on a disk to thirty and more on a memory file system. Last, the 50-page build on one thread
// on the temporary folder's disk.
// After the table each figure is printed beside its target, then the informative lines.

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
#include <map>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

constexpr int kObjectsPerPage = 40;

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

QByteArray generatedProject(int pages)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" startPage=\"page3\" sitemap=\"true\" "
                     "generateManifest=\"true\" ajaxPageLoading=\"true\"/>\n  <KRPages>\n";
    for (int p = 1; p <= pages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p) + "\">\n"
               "      <KRContents>\n";
        xml += "        <JQMHeaderToolbar id=\"header\" title=\"Page " + QByteArray::number(p)
               + "\" navbarItems='[{\"label\":\"One\",\"active\":true},{\"label\":\"Two\",\"onClick\":\"f4\"}]'/>\n";
        for (int o = 1; o <= kObjectsPerPage; ++o) {
            const QByteArray n = QByteArray::number(o);
            const QByteArray place = "top=\"" + QByteArray::number(o * 12) + "\" left=\"4\" width=\"300\"";
            const QByteArray handler = "\"f" + QByteArray::number((o / 4 + 1) * 4) + "\"";
            if (o % 4 == 0) {
                xml += "        <KRFunction id=\"f" + n + "\" serverFunction=\"No\" arguments=\"event\">\n"
                       "\tvar x = \"" + n + "\";\n\treturn x;\n</KRFunction>\n";
                continue;
            }
            switch (o % 9) {
            case 0:
                xml += "        <JQMListView id=\"c" + n + "\" " + place + " inset=\"true\">[{\"label\":\"A\"},"
                       "{\"label\":\"B\",\"onClick\":" + handler + "}]</JQMListView>\n";
                break;
            case 1:
                xml += "        <JQMTextbox id=\"c" + n + "\" " + place + " label=\"Field " + n + "\" placeholder=\"Type\"/>\n";
                break;
            case 2:
                xml += "        <JQMButton id=\"c" + n + "\" " + place + " value=\"Button " + n + "\" onClick=" + handler + "/>\n";
                break;
            case 3:
                xml += "        <JQMSelect id=\"c" + n + "\" " + place + " label=\"Pick\">1|One\n2|Two\n3|Three</JQMSelect>\n";
                break;
            case 5:
                xml += "        <KRButton id=\"c" + n + "\" " + place + " value=\"Go\" onClick=" + handler + "/>\n";
                break;
            case 6:
                xml += "        <KRImage id=\"c" + n + "\" " + place + " height=\"40\" src=\"images/photo1.jpg\"/>\n";
                break;
            case 7:
                xml += p % 5 == 0 ? "        <KRPhotoSwipe id=\"c" + n + "\" " + place + " height=\"200\">images/photo1.jpg|One\nimages/photo2.jpg</KRPhotoSwipe>\n"
                                  : "        <KRBluffGraph id=\"c" + n + "\" " + place + " height=\"200\" type=\"Bar\" title=\"Chart\"/>\n";
                break;
            default:
                xml += "        <KRLabel id=\"c" + n + "\" " + place + " value=\"Label " + n + " of a generated page\" onClick=" + handler + "/>\n";
                break;
            }
        }
        xml += "      </KRContents>\n    </KRPage>\n";
    }
    xml += "  </KRPages>\n</KRProjectDocument>\n";
    return xml;
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

// The median time per object of the builds on one thread, in µs, by number of pages.
std::map<int, double> &oneThreadMicrosecondsPerObject()
{
    static std::map<int, double> medians;
    return medians;
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

void BM_BuildGeneratedProject(benchmark::State &state)
{
    const int pages = int(state.range(1));
    const Place place = state.range(2) ? Place::Disk : Place::Memory;
    resetPeakResident();
    QTemporaryDir folder(folderTemplate(place));
    KRObjectInfo::sharedInstance(); // the catalogue comes from the application's resources
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    KRResources::setResourcesDirectory(makeResources(folder.path() + QStringLiteral("/resources")));
    setUpProjectBuilder();
    const QString package = folder.path() + QStringLiteral("/Project.krproj");
    const QString web = package + QStringLiteral("/kr-web");
    writeFile(package + QStringLiteral("/project.xml"), generatedProject(pages));
    QDir().mkpath(web);
    auto document = KRDocument::openPackage(package);
    if (!document.ok()) {
        state.SkipWithError(qPrintable(document.error().toString()));
        return;
    }
    // The open project of the project window: pages with their design documents.
    auto project = KRProject::create(document.value(), true);
    if (!project.ok()) {
        state.SkipWithError(qPrintable(project.error().toString()));
        return;
    }
    // What the application's event loop does once the project is open (the design pages
    // finish setting up on it).
    processPendingEvents();
    const double openMB = residentMB("VmRSS:");
    // The objects the build makes: every control and function of every page.
    qsizetype objects = 0;
    for (const auto &page : project.value()->krPages())
        objects += page->kr_objects().size();
    if (objects == 0) {
        state.SkipWithError("the generated project has no objects");
        return;
    }

    std::vector<double> buildTimes;
    std::vector<double> copyTimes;
    std::vector<double> ratios;
    std::vector<char> buffer(1 << 20);
    int files = 0;
    qint64 bytes = 0;
    // What each build and copy wrote is moved aside, and deleted only when the program ends:
    // a file system that keeps the places of deleted files free for a while makes a new file
    // the slower to create the more files were deleted just before, and both the build and
    // the copy would pay for the benchmark's own deletions.
    static QTemporaryDir memoryAside(folderTemplate(Place::Memory));
    static QTemporaryDir diskAside(folderTemplate(Place::Disk));
    static int round = 0;
    const QString aside = place == Place::Memory ? memoryAside.path() : diskAside.path();
    fillUserFiles(web);
    const QStringList userFiles = filesBelow(web);
    const QStringList userItems = QDir(web).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    // Moves what is in the web folder besides the user's files into a new folder aside.
    const auto moveAside = [&](const QString &name) {
        const QString folder = aside + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        for (const QString &item : QDir(web).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            if (!userItems.contains(item))
                QDir().rename(web + QLatin1Char('/') + item, folder + QLatin1Char('/') + item);
        }
        return folder;
    };
    for (auto _ : state) {
        state.PauseTiming();
        ++round;
        moveAside(QStringLiteral("built%1").arg(round));
        if (filesBelow(web) != userFiles) {
            state.SkipWithError("the web folder holds more than the user's files");
            return;
        }
        project.value()->reloadResources();
        KRProjectBuilder builder(std::make_shared<KRProjectBuildSource>(project.value(), int(state.range(0))));
        builder.setDeviceInformationJSON(deviceMap);
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        auto result = builder.build();
        const double buildMs = elapsedMs(start);
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.error().toString()));
            return;
        }

        state.PauseTiming();
        QStringList written = filesBelow(web);
        written.erase(std::remove_if(written.begin(), written.end(),
                                     [&](const QString &file) { return userFiles.contains(file); }),
                      written.end());
        const auto copyStart = std::chrono::steady_clock::now();
        bytes = copyFiles(web, aside + QStringLiteral("/copy%1").arg(round), written, buffer);
        const double copyMs = elapsedMs(copyStart);
        if (bytes < 0) {
            state.SkipWithError("the built files could not be copied");
            return;
        }
        files = int(written.size());
        buildTimes.push_back(buildMs);
        copyTimes.push_back(copyMs);
        ratios.push_back(buildMs / copyMs);
        state.ResumeTiming();
    }
    KRResources::setResourcesDirectory(QString());
    const int threads = KRProjectBuildSource(project.value(), int(state.range(0))).concurrentPageLimit();
    project = KRError(QStringLiteral("closed"), 0, QString());
    document = KRError(QStringLiteral("closed"), 0, QString());
    processPendingEvents(); // what the closed project left to the event loop

    const double buildMs = median(buildTimes);
    const double perObject = buildMs * 1000.0 / double(objects);
    const double ratio = median(ratios);
    const double peakMB = residentMB("VmHWM:");
    state.counters["build_ms"] = buildMs;
    state.counters["us_per_object"] = perObject;
    state.counters["objects"] = double(objects);
    state.counters["copy_ms"] = median(copyTimes);
    state.counters["build_over_copy"] = ratio;
    state.counters["files"] = files;
    state.counters["MB_written"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["open_MB"] = openMB;
    state.counters["peak_MB"] = peakMB;
    state.counters["page_threads"] = threads;
    const QString name = runName(threads, pages, place);
    const QString medians = QStringLiteral("(median build %1 ms, %2 objects)")
                                .arg(QString::number(buildMs, 'f', 1))
                                .arg(objects);
    if (threads == 1 && place == Place::Memory) {
        oneThreadMicrosecondsPerObject()[pages] = perObject;
        if (pages == kScalingBase) {
            KRBench::reportTarget(state, "build_us_per_object_1thread", perObject, "us", kMicrosecondsPerObjectTarget);
            figures().append(QStringLiteral("%1  %2 \u00b5s per object   target \u2264 %3 \u00b5s   %4")
                                 .arg(name.leftJustified(34), QString::number(perObject, 'f', 2).rightJustified(6))
                                 .arg(kMicrosecondsPerObjectTarget)
                                 .arg(medians));
        }
    }
    if (threads != 1 || pages != kScalingBase || place == Place::Disk)
        informativeLines().append(QStringLiteral("%1  %2 \u00b5s per object   %3")
                                      .arg(name.leftJustified(34), QString::number(perObject, 'f', 2).rightJustified(6),
                                           medians));
    // The copy of the build's output is the file system's time as much as ours: for information.
    informativeLines().append(QStringLiteral("%1  %2\u00d7 a copy of its output   (medians: build %3 ms, copy %4 ms)")
                                  .arg(name.leftJustified(34), QString::number(ratio, 'f', 2).rightJustified(6),
                                       QString::number(buildMs, 'f', 1), QString::number(median(copyTimes), 'f', 1)));
    if (pages == kScalingBase && place == Place::Memory) {
        KRBench::reportTarget(state, "build_peak_MB_" + runSuffix(threads), peakMB, "MB", 200,
                              KRBench::Bound::Below);
        figures().append(QStringLiteral("%1  %2 MB      target < 200 MB")
                             .arg(QStringLiteral("peak/%1").arg(name.mid(6)).leftJustified(34),
                                  QString::number(peakMB, 'f', 0).rightJustified(6)));
    } else if (place == Place::Memory) {
        informativeLines().append(QStringLiteral("%1  %2 MB peak   (%3 MB once open)")
                                      .arg(QStringLiteral("peak/%1").arg(name.mid(6)).leftJustified(34),
                                           QString::number(peakMB, 'f', 0).rightJustified(6),
                                           QString::number(openMB, 'f', 0)));
    }
}
// The 50-page runs first, then the larger projects on one thread: each run's peak memory starts
// from what the runs before left allocated, and the 50-page figures are the ones with targets.
// Last, for information, the 50-page build on one thread on the temporary folder's disk.
BENCHMARK(BM_BuildGeneratedProject)->ArgNames({"threads", "pages", "disk"})->Args({1, 50, 0})->Args({4, 50, 0})
    ->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_BuildGeneratedProject)->ArgNames({"threads", "pages", "disk"})->Args({1, 200, 0})
    ->Unit(benchmark::kMillisecond)->Iterations(12);
BENCHMARK(BM_BuildGeneratedProject)->ArgNames({"threads", "pages", "disk"})->Args({1, 1000, 0})
    ->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BuildGeneratedProject)->ArgNames({"threads", "pages", "disk"})->Args({1, 50, 1})
    ->Unit(benchmark::kMillisecond)->Iterations(40);

// The time per object on one thread of the larger projects over that of the 50-page one, each
// beside its target; nothing when the 50-page run did not run.
void reportScaling()
{
    const auto &medians = oneThreadMicrosecondsPerObject();
    const auto base = medians.find(kScalingBase);
    if (base == medians.end() || base->second <= 0)
        return;
    for (const auto &[pages, perObject] : medians) {
        if (pages == kScalingBase)
            continue;
        const double ratio = perObject / base->second;
        KRBench::printFigure("build_per_object_" + std::to_string(pages) + "_over_" + std::to_string(kScalingBase)
                                 + "_pages",
                             ratio, "x", kScalingTarget);
        figures().append(QStringLiteral("%1  %2\u00d7 the %3-page time per object   target \u2264 %4\u00d7")
                             .arg(runName(1, pages, Place::Memory).leftJustified(34), QString::number(ratio, 'f', 2).rightJustified(6))
                             .arg(kScalingBase)
                             .arg(kScalingTarget));
    }
}

} // namespace

int main(int argc, char **argv)
{
    // Private per-user folders: the user's own settings (say "JSMinimize") stay out of the
    // measurement and untouched.
    QTemporaryDir home;
    KRBench::usePrivateUserFolders(home.path());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    reportScaling();
    // Each figure beside its target, after the table, then what is for information only.
    for (const QString &line : std::as_const(figures()))
        std::printf("%s\n", line.toUtf8().constData());
    std::printf("For information (no target):\n");
    for (const QString &line : std::as_const(informativeLines()))
        std::printf("  %s\n", line.toUtf8().constData());
    return 0;
}
