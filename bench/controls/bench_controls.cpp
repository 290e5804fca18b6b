// Opening a large project of real controls in design mode and changing their properties through
// the model, its XML and the design document. Targets: opening under 1 s; one property change
// under 20 us on average.

#include <controls/KRControlLibrary.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kPages = 50;
constexpr int kObjectsPerPage = 40;

void registerClasses()
{
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    KRPage::registerPageClass();
    registerControlLibrary();
}

// One element per object: plain controls and widgets in turn.
QByteArray objectXML(int o)
{
    const QByteArray n = QByteArray::number(o);
    const QByteArray geometry = " top=\"" + QByteArray::number(o * 12) + "\" left=\"" + n + "\" width=\"100\" height=\"30\"";
    switch (o % 5) {
    case 0:
        return "<KRLabel id=\"c" + n + "\"" + geometry + " color=\"red\" backgroundColor=\"#fff\">Label " + n + "</KRLabel>";
    case 1:
        return "<KRButton id=\"c" + n + "\"" + geometry + " value=\"Go " + n +
               "\" backgroundGradient=\"90deg, #8c8a88, #e2e2e2\" borderStyle=\"solid\" borderWidth=\"3\"/>";
    case 2:
        return "<KRTextbox id=\"c" + n + "\"" + geometry + " placeholder=\"Name\" borderRadius=\"10\"/>";
    case 3:
        return "<JQMSlider id=\"c" + n + "\"" + geometry + " min=\"0\" max=\"100\" label=\"Slider " + n + "\"/>";
    default:
        return "<JQMSelect id=\"c" + n + "\"" + geometry + " label=\"Pick\">a|A\nb|B\nc|C</JQMSelect>";
    }
}

QByteArray generatedProject()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\""
                     + KRDocument::applicationShortVersion().toUtf8() + "\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\"/>\n  <KRPages>\n";
    for (int p = 1; p <= kPages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p)
               + "\" color=\"#333\" fontSize=\"14\">\n      <KRContents>\n";
        for (int o = 1; o <= kObjectsPerPage; ++o)
            xml += "        " + objectXML(o) + "\n";
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

void BM_OpenControlProjectInDesignMode(benchmark::State &state)
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
BENCHMARK(BM_OpenControlProjectInDesignMode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

std::vector<std::shared_ptr<KRObject>> allObjects(const Opened &opened)
{
    std::vector<std::shared_ptr<KRObject>> objects;
    for (const auto &page : opened.project->krPages())
        for (const auto &object : page->kr_objects())
            objects.push_back(object);
    return objects;
}

// Each iteration changes 10,000 properties spread over every page and object; the time per
// change is the counter "per_change". `keys` picks the properties changed.
void changeProperties(benchmark::State &state, const std::vector<const char *> &keys)
{
    registerClasses();
    QTemporaryDir folder;
    Opened opened = openProject(writePackage(folder));
    if (!opened.project) {
        state.SkipWithError("the generated project did not open");
        return;
    }
    const auto objects = allObjects(opened);
    std::int64_t round = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < 10000; ++i) {
            const auto &object = objects[std::size_t(i) % objects.size()];
            const char *key = keys[std::size_t(i) % keys.size()];
            object->setValue(QString::fromLatin1(key), QString::number(round * 10000 + i));
        }
    }
    state.counters["per_change"] =
        benchmark::Counter(double(state.iterations()) * 10000, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The style and geometry properties every control has.
void BM_ChangeControlProperties(benchmark::State &state)
{
    changeProperties(state, {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_opacity", "kr_zIndex"});
}
BENCHMARK(BM_ChangeControlProperties)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Mixed with properties that rebuild a widget's inner markup (kr_value on every class).
void BM_ChangeControlPropertiesWithRebuilds(benchmark::State &state)
{
    changeProperties(state, {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_value", "kr_zIndex"});
}
BENCHMARK(BM_ChangeControlPropertiesWithRebuilds)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
