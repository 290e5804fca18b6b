// Opening a large project in design mode (pages with their headless design documents) and
// changing properties through the model, its XML and the design document.
// Targets: opening under 1 s; one property change under 20 us on average.

#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kPages = 50;
constexpr int kObjectsPerPage = 40;

// A control that puts a div into its page's design document.
class BenchControl : public KRObject
{
public:
    explicit BenchControl(const KRObjectInit &init) : KRObject(init)
    {
        setVisualObject(true);
        if (const auto page = std::dynamic_pointer_cast<KRPage>(init.page)) {
            auto div = page->domDocument()->createElement(QStringLiteral("div"));
            page->pageDivElement()->appendChild(div);
            setDomElement(div);
        }
    }
};

void registerClasses()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    KRPage::registerPageClass();
    KRObjectClass control;
    control.className = QStringLiteral("KRBenchControl");
    control.superclassName = QStringLiteral("KRObject");
    control.idBase = QStringLiteral("control");
    control.descriptors = {
        KRPropertyDescriptor(QStringLiteral("top"), QString(), QStringLiteral("top"), KRAdapterOptionCSSPixels),
        KRPropertyDescriptor(QStringLiteral("left"), QString(), QStringLiteral("left"), KRAdapterOptionCSSPixels),
        KRPropertyDescriptor(QStringLiteral("color"), QString(), QStringLiteral("color"), 0),
        KRPropertyDescriptor(QStringLiteral("backgroundColor"), QString(), QStringLiteral("background-color"),
                             KRAdapterOptionCSSImportant),
        KRPropertyDescriptor(QStringLiteral("title"), QStringLiteral("title"), QString(), 0),
        KRPropertyDescriptor(QStringLiteral("text"), QString(), QString(), KRAdapterOptionDOMText),
    };
    control.factory = [](const KRObjectInit &init) { return std::make_shared<BenchControl>(init); };
    KRClassRegistry::sharedInstance().registerClass(control);
}

QByteArray generatedProject()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\""
                     + KRDocument::applicationShortVersion().toUtf8() + "\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\"/>\n  <KRPages>\n";
    for (int p = 1; p <= kPages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p)
               + "\" color=\"#333\" fontSize=\"14\">\n      <KRContents>\n";
        for (int o = 1; o <= kObjectsPerPage; ++o) {
            const QByteArray n = QByteArray::number(o);
            xml += "        <KRBenchControl id=\"c" + n + "\" top=\"" + QByteArray::number(o * 12) + "\" left=\"" + n
                   + "\" color=\"red\" backgroundColor=\"#fff\" title=\"t" + n + "\" text=\"Label " + n + "\"/>\n";
        }
        xml += "      </KRContents>\n    </KRPage>\n";
    }
    xml += "  </KRPages>\n</KRProjectDocument>\n";
    return xml;
}

struct Opened
{
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
};

Opened openProject(const QString &package)
{
    auto document = KRDocument::openPackage(package);
    if (!document)
        return {};
    auto project = KRProject::create(document.value(), true);
    if (!project)
        return {};
    return {document.value(), project.value()};
}

QString writePackage(const QTemporaryDir &folder)
{
    const QString package = folder.path() + QStringLiteral("/Bench.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    QFile file(package + QStringLiteral("/project.xml"));
    if (file.open(QIODevice::WriteOnly))
        file.write(generatedProject());
    return package;
}

void BM_OpenProjectInDesignMode(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    const QString package = writePackage(folder);
    for (auto _ : state) {
        Opened opened = openProject(package);
        if (!opened.project || opened.project->krPages().size() != kPages ||
            opened.project->krPages().first()->kr_objects().size() != kObjectsPerPage) {
            state.SkipWithError("the generated project did not open");
            return;
        }
    }
}
BENCHMARK(BM_OpenProjectInDesignMode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Each iteration changes 10,000 properties spread over every page and object; the reported
// time per change is the counter "per_change".
void BM_ChangeProperties(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    Opened opened = openProject(writePackage(folder));
    if (!opened.project) {
        state.SkipWithError("the generated project did not open");
        return;
    }
    std::vector<std::shared_ptr<KRObject>> objects;
    for (const auto &page : opened.project->krPages())
        for (const auto &object : page->kr_objects())
            objects.push_back(object);
    static const char *keys[] = {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_title", "kr_text"};
    std::int64_t round = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < 10000; ++i) {
            const auto &object = objects[std::size_t(i) % objects.size()];
            const char *key = keys[i % 6];
            object->setValue(QString::fromLatin1(key), QString::number(round * 10000 + i));
        }
    }
    state.counters["per_change"] =
        benchmark::Counter(double(state.iterations()) * 10000, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ChangeProperties)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
