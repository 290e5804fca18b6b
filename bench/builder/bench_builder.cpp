// Building a generated project of 50 pages with 40 objects each (three controls and one
// function in every four) into an empty web folder, minifying off: every page made afresh with
// design mode off, its output written, the libraries copied. Target: under 1.5 s and 300 MB peak. The same run times `cp -r` of the built
// folder, the floor for writing the same bytes, and reports the ratio.

#include <builder/KRProjectBuilder.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRModelAdapter.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRPropertyDescriptor.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRResources.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

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
    writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe.css"), filler("gallery styles", 10000));
    for (int i = 0; i < 20; ++i)
        writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/icon%1.png").arg(i), QByteArray(3000, 'x'));
    return folder;
}

// A control class for the generated project: its output markup is one positioned div with
// its text, its script one constructor and the initialisers of its properties.
class BenchControl : public KRObject
{
public:
    using KRObject::KRObject;

protected:
    void willEnableModelAdapters() override
    {
        const auto page = std::dynamic_pointer_cast<KRPage>(owningPage());
        if (!page || !page->pageDivElement())
            return;
        auto div = page->domDocument()->createElement(QStringLiteral("div"));
        div->setAttribute(QStringLiteral("id"), page->kr_id() + QLatin1Char('_') + kr_id());
        div->setAttribute(QStringLiteral("class"), QStringLiteral("kr-control ui-btn"));
        div->setTextContent(value(QStringLiteral("kr_text")));
        page->pageDivElement()->appendChild(div);
        setDomElement(div);
    }
};

void registerBenchClasses()
{
    KRPage::registerPageClass();
    KRObjectClass control;
    control.className = QStringLiteral("KRBenchLabel");
    control.superclassName = QStringLiteral("KRObject");
    control.requiredScripts = {QStringLiteral("js-class.js"), QStringLiteral("bluff-src.js"),
                               QStringLiteral("photoswipe-3.0.5/photoswipe.min.js")};
    control.requiredStylesheets = {QStringLiteral("photoswipe-3.0.5/photoswipe.css")};
    for (int i = 0; i < 20; ++i)
        control.requiredResources.append(QStringLiteral("photoswipe-3.0.5/default-skin/icon%1.png").arg(i));
    control.descriptors = {
        KRPropertyDescriptor(QStringLiteral("top"), QStringLiteral("top"), QStringLiteral("top"),
                             KRAdapterOptionJSString | KRAdapterOptionCSSPixels),
        KRPropertyDescriptor(QStringLiteral("left"), QStringLiteral("left"), QStringLiteral("left"),
                             KRAdapterOptionJSString | KRAdapterOptionCSSPixels),
        KRPropertyDescriptor(QStringLiteral("text"), QString(), QString(), KRAdapterOptionJSString),
        KRPropertyDescriptor(QStringLiteral("onClick"), QString(), QString(),
                             KRAdapterOptionEvent | KRAdapterOptionFunctionReference),
    };
    control.factory = [](const KRObjectInit &init) { return std::make_shared<BenchControl>(init); };
    KRClassRegistry::sharedInstance().registerClass(control);
}

QByteArray generatedProject()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" startPage=\"page3\" sitemap=\"true\" "
                     "generateManifest=\"true\" ajaxPageLoading=\"true\"/>\n  <KRPages>\n";
    for (int p = 1; p <= kPages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p) + "\">\n"
               "      <KRContents>\n";
        for (int o = 1; o <= kObjectsPerPage; ++o) {
            const QByteArray n = QByteArray::number(o);
            if (o % 4 == 0) {
                xml += "        <KRFunction id=\"f" + n + "\" serverFunction=\"No\" arguments=\"event\">\n"
                       "\tvar x = \"" + n + "\";\n\treturn x;\n</KRFunction>\n";
            } else {
                xml += "        <KRBenchLabel id=\"c" + n + "\" top=\"" + QByteArray::number(o * 12) + "\" left=\"4\" text=\"Label "
                       + n + " of a generated page\" onClick=\"f" + QByteArray::number((o / 4 + 1) * 4) + "\"/>\n";
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

void BM_BuildGeneratedProject(benchmark::State &state)
{
    QTemporaryDir folder;
    KRObjectInfo::sharedInstance(); // the catalogue comes from the application's resources
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    KRResources::setResourcesDirectory(makeResources(folder.path() + QStringLiteral("/resources")));
    registerBenchClasses();
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
    int files = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(web).removeRecursively();
        QDir().mkpath(web);
        fillUserFiles(web);
        project.value()->reloadResources();
        KRProjectBuilder builder(project.value());
        builder.setDeviceInformationJSON(deviceMap);
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        auto result = builder.build();
        buildMs += elapsedMs(start);
        if (!result.ok()) {
            state.SkipWithError(qPrintable(result.error().toString()));
            return;
        }

        state.PauseTiming();
        QDir(copy).removeRecursively();
        const auto copyStart = std::chrono::steady_clock::now();
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), web, copy});
        copyMs += elapsedMs(copyStart);
        files = 0;
        bytes = folderBytes(web, &files);
        state.ResumeTiming();
    }
    KRResources::setResourcesDirectory(QString());

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double iterations = double(state.iterations());
    state.counters["build_ms"] = buildMs / iterations;
    state.counters["cp_r_ms"] = copyMs / iterations;
    state.counters["build_over_cp"] = copyMs > 0 ? buildMs / copyMs : 0;
    state.counters["files"] = files;
    state.counters["MB_written"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["maxRSS_MB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_BuildGeneratedProject)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char **argv)
{
    // Private per-user folders: the user's own settings (say "JSMinimize") stay out of the
    // measurement and untouched.
    QTemporaryDir home;
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
        qputenv(variable, (home.path() + QLatin1Char('/') + QString::fromLatin1(variable)).toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
