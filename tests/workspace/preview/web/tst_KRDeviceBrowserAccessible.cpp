// The preview window's page as assistive tools meet it: the engine describes its documents to
// them here, as it does while a screen reader runs.
#include "../../../e2e/E2ESupport.h"

#include <workspace/preview/KRDeviceBrowserWindowController.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <KRTestSupport.h>

#include <QAccessible>
#include <QPlainTextEdit>
#include <QWebEngineView>

#include <gtest/gtest.h>

using namespace KRE2E;

namespace {

// Set before the engine starts, in the test's main.
const bool g_describedToTools = [] {
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --force-renderer-accessibility");
    return true;
}();

// Where assistive tools are told that the view's document lies; nothing while it has none.
std::optional<QRect> accessibleDocumentRect(QWidget *view)
{
    QAccessibleInterface *node = QAccessible::queryAccessibleInterface(view);
    QAccessibleInterface *document = node && node->childCount() > 0 ? node->child(0) : nullptr;
    if (!document || document->role() != QAccessible::WebDocument)
        return std::nullopt;
    return document->rect();
}

} // namespace

TEST(KRDeviceBrowserAccessible, ThePageComesIntoTheDeviceWithItsPlaceOnTheScreenTold)
{
    if (!webLibrariesStaged())
        GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
    const std::unique_ptr<SuiteSample> sample = buildSuiteSample(QStringLiteral("Showcase"));
    ASSERT_FALSE(sample->startPage.isEmpty()) << "build failed: " << sample->failure.toStdString();
    const auto previousAlerts = KRAlertService::setCurrent(std::make_shared<KRScriptedAlertService>());
    const auto previousOpener = KROpenURLService::setCurrent(std::make_shared<KRRecordingOpenURLService>());
    // A screen reader looks at a page as it comes into the window, once, and keeps what it was
    // told: the page's document must have its place from the first moment it is there.
    for (int opening = 0; opening < 3; ++opening) {
        KRDeviceBrowserWindowController controller;
        controller.setMode(0);
        controller.setIndexFilePath(sample->startPage);
        controller.window()->show();
        std::optional<std::optional<QRect>> firstSeen;
        ASSERT_TRUE(KRTest::processEventsUntil([&] {
            QWebEngineView *view = controller.webView();
            if (view && view->window() == controller.window() && view->isVisible() && !firstSeen)
                firstSeen = accessibleDocumentRect(view);
            return firstSeen && controller.clientLog()->toPlainText().contains(QLatin1String("Finished loading"));
        })) << "opening " << opening;
        ASSERT_TRUE(firstSeen->has_value()) << "opening " << opening << ": the page's view came without a document";
        EXPECT_FALSE((*firstSeen)->isEmpty()) << "opening " << opening << ": the page's document came without a place";
        EXPECT_EQ(**firstSeen, accessibleDocumentRect(controller.webView()).value_or(QRect()))
            << "opening " << opening << ": the document moved after it came";
    }
    KROpenURLService::setCurrent(previousOpener);
    KRAlertService::setCurrent(previousAlerts);
}
