#include "../KRAppTestSupport.h"

#ifdef KR_HAVE_PROJECT_WINDOW
#include <app/windows/KRProjectWindowHookup.h>
#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>
#endif

#include <app/KRApplicationDelegate.h>
#include <app/KRCrashReporterWindowController.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryItemViewController.h>
#include <app/KRGalleryWindowController.h>
#include <app/KRPreferencesWindowController.h>
#include <core/KRNodeRunner.h>
#include <core/ui/KRMainMenu.h>
#include <model/KRDocument.h>
#include <platform/appkit/KRPopover.h>
#include <platform/crash/KRCrashReporter.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <platform/webview/KRWebEngineEnvironment.h>

#include <KRTestSupport.h>
#include <KRWebTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace {

const bool startupSchemeRegistered = KRTest::addBeforeApplicationHook(KRWebEngineEnvironment::prepare);

QString pageText(QWebEngineView *view)
{
    return KRTest::evaluateScript(view, QStringLiteral("document.body ? document.body.innerText : ''")).toString();
}

// The window as drawn, with the web view's page laid in once the engine has painted it.
void saveWithPage(QWidget &window, QWebEngineView *view, const QString &name)
{
    QImage page;
    KRTest::processEventsUntil([&] {
        page = view->grab().toImage();
        for (int y = 0; y < page.height(); y += 3)
            for (int x = 0; x < page.width(); x += 3)
                if (page.pixel(x, y) != page.pixel(0, 0))
                    return true;
        return false;
    });
    QImage shot = KRTest::renderWidget(window);
    QPainter painter(&shot);
    painter.drawImage(view->mapTo(&window, QPoint(0, 0)), page);
    painter.end();
    EXPECT_TRUE(shot.save(KRTest::artifactsDir(QStringLiteral("app")) + QLatin1Char('/') + name));
}

} // namespace

