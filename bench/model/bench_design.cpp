// Opening a large project in design mode (pages with their headless design documents) and
// changing properties through the model, its XML and the design document.
// Targets: opening under 1 s; one property change under 20 us on average. Opening one page
// of many objects grows with the object count as the 50-page project does (compare the
// per-object time of BM_OpenOnePage/5000 with BM_OpenProjectInDesignMode's 2,000 objects,
// and BM_OpenOnePage/1250 with /5000), and stays a small multiple of reading its XML; 5,000
// copies of one id cost about what 5,000 distinct ids do.

#include <bench/support/KRBenchSupport.h>
#include <model/KRClassRegistry.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <core/KRXMLDocument.h>
#include <model/KRProject.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

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

// One element per object.
QByteArray objectXML(int o)
{
    const QByteArray n = QByteArray::number(o);
    return "<KRBenchControl id=\"c" + n + "\" top=\"" + QByteArray::number(o * 12) + "\" left=\"" + n
           + "\" color=\"red\" backgroundColor=\"#fff\" title=\"t" + n + "\" text=\"Label " + n + "\"/>";
}

QString writePackage(const QTemporaryDir &folder)
{
    return KRBench::writePackage(folder.path(), KRBench::generatedProjectXML(kPages, kObjectsPerPage, objectXML));
}

void BM_OpenProjectInDesignMode(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    KRBench::openRepeatedly(state, writePackage(folder), kPages, kObjectsPerPage, "open_ms", 1000);
    state.counters["per_object"] = benchmark::Counter(static_cast<double>(kPages * kObjectsPerPage),
                                                      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenProjectInDesignMode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Each iteration changes 10,000 properties spread over every page and object; the reported
// time per change is the counter "per_change".
void BM_ChangeProperties(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    KRBench::changeProperties(state, writePackage(folder),
                              {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_title", "kr_text"}, "change_us", 20);
}
BENCHMARK(BM_ChangeProperties)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One page holding state.range(0) objects: opened whole (XML, objects, design document) each
// iteration. The counter "per_object" is the time per object.
void BM_OpenOnePage(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    const int objects = static_cast<int>(state.range(0));
    const QString package = KRBench::writePackage(folder.path(), KRBench::generatedProjectXML(1, objects, objectXML));
    KRBench::openRepeatedly(state, package, 1, objects);
    state.counters["per_object"] =
        benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenOnePage)->Arg(1250)->Arg(5000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The same page with every object under one id: each copy after the first is renamed on the
// way in ("c", "c2", "c3", ...) and reported.
void BM_OpenOnePageOfOneID(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    const int objects = static_cast<int>(state.range(0));
    const auto sameID = [](int o) {
        QByteArray xml = objectXML(o);
        return xml.replace("id=\"c" + QByteArray::number(o) + '"', "id=\"c\"");
    };
    const QString package = KRBench::writePackage(folder.path(), KRBench::generatedProjectXML(1, objects, sameID));
    KRBench::openRepeatedly(state, package, 1, objects);
    state.counters["per_object"] =
        benchmark::Counter(static_cast<double>(objects), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OpenOnePageOfOneID)->Arg(5000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The floor of the above: reading the same project.xml of 5,000 objects into an XML document.
void BM_ReadProjectXMLOfOnePage(benchmark::State &state)
{
    const QByteArray xml = KRBench::generatedProjectXML(1, static_cast<int>(state.range(0)), objectXML);
    for (auto _ : state) {
        KRResult<KRXMLDocument> document = KRXMLDocument::fromData(xml);
        if (!document) {
            state.SkipWithError("the generated project.xml did not parse");
            return;
        }
        benchmark::DoNotOptimize(document.value().rootElement());
    }
}
BENCHMARK(BM_ReadProjectXMLOfOnePage)->Arg(5000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
