// Building a generated project of 50 pages with 40 objects each into an empty web folder,
// minifying off. Target: under 1.5 s and 300 MB peak. The same run times `cp -r` of the built
// folder, the floor for writing the same bytes, and reports the ratio.

#include <builder/KRProjectBuilder.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <model/KRWebFolderOwner.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>
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

// A stand-in page: a design-mode-off document with one element per object and a script
// block with one constructor and four initialisers per object.
class BenchPage final : public KRBuildPage
{
public:
    BenchPage(const KRXMLNode &element)
    {
        m_id = element.attribute(QStringLiteral("id"));
        m_document = DOMDocument::parseHTML(QStringLiteral(
            "<html><head><meta charset=\"utf-8\"><title>%1</title><style type=\"text/css\">.kr-css-marker {}</style>"
            "</head><body><div data-role=\"page\" id=\"%1\"></div></body></html>").arg(m_id));
        m_pageDiv = m_document->getElementById(m_id);
        for (const KRXMLNode &object : element.firstElementForName(QStringLiteral("KRContents")).elements()) {
            const QString objectID = object.attribute(QStringLiteral("id"));
            auto div = m_document->createElement(QStringLiteral("div"));
            div->setAttribute(QStringLiteral("id"), m_id + QLatin1Char('_') + objectID);
            div->setAttribute(QStringLiteral("class"), QStringLiteral("kr-control ui-btn"));
            div->setAttribute(QStringLiteral("style"), QStringLiteral("position: absolute; top: %1px; left: 4px;")
                                                           .arg(object.attribute(QStringLiteral("top"))));
            div->appendChild(std::shared_ptr<DOMNode>(m_document->createTextNode(object.attribute(QStringLiteral("text")))));
            m_pageDiv->appendChild(div);
            m_objects.append(objectID);
        }
    }

    QString pageID() const override { return m_id; }
    void addFormElement() override {}
    void addScripts() override
    {
        addExternalScript(QStringLiteral("KRObjects-min.js"));
        addExternalScript(QStringLiteral("KR-user-scripts.js"));
    }
    QString userScripts() override
    {
        QString block = QStringLiteral("\napplication._pages.%1 = new KRPage(\"%1\");\n(function(p) {\n"
                                       "p._pageURL = \"%1.html\";\n"
                                       "$(document).off('_kr_pagechange', '#%1').on('_kr_pagechange', '#%1', function() {\n"
                                       "p._load(function(o) {\n").arg(m_id);
        for (const QString &object : m_objects) {
            block += QStringLiteral("o.%1 = new KRLabel(\"%2_%1\");\n").arg(object, m_id);
            block += QStringLiteral("o.%1.top = \"12px\";\no.%1.left = \"4px\";\no.%1.width = \"100px\";\n"
                                    "o.%1.onClick = application._pages.%2._events.f4;\n").arg(object, m_id);
        }
        block += QStringLiteral("});\n});\n})(application._pages.%1);\n").arg(m_id);
        return block;
    }
    QStringList pluginRuntimeScriptFiles() override { return {}; }
    QSet<QString> manifestResources() const override { return m_manifest; }
    QSet<QString> requiredObjectScripts() const override
    {
        return {QStringLiteral("js-class.js"), QStringLiteral("bluff-src.js"), QStringLiteral("photoswipe-3.0.5/photoswipe.min.js")};
    }
    QSet<QString> requiredStylesheets() const override { return {QStringLiteral("photoswipe-3.0.5/photoswipe.css")}; }
    QSet<QString> requiredResources() const override
    {
        QSet<QString> icons;
        for (int i = 0; i < 20; ++i)
            icons.insert(QStringLiteral("photoswipe-3.0.5/default-skin/icon%1.png").arg(i));
        return icons;
    }
    void addCSS(const QString &path) override
    {
        auto link = m_document->createElement(QStringLiteral("link"));
        link->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
        link->setAttribute(QStringLiteral("href"), path);
        m_document->head()->appendChild(link);
        m_manifest.insert(path);
    }
    void addExternalScript(const QString &path) override
    {
        auto script = m_document->createElement(QStringLiteral("script"));
        script->setAttribute(QStringLiteral("src"), path);
        m_document->head()->appendChild(script);
        m_manifest.insert(path);
    }
    std::shared_ptr<DOMElement> pageDivElement() const override { return m_pageDiv; }
    bool serverScriptsEnabled() const override { return false; }
    QString pageHTML() override { return QStringLiteral("<!DOCTYPE HTML>\n") + m_document->documentElement()->outerHTML(); }
    QString pageKRML() override { return pageHTML(); }

private:
    QString m_id;
    QStringList m_objects;
    QSet<QString> m_manifest;
    std::shared_ptr<DOMDocument> m_document;
    std::shared_ptr<DOMElement> m_pageDiv;
};

