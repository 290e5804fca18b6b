// Building a generated project of 50 pages with 40 objects each (three controls of the real
// control library and one function in every four; every page has a header toolbar, and the
// controls mix plain HTML controls, jQuery Mobile widgets, list views, graphs and galleries)
// into a web folder holding only the user's files, minifying off: every page made afresh with
// design mode off, its output written, the libraries copied, the manifest and the list of
// generated files written. The build's time is that of KRProjectBuilder::build alone (the
// project is open and its resource list read before). The peer, timed in the same iteration
// right after the build, is the floor of writing what the build wrote: exactly the files it
// wrote (same files, same sizes, the folders they need) copied in this process with read and
// write into a fresh folder of the same file system; no process is started.
// "build_over_copy" is the median over the iterations of build time over copy time.
// Pages are made on one thread first (argument 1: what the work itself costs), then on four
// (the calling thread writes the files that are no pages meanwhile, as in the application).
// "peak_MB" is each run's peak resident memory, which includes the open project (pages with
// their design documents; "open_MB" once it is open) and the catalogue, the libraries and
// what the benchmark itself holds. The second run starts from what the first left allocated;
// the event loop runs once a project is open and once it is closed, as in the application.
// After the table each ratio is printed beside its target.

#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <builder/KRBuilderSetup.h>
#include <builder/KRProjectBuildSource.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRDocument.h>
#include <model/KRObjectInfo.h>
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
#include <unistd.h>

namespace {

constexpr int kPages = 50;
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

QByteArray generatedProject()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" startPage=\"page3\" sitemap=\"true\" "
                     "generateManifest=\"true\" ajaxPageLoading=\"true\"/>\n  <KRPages>\n";
    for (int p = 1; p <= kPages; ++p) {
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

// The lines main prints once the benchmarks have run: each figure beside its target.
QStringList &figures()
{
    static QStringList lines;
    return lines;
}

void BM_BuildGeneratedProject(benchmark::State &state)
{
    resetPeakResident();
    QTemporaryDir folder;
    KRObjectInfo::sharedInstance(); // the catalogue comes from the application's resources
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    KRResources::setResourcesDirectory(makeResources(folder.path() + QStringLiteral("/resources")));
    setUpProjectBuilder();
    const QString package = folder.path() + QStringLiteral("/Project.krproj");
    const QString web = package + QStringLiteral("/kr-web");
    writeFile(package + QStringLiteral("/project.xml"), generatedProject());
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
    static QTemporaryDir asideRoot;
    static int round = 0;
    const QString aside = asideRoot.path();
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

    const double ratio = median(ratios);
    const double peakMB = residentMB("VmHWM:");
    state.counters["build_ms"] = median(buildTimes);
    state.counters["copy_ms"] = median(copyTimes);
    state.counters["build_over_copy"] = ratio;
    state.counters["files"] = files;
    state.counters["MB_written"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["open_MB"] = openMB;
    state.counters["peak_MB"] = peakMB;
    state.counters["page_threads"] = threads;
    const std::string suffix = threads == 1 ? "1thread" : std::to_string(threads) + "threads";
    KRBench::reportTarget(state, "build_over_copy_" + suffix, ratio, threads == 1 ? 6 : 3);
    KRBench::reportTarget(state, "build_peak_MB_" + suffix, peakMB, "MB", 200, KRBench::Bound::Below);
    const QString name = threads == 1 ? QStringLiteral("build/1 thread") : QStringLiteral("build/%1 threads").arg(threads);
    figures().append(QStringLiteral("%1  %2\u00d7 copy   target \u2264 %3\u00d7   (medians: build %4 ms, copy %5 ms)")
                         .arg(name.leftJustified(16), QString::number(ratio, 'f', 2).rightJustified(6),
                              threads == 1 ? QStringLiteral("6") : QStringLiteral("3"),
                              QString::number(median(buildTimes), 'f', 1), QString::number(median(copyTimes), 'f', 1)));
    figures().append(QStringLiteral("%1  %2 MB      target < 200 MB")
                         .arg(QStringLiteral("peak/%1").arg(name.mid(6)).leftJustified(16),
                              QString::number(peakMB, 'f', 0).rightJustified(6)));
}
BENCHMARK(BM_BuildGeneratedProject)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(40);

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
    // Each figure beside its target, after the table.
    for (const QString &line : std::as_const(figures()))
        std::printf("%s\n", line.toUtf8().constData());
    return 0;
}
