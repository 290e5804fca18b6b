// Building a generated project of 50 pages with 40 objects each (three controls of the real
// control library and one function in every four; every page has a header toolbar, and the
// controls mix plain HTML controls, jQuery Mobile widgets, list views, graphs and galleries)
// into an empty web folder, minifying off: every page made afresh with design mode off, its
// output written, the libraries copied. Target: under 1.5 s and 300 MB peak. The same run
// times `cp -r` of the built folder, the floor for writing the same bytes, and reports the
// ratio of the means and of the fastest runs. Pages are made on one thread first (argument
// 1: what the work itself costs), then on as many threads as the machine runs at once
// (argument 0, at most eight, as the application builds); "page_threads" says how many. The
// peak memory is each run's own, but the second starts from what the first left allocated.

#include <bench/support/KRBenchSupport.h>
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
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>

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

qint64 folderBytes(const QString &folder, int *files)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        bytes += QFileInfo(it.next()).size();
        ++*files;
    }
    return bytes;
}

double elapsedMs(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The process's peak resident memory since the last resetPeakResident (the kernel's "VmHWM"),
// so that each benchmark run reports its own.
void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double peakResidentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
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
    const QString copy = folder.path() + QStringLiteral("/copy");
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

    double buildMs = 0;
    double copyMs = 0;
    double buildMin = 1e9;
    double copyMin = 1e9;
    int files = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(web).removeRecursively();
        QDir().mkpath(web);
        fillUserFiles(web);
        project.value()->reloadResources();
        KRProjectBuilder builder(std::make_shared<KRProjectBuildSource>(project.value(), int(state.range(0))));
        builder.setDeviceInformationJSON(deviceMap);
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        auto result = builder.build();
        const double thisBuild = elapsedMs(start);
        buildMs += thisBuild;
        buildMin = std::min(buildMin, thisBuild);
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.error().toString()));
            return;
        }

        state.PauseTiming();
        QDir(copy).removeRecursively();
        const auto copyStart = std::chrono::steady_clock::now();
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), web, copy});
        copyMs += elapsedMs(copyStart);
        copyMin = std::min(copyMin, elapsedMs(copyStart));
        files = 0;
        bytes = folderBytes(web, &files);
        state.ResumeTiming();
    }
    KRResources::setResourcesDirectory(QString());

    const double iterations = double(state.iterations());
    state.counters["build_ms"] = buildMs / iterations;
    state.counters["build_min"] = buildMin;
    state.counters["cp_min"] = copyMin;
    state.counters["cp_r_ms"] = copyMs / iterations;
    state.counters["build_over_cp"] = copyMs > 0 ? buildMs / copyMs : 0;
    // The fastest of each: what a busy machine adds to one run or the other drops out.
    state.counters["build_over_cp_min"] = copyMin > 0 ? buildMin / copyMin : 0;
    state.counters["files"] = files;
    state.counters["MB_written"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["maxRSS_MB"] = peakResidentMB();
    state.counters["page_threads"] = KRProjectBuildSource(project.value(), int(state.range(0))).concurrentPageLimit();
}
BENCHMARK(BM_BuildGeneratedProject)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->MinTime(3.0);

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
    return 0;
}
