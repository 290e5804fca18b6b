// Property edits made through the model on a page shown live: how long after the last of
// 1,000 edits the view shows it (target 50 ms), and the round trip of a single edit from the
// model's setter to the view having applied it (target one frame, 16 ms).
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <core/KRNodeRunner.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/webview/KRWebView.h>
#include <workspace/designview/KRPageDesignView.h>

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <vector>

namespace {

constexpr int Labels = 50;

// A label as the control library makes them: a positioned div with its text.
class BenchLabel : public KRObject
{
public:
    explicit BenchLabel(const KRObjectInit &init) : KRObject(init)
    {
        setVisualObject(true);
        const auto page = std::dynamic_pointer_cast<KRPage>(init.page);
        if (!page)
            return;
        auto div = page->domDocument()->createElement(QStringLiteral("div"));
        div->setAttribute(QStringLiteral("id"), QStringLiteral("page1_") + init.element.attribute(QStringLiteral("id")));
        div->style().setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
        page->pageDivElement()->appendChild(div);
        setDomElement(div);
    }
};

void registerBenchLabel()
{
    auto d = [](const char *name, const char *css, std::uint32_t options) {
        return KRPropertyDescriptor(QString::fromLatin1(name), QString(), QString::fromLatin1(css), options);
    };
    KRObjectClass label;
    label.className = QStringLiteral("BenchLabel");
    label.superclassName = QStringLiteral("KRObject");
    label.idBase = QStringLiteral("label");
    label.descriptors = {d("top", "top", KRAdapterOptionCSSPixels), d("left", "left", KRAdapterOptionCSSPixels),
                         d("color", "color", 0), d("text", "", KRAdapterOptionDOMText)};
    label.factory = [](const KRObjectInit &init) { return std::make_shared<BenchLabel>(init); };
    KRClassRegistry::sharedInstance().registerClass(label);
}

struct Fixture {
    QTemporaryDir folder;
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    std::shared_ptr<KRPage> page;
    std::vector<std::shared_ptr<KRObject>> labels;
    std::unique_ptr<KRPageDesignView> live;
    int edit = 0;
    bool ready = false;
};

Fixture *g_fixture = nullptr;

Fixture &fixture()
{
    if (g_fixture)
        return *g_fixture;
    g_fixture = new Fixture;
    Fixture &f = *g_fixture;
    registerBenchLabel();

    QString contents;
    for (int i = 0; i < Labels; ++i)
        contents += QStringLiteral("<BenchLabel id=\"label%1\" top=\"%2\" left=\"10\" text=\"Label %1\"/>").arg(i).arg(i * 8);
    const KRBench::Opened opened = KRBench::openProject(KRBench::writePackage(
        f.folder.path(),
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                       "<KRProject JQMVersion=\"1.4\"/><KRPages><KRPage id=\"page1\"><KRContents>%2</KRContents>"
                       "</KRPage></KRPages></KRProjectDocument>\n")
            .arg(KRDocument::applicationShortVersion(), contents)
            .toUtf8()));
    if (!opened.project)
        return f;
    f.document = opened.document;
    f.project = opened.project;
    f.page = f.project->pageForID(QStringLiteral("page1"));
    for (int i = 0; i < Labels; ++i)
        f.labels.push_back(f.page->objectForID(QStringLiteral("label%1").arg(i)));
    auto live = KRPageDesignView::create(f.page);
    if (!live)
        return f;
    f.live = std::move(live.value());
    f.live->webView()->show();
    // jQuery Mobile comes from the application's runtime server.
    KRBench::waitUntil([&] { return f.page->didJQueryMobileLoad(); }, 30000);
    f.ready = KRBench::waitUntil([&] { return f.live->webView()->isReady() && f.live->webView()->isInStep(); }, 30000);
    return f;
}

// One property edit through the model: text, colour or position of a label.
void edit(Fixture &f)
{
    const int n = f.edit++;
    const auto &label = f.labels[std::size_t(n % Labels)];
    switch (n % 3) {
    case 0:
        label->setValue(QStringLiteral("kr_text"), QStringLiteral("Label %1 edit %2").arg(n % Labels).arg(n));
        break;
    case 1:
        label->setValue(QStringLiteral("kr_color"), QStringLiteral("#%10000").arg(n % 256, 2, 16, QLatin1Char('0')));
        break;
    default:
        label->setValue(QStringLiteral("kr_left"), QString::number(n % 200));
        break;
    }
}

void BM_ThousandModelEditsMirrored(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ready) {
        state.SkipWithError("the page could not be shown live");
        return;
    }
    KRWebView *view = f.live->webView();
    KRBench::mirrorThousandEdits(
        state, "model_mirror_1000_edits_over_target", 50, [&] { edit(f); }, [view] { view->flush(); }, [view] { return view->isInStep(); },
        [&] { f.document->undoManager().removeAllActions(); });
}

void BM_SingleModelEditRoundTrip(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ready) {
        state.SkipWithError("the page could not be shown live");
        return;
    }
    KRWebView *view = f.live->webView();
    KRBench::timeEditRoundTrips(state, "model_round_trip_over_frame", 16, [&] { edit(f); }, [view] { return view->isInStep(); });
}

} // namespace

BENCHMARK(BM_ThousandModelEditsMirrored)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_SingleModelEditRoundTrip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(500);

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv, {}, [] {
        if (g_fixture) {
            g_fixture->live.reset(); // the view goes before the application object
            g_fixture->project.reset();
        }
        delete g_fixture;
    });
}