TEST(KRApplicationStartup, StartsOffersTheLastCrashShowsTheGalleryAndOpensASample)
{
    ASSERT_TRUE(startupSchemeRegistered);
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    KRAppTest::installGalleryService(server, KRAppTest::sampleArchive(QStringLiteral("Cafe")));
    KRAppTest::pointDefaultsAt(server);
#ifdef KR_HAVE_PROJECT_WINDOW
    installProjectWindows();
#else
    KRAppTest::installTestWindowFactory();
#endif
    auto alerts = KRAppTest::installScriptedAlerts();
    KRAppTest::installURLRecorder();

    // The last run crashed: the start offers its report before anything else, and sends it.
    KRCrashReporter reporter(KRTest::makeTempDir(QStringLiteral("crash")));
    KRTest::writeFile(reporter.pendingReportPath(), "KRCRASH 1\nSignal: 11 SIGSEGV\nBacktrace:\nMaps:\nEnd\n");
    KRApplicationDelegate::setCrashReporter(&reporter);
    bool offered = false;
    QTimer offer;
    QObject::connect(&offer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog || dialog->objectName() != QLatin1String("KRCrashReporterWindow") || offered)
            return;
        offered = true;
        KRTest::saveScreenshot(*dialog, QStringLiteral("app"), QStringLiteral("startup-crash-offer.png"), {1});
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == QLatin1String("Send"))
                button->click();
        }
    });
    offer.start(50);
    KRApplicationDelegate::initialize();
    offer.stop();
    EXPECT_TRUE(offered);
    EXPECT_FALSE(reporter.hasPendingCrashReport()) << "a sent report is not offered again";
    ASSERT_NE(KRApplicationDelegate::sharedNodeRunner(), nullptr);

    // First run: the blank project, then the gallery on its welcome page with the samples.
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("lastExecutedVersion"));
    KRApplicationDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return delegate.galleryWindowController() != nullptr; }));
    KRGalleryWindowController *gallery = delegate.galleryWindowController();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return gallery->window()->isVisible() && !gallery->samples().isEmpty(); }));
    EXPECT_TRUE(gallery->welcomeMode());
    ASSERT_EQ(KRDocumentController::sharedDocumentController().documents().size(), 1);
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documents().first()->fileURL(),
              KRApplicationDelegate::blankProjectPath());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return pageText(gallery->welcomeWebView).contains(QStringLiteral("Welcome to Korvane")); }));
    KRTest::processEventsUntil([&] { return gallery->samples().first()->hasThumbnail(); });
    // The web engine is up and has not taken the fault signals over.
    EXPECT_TRUE(reporter.isEnabled());
    saveWithPage(*gallery->window(), gallery->welcomeWebView, QStringLiteral("startup-gallery-welcome.png"));

    // The thumbnail shows the full picture in a pop-over.
    gallery->samples().first()->imageButton->click();
    KRPopover *popover = nullptr;
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *candidate = qobject_cast<KRPopover *>(widget); candidate && candidate->isVisible())
                popover = candidate;
        return popover != nullptr;
    }));
    auto *imageView = qobject_cast<QWebEngineView *>(popover->contentWidget());
    ASSERT_NE(imageView, nullptr);
    QString source;
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        source = KRTest::evaluateScript(imageView, QStringLiteral("(document.querySelector('img') || {}).src || ''")).toString();
        return !source.isEmpty();
    }));
    EXPECT_EQ(QUrl(source), server.url(QStringLiteral("/samples/cafe.png")));
    popover->close();

    // Its links: the preferences, and the way to the recent projects.
    const auto clickLink = [&](const char *href) {
        gallery->welcomeWebView->page()->runJavaScript(
            QStringLiteral("document.querySelector('a[href=\"%1\"]').click()").arg(QString::fromLatin1(href)));
    };
    clickLink("kr://preferences");
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return delegate.preferencesWindowController() != nullptr; }));
    EXPECT_TRUE(delegate.preferencesWindowController()->window()->isVisible());
    delegate.preferencesWindowController()->window()->close();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return delegate.preferencesWindowController() == nullptr; }));
    clickLink("kr://recent");
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !gallery->welcomeMode(); }));
    EXPECT_TRUE(gallery->recentProjectsTable->isVisible());

    // The sample downloads into the package the user names and opens in its window.
    const QString destination = KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/Cafe.krproj");
    KRApplicationDelegate::setSavePanel([&](QWidget *, const QString &, const QString &, const QString &,
                                            std::function<void(const QString &)> done) { done(destination); });
    gallery->samplesTable->setCurrentRow(0);
    emit gallery->samplesTable->itemDoubleClicked(gallery->samplesTable->item(0));
    ASSERT_TRUE(KRTest::processEventsUntil([] { return KRDocumentController::sharedDocumentController().documents().size() == 2; }));
    auto sample = KRDocumentController::sharedDocumentController().documents().last();
    EXPECT_EQ(sample->fileURL(), destination);
    EXPECT_TRUE(KRDocumentController::windowForDocument(*sample)->isVisible());
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return delegate.galleryWindowController() == nullptr; }));

    // New Project makes a package and opens it.
    const QString created = KRTest::makeTempDir(QStringLiteral("new")) + QStringLiteral("/Fresh.krproj");
    KRApplicationDelegate::setSavePanel([&](QWidget *, const QString &, const QString &, const QString &,
                                            std::function<void(const QString &)> done) { done(created); });
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("newDocument")));
    ASSERT_EQ(KRDocumentController::sharedDocumentController().documents().size(), 3);
    EXPECT_TRUE(QFileInfo(created + QStringLiteral("/project.xml")).isFile());

    // About shows the running version.
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("about")));
    KRHTMLWindowController *about = delegate.aboutWindowController();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->window()->windowTitle(), QStringLiteral("About Korvane"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        return pageText(about->webView()).contains(QStringLiteral("Version ") + KRDocument::applicationShortVersion());
    }));
    saveWithPage(*about->window(), about->webView(), QStringLiteral("startup-about.png"));
    // Inspiration takes the same window.
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("inspiration")));
    EXPECT_EQ(delegate.aboutWindowController(), about);
    EXPECT_EQ(about->window()->windowTitle(), QStringLiteral("Inspiration"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return pageText(about->webView()).contains(QStringLiteral("—")); }));
    EXPECT_TRUE(KRTest::framesDrawn(about->webView())); // the engine paints the new page
    saveWithPage(*about->window(), about->webView(), QStringLiteral("startup-inspiration.png"));

#ifdef KR_HAVE_PROJECT_WINDOW
    // Revert reads the package into a fresh window; that project is still one of the open
    // documents, so the review at quit reaches it.
    KRWindowController *sampleWindow = nullptr;
    for (KRWindowController *controller : KRProjectWindows::openWindows()) {
        if (&controller->document() == sample.get())
            sampleWindow = controller;
    }
    ASSERT_NE(sampleWindow, nullptr);
    KRWindowController *reverted = KRProjectWindows::reopenProject(sampleWindow);
    ASSERT_NE(reverted, nullptr);
    sample = reverted->document().shared_from_this();
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documents().size(), 3);
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documentForPath(destination), sample);
#endif

    // Quitting with a changed project asks about it; Don't Save quits.
    sample->undoManager().registerUndo(&delegate, [] {});
    const qsizetype shownBefore = alerts->shownAlerts().size();
    for (int i = 0; i < 3; ++i)
        alerts->scriptButton(QStringLiteral("Don’t Save"));
    EXPECT_TRUE(delegate.terminateAction());
    QStringList asked;
    for (qsizetype i = shownBefore; i < alerts->shownAlerts().size(); ++i)
        asked << alerts->shownAlerts().at(i).messageText;
    EXPECT_TRUE(asked.join(u'|').contains(QStringLiteral("“Cafe”"))) << asked.join(u'|').toStdString();
    alerts->clear();

    KRApplicationDelegate::setSavePanel(nullptr);
    KRApplicationDelegate::setCrashReporter(nullptr);
#ifdef KR_HAVE_PROJECT_WINDOW
    closeProjectWindows();
#endif
    KRAppTest::closeAllDocuments();
    KRAlertService::setCurrent(nullptr);
}