class BenchProject final : public KRBuildProject, public KRWebFolderOwner
{
public:
    BenchProject(const QString &package, const QByteArray &xml) : m_package(package)
    {
        m_xml = KRXMLDocument::fromData(xml).value();
        QDir().mkpath(package + QStringLiteral("/kr-web"));
        m_webFolder = KRWebFolder::create(this);
    }
    const void *documentIdentity() const override { return this; }
    KRXMLDocument xmlDocument() const override { return m_xml; }
    std::unique_ptr<KRBuildPage> makeOutputPage(const KRXMLNode &element) override
    {
        return std::make_unique<BenchPage>(element);
    }
    QString webFolderPath() override { return m_webFolder->krwebPath(); }
    QString startPage() const override { return QStringLiteral("page3"); }
    bool singlePageDeploy() const override { return false; }
    bool ajaxPageLoading() const override { return true; }
    bool sitemap() const override { return true; }
    bool generateManifest() const override { return true; }
    bool exportLocalJQuerySources() const override { return false; }
    bool publishBuildMode() const override { return false; }
    QString defaultTheme() const override { return {}; }
    QVariantMap jqmURLs() const override
    {
        return {{QStringLiteral("localPathRoot"), QStringLiteral("/__kr_bundle/jquery.mobile-1.4.0")},
                {QStringLiteral("bundlePathRoot"), QStringLiteral("jquery.mobile-1.4.0")}};
    }
    bool exportMode() const override { return m_exportMode; }
    void setExportMode(bool exportMode) override { m_exportMode = exportMode; }
    void setIndexPage(const QString &) override {}
    QList<std::shared_ptr<KRProjectResource>> resources() override { return m_webFolder->resources(); }
    void reloadResources() override { m_webFolder->reloadResources(); }
    std::shared_ptr<KRProjectResource> resourceForThemeName(const QString &name) override
    {
        return m_webFolder->resourceForThemeName(name);
    }

    QString packagePath() const override { return m_package; }
    QStringList javascriptIncludes() const override { return {}; }
    void setJavascriptIncludes(const QStringList &) override {}
    QStringList cssIncludes() const override { return {}; }
    void setCssIncludes(const QStringList &) override {}
    void setDefaultTheme(const QString &) override {}

private:
    QString m_package;
    KRXMLDocument m_xml;
    std::shared_ptr<KRWebFolder> m_webFolder;
    bool m_exportMode = false;
};

QByteArray generatedProject()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\"/>\n  <KRPages>\n";
    for (int p = 1; p <= kPages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p) + "\">\n"
               "      <KRContents>\n";
        for (int o = 1; o <= kObjectsPerPage; ++o) {
            const QByteArray n = QByteArray::number(o);
            xml += "        <KRLabel id=\"c" + n + "\" top=\"" + QByteArray::number(o * 12) + "\" text=\"Label " + n
                   + " of a generated page\"/>\n";
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
    KRResources::setResourcesDirectory(makeResources(folder.path() + QStringLiteral("/resources")));
    const QByteArray xml = generatedProject();
    const QString package = folder.path() + QStringLiteral("/Project.korvane");
    const QString copy = folder.path() + QStringLiteral("/copy");

    double buildMs = 0;
    double copyMs = 0;
    int files = 0;
    qint64 bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(package).removeRecursively();
        auto project = std::make_shared<BenchProject>(package, xml);
        fillUserFiles(project->webFolderPath());
        KRProjectBuilder builder(project);
        builder.setDeviceInformationJSON(QStringLiteral(R"({"iPhone":{"width":320,"height":480,"screenWidth":320,"screenHeight":480}})"));
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
        QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), project->webFolderPath(), copy});
        copyMs += elapsedMs(copyStart);
        files = 0;
        bytes = folderBytes(project->webFolderPath(), &files);
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
