// Mirroring speed of the live design view: how long after the last of 1,000 property edits
// the view shows it, and the round trip of a single edit (targets: 50 ms and one frame, 16 ms).
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>
#include <platform/webview/KRWebView.h>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QUrl>

#include <vector>

namespace {

constexpr int Labels = 50;

struct Fixture {
    std::shared_ptr<DOMDocument> doc;
    std::vector<std::shared_ptr<DOMElement>> labels;
    std::vector<std::shared_ptr<DOMText>> texts;
    std::unique_ptr<KRWebView> view;
    int edit = 0;
};

Fixture *g_fixture = nullptr;

Fixture &fixture()
{
    if (g_fixture)
        return *g_fixture;
    g_fixture = new Fixture;
    Fixture &f = *g_fixture;
    f.doc = DOMDocument::createHTMLDocument();
    auto page = f.doc->createElement(QStringLiteral("div"));
    page->setAttribute(QStringLiteral("data-role"), QStringLiteral("page"));
    f.doc->body()->appendChild(page);
    for (int i = 0; i < Labels; ++i) {
        auto label = f.doc->createElement(QStringLiteral("div"));
        label->setAttribute(QStringLiteral("id"), QStringLiteral("page1_label%1").arg(i));
        label->style().setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
        label->style().setProperty(QStringLiteral("top"), QStringLiteral("%1px").arg(i * 8));
        label->style().setProperty(QStringLiteral("left"), QStringLiteral("10px"));
        auto text = f.doc->createTextNode(QStringLiteral("Label %1").arg(i));
        label->appendChild(text);
        page->appendChild(label);
        f.labels.push_back(label);
        f.texts.push_back(text);
    }
    f.view = std::make_unique<KRWebView>();
    f.view->attachDocument(f.doc);
    f.view->loadEmptyDocument(QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/")));
    f.view->show();
    KRBench::waitUntil([&] { return f.view->isReady() && f.view->isInStep(); }, 30000);
    return f;
}

// One property edit as the model makes them: text, colour or position of a label.
void edit(Fixture &f)
{
    const int n = f.edit++;
    const std::size_t i = std::size_t(n % Labels);
    switch (n % 3) {
    case 0:
        f.texts[i]->setData(QStringLiteral("Label %1 edit %2").arg(i).arg(n));
        break;
    case 1:
        f.labels[i]->style().setProperty(QStringLiteral("color"), QStringLiteral("rgb(%1, 0, 0)").arg(n % 256));
        break;
    default:
        f.labels[i]->style().setProperty(QStringLiteral("left"), QStringLiteral("%1px").arg(n % 200));
        break;
    }
}

// The view reflects the last of 1,000 edits made in one go: the time from the last model
// change until the view has applied it.
void BM_ThousandEditsMirrored(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.view->isReady()) {
        state.SkipWithError("the web view did not start");
        return;
    }
    KRBench::mirrorThousandEdits(
        state, "mirror_1000_edits_over_target", 50, [&] { edit(f); }, [&] { f.view->flush(); }, [&] { return f.view->isInStep(); });
}

// One edit, then wait until the view has applied it: the round trip of a single edit.
void BM_SingleEditRoundTrip(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.view->isReady()) {
        state.SkipWithError("the web view did not start");
        return;
    }
    KRBench::timeEditRoundTrips(state, "round_trip_over_frame", 16, [&] { edit(f); }, [&] { return f.view->isInStep(); });
}

} // namespace

BENCHMARK(BM_ThousandEditsMirrored)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_SingleEditRoundTrip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(500);

int main(int argc, char **argv)
{
    // The view goes before the application object.
    return KRBench::runStartedApplication(argc, argv, {}, [] { delete g_fixture; });
}
