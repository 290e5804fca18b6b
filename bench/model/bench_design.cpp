// Opening a large project in design mode (pages with their headless design documents) and
// changing properties through the model, its XML and the design document.
// Targets: opening under 1 s; one property change under 20 us on average.

#include <bench/support/KRBenchSupport.h>
#include <model/KRClassRegistry.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
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
    KRBench::openRepeatedly(state, writePackage(folder), kPages, kObjectsPerPage);
}
BENCHMARK(BM_OpenProjectInDesignMode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Each iteration changes 10,000 properties spread over every page and object; the reported
// time per change is the counter "per_change".
void BM_ChangeProperties(benchmark::State &state)
{
    registerClasses();
    QTemporaryDir folder;
    KRBench::changeProperties(state, writePackage(folder),
                              {"kr_top", "kr_left", "kr_color", "kr_backgroundColor", "kr_title", "kr_text"});
}
BENCHMARK(BM_ChangeProperties)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
