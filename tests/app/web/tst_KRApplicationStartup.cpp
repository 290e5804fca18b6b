#include "../KRAppTestSupport.h"

#include <app/startup/KRApplicationStartup.h>
#include <workspace/surface/KRDesignCanvas.h>
#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>

#include <app/KRApplicationDelegate.h>
#include <app/KRCrashReporterWindowController.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryItemViewController.h>
#include <app/KRGalleryWindowController.h>
#include <app/KRPreferencesWindowController.h>
#include <core/KRNodeRunner.h>
#include <ui/KRMainMenu.h>
#include <model/KRDocument.h>
#include <platform/appkit/KRPopover.h>
#include <platform/crash/KRCrashReporter.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/webview/KRWebView.h>

#include <KRCopyTree.h>
#include <KRTestSupport.h>
#include <KRWebTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace {

const bool startupPrepared = KRTest::addBeforeApplicationHook(KRApplicationStartup::prepareProcess);

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
    ASSERT_TRUE(startupPrepared);
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    KRAppTest::installGalleryService(server, KRAppTest::sampleArchive(QStringLiteral("Cafe")));
    KRAppTest::pointDefaultsAt(server);
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
    // First run: no version has run before.
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("lastExecutedVersion"));
    // The application as main() makes it; its launch runs on the next pass of the event loop.
    KRApplicationStartup startup;
    offer.stop();
    // A design view made before any other web view, as for a project open at launch.
    KRWebView early;
    early.loadEmptyDocument(QUrl::fromLocalFile(KRTest::makeTempDir(QStringLiteral("early")) + QLatin1Char('/')));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return early.isReady(); }));
    EXPECT_TRUE(offered);
    EXPECT_FALSE(reporter.hasPendingCrashReport()) << "a sent report is not offered again";
    ASSERT_NE(KRApplicationDelegate::sharedNodeRunner(), nullptr);
    // The questions the run asks are answered by the test from here on.
    auto alerts = KRAppTest::installScriptedAlerts();
    KRApplicationDelegate &delegate = startup.delegate();

    // First run: the blank project, then the gallery on its welcome page with the samples.
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
    // The blank project's page is drawn on its design surface.
    QWidget *blankWindow = KRDocumentController::windowForDocument(*KRDocumentController::sharedDocumentController().documents().first());
    ASSERT_NE(blankWindow, nullptr);
    EXPECT_EQ(blankWindow->findChild<QWidget *>(QStringLiteral("KRDesignPlaceholder")), nullptr)
        << "the design view is missing";
    EXPECT_NE(blankWindow->findChild<KRDesignCanvas *>(), nullptr);

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

    // The welcome page's text answers Edit ▸ Select All and Copy.
    KRMainMenu &menu = KRMainMenu::shared();
    QApplication::setActiveWindow(gallery->window());
    gallery->welcomeWebView->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        QWidget *focus = QApplication::focusWidget();
        return focus && (focus == gallery->welcomeWebView || gallery->welcomeWebView->isAncestorOf(focus));
    }));
    menu.validate();
    ASSERT_TRUE(menu.action(QStringLiteral("selectAll"))->isEnabled());
    menu.action(QStringLiteral("selectAll"))->trigger();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return gallery->welcomeWebView->hasSelection(); }));
    menu.validate();
    ASSERT_TRUE(menu.action(QStringLiteral("copy"))->isEnabled());
    menu.action(QStringLiteral("copy"))->trigger();
    EXPECT_TRUE(KRTest::processEventsUntil([] { return QApplication::clipboard()->text().contains(QStringLiteral("Welcome to Korvane")); }));

    // Its links: the preferences (again after their window was closed), and the way to the
    // recent projects.
    const auto clickLink = [&](const char *href) {
        gallery->welcomeWebView->page()->runJavaScript(
            QStringLiteral("document.querySelector('a[href=\"%1\"]').click()").arg(QString::fromLatin1(href)));
    };
    clickLink("kr://preferences");
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return delegate.preferencesWindowController() != nullptr; }));
    EXPECT_TRUE(delegate.preferencesWindowController()->window()->isVisible());
    delegate.preferencesWindowController()->window()->close();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return delegate.preferencesWindowController() == nullptr; }));
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
    KRApplicationDelegate::setSavePanel([&](QWidget *, const QString &, const QString &, const QString &, const QString &,
                                            std::function<void(const QString &)> done) { done(destination); });
    gallery->samplesTable->setCurrentRow(0);
    emit gallery->samplesTable->itemDoubleClicked(gallery->samplesTable->item(0));
    ASSERT_TRUE(KRTest::processEventsUntil([] { return KRDocumentController::sharedDocumentController().documents().size() == 2; }));
    auto sample = KRDocumentController::sharedDocumentController().documents().last();
    EXPECT_EQ(sample->fileURL(), destination);
    EXPECT_TRUE(KRDocumentController::windowForDocument(*sample)->isVisible());
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return delegate.galleryWindowController() == nullptr; }));

    // New Project makes a package and opens it; the blank start-up project, untouched, gives
    // way to it.
    const QString created = KRTest::makeTempDir(QStringLiteral("new")) + QStringLiteral("/Fresh.krproj");
    KRApplicationDelegate::setSavePanel([&](QWidget *, const QString &, const QString &, const QString &, const QString &,
                                            std::function<void(const QString &)> done) { done(created); });
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("newDocument")));
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        const auto open = KRDocumentController::sharedDocumentController().documents();
        return open.size() == 2 && open.first()->fileURL() == destination && open.last()->fileURL() == created;
    }));
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
    // About comes back out of the minimised state, and after the window was closed.
    about->window()->showMinimized();
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("about")));
    EXPECT_FALSE(about->window()->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(about->window()->isVisible());
    QPointer<KRHTMLWindowController> closed = about;
    about->window()->close();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return closed.isNull(); }));
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("about")));
    ASSERT_NE(delegate.aboutWindowController(), nullptr);
    EXPECT_TRUE(delegate.aboutWindowController()->window()->isVisible());

    // With the gallery's and the About window's web views up, that first design view still
    // loads libraries from the runtime server, named by its document as a page names them.
    const qint64 port = KRApplicationDelegate::sharedNodeRunner()->portNumber();
    ASSERT_GT(port, 0);
    const auto earlyDocument = DOMDocument::createHTMLDocument();
    early.attachDocument(earlyDocument);
    const auto library = earlyDocument->createElement(QStringLiteral("script"));
    library->setAttribute(QStringLiteral("src"), QStringLiteral("http://127.0.0.1:%1/__kr_bundle/jquery-1.9.0/jquery.min.js").arg(port));
    earlyDocument->head()->appendChild(library);
    QString outcome;
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        bool done = false;
        early.page()->runJavaScript(QStringLiteral("typeof jQuery"), [&](const QVariant &value) {
            outcome = value.toString();
            done = true;
        });
        KRTest::processEventsUntil([&] { return done; });
        return outcome == QLatin1String("function");
    }, std::chrono::seconds(20))) << outcome.toStdString();
    EXPECT_EQ(outcome.toStdString(), "function");

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
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documents().size(), 2);
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documentForPath(destination), sample);

    // Quit asks about each changed project once. Cancel keeps everything open; otherwise the
    // project saved is saved, the other is left as it was, and the application ends without
    // asking again (its windows are not asked to close).
    const std::shared_ptr<KRDocument> fresh = KRDocumentController::sharedDocumentController().documentForPath(created);
    ASSERT_NE(fresh, nullptr);
    sample->undoManager().registerUndo(&delegate, [] {});
    fresh->undoManager().registerUndo(&delegate, [] {});
    const auto quitInTheEventLoop = [&](int &status) {
        const qsizetype before = alerts->shownAlerts().size();
        QTimer::singleShot(0, &delegate, [&] {
            if (!delegate.terminateAction())
                QCoreApplication::exit(2); // cancelled: the loop would go on
        });
        status = QApplication::exec();
        QStringList asked;
        for (qsizetype i = before; i < alerts->shownAlerts().size(); ++i)
            asked << alerts->shownAlerts().at(i).messageText;
        return asked;
    };
    int status = -1;
    alerts->scriptButton(QStringLiteral("Cancel"));
    QStringList asked = quitInTheEventLoop(status);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(asked.size(), 1) << asked.join(u'|').toStdString();
    EXPECT_TRUE(KRDocumentController::windowForDocument(*sample)->isVisible());
    EXPECT_TRUE(KRDocumentController::windowForDocument(*fresh)->isVisible());

    alerts->scriptButton(QStringLiteral("Don’t Save")); // the first asked; the second saves
    asked = quitInTheEventLoop(status);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(asked.size(), 2) << asked.join(u'|').toStdString();
    EXPECT_EQ(asked.filter(QStringLiteral("“Cafe”")).size(), 1) << asked.join(u'|').toStdString();
    EXPECT_EQ(asked.filter(QStringLiteral("“Fresh”")).size(), 1) << asked.join(u'|').toStdString();
    const bool cafeFirst = asked.first().contains(QStringLiteral("“Cafe”"));
    EXPECT_EQ(sample->isDocumentEdited(), cafeFirst) << "Don’t Save leaves the project as it was";
    EXPECT_EQ(fresh->isDocumentEdited(), !cafeFirst) << "Save saves it";
    alerts->clear();

    KRApplicationDelegate::setSavePanel(nullptr);
    KRApplicationDelegate::setCrashReporter(nullptr);
}

TEST(KRApplicationStartup, OpensTheProjectsNamedOnTheCommandLine)
{
    const auto help = KRApplicationStartup::parseArguments({QStringLiteral("korvane"), QStringLiteral("--help")});
    ASSERT_TRUE(help.answer.has_value());
    EXPECT_TRUE(help.answer->startsWith(QStringLiteral("Usage: korvane")));
    EXPECT_EQ(help.exitStatus, 0);
    const auto unknown = KRApplicationStartup::parseArguments({QStringLiteral("korvane"), QStringLiteral("--frobnicate")});
    EXPECT_EQ(unknown.exitStatus, 2);

    // A package named by itself or by its project.xml, relative to the working folder.
    const QString folder = KRTest::makeTempDir(QStringLiteral("cmdline"));
    const QString package = folder + QStringLiteral("/TipCalculator.krproj");
    ASSERT_TRUE(KRTest::copyTree(KRResources::resourcesDirectory() + QStringLiteral("/samples/TipCalculator.krproj"), package));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    const auto named = KRApplicationStartup::parseArguments(
        {QStringLiteral("korvane"), QStringLiteral("TipCalculator.krproj/project.xml"), QStringLiteral("./TipCalculator.krproj")});
    QDir::setCurrent(previous);
    EXPECT_EQ(named.projects, QStringList({package, package}));

    // A first run: even the welcome page does not come over the projects named.
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("lastExecutedVersion"));
    KRApplicationStartup startup(named.projects);
    KRDocumentController &documents = KRDocumentController::sharedDocumentController();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return documents.documents().size() == 1; }));
    EXPECT_EQ(documents.documents().first()->fileURL(), package);
    QWidget *window = KRDocumentController::windowForDocument(*documents.documents().first());
    ASSERT_NE(window, nullptr);
    EXPECT_NE(window->findChild<KRDesignCanvas *>(), nullptr);
    // The gallery does not come up over the project the user asked for, nor a blank project.
    startup.delegate().openGalleryAtLaunch();
    EXPECT_EQ(startup.delegate().galleryWindowController(), nullptr);
    EXPECT_EQ(documents.documents().size(), 1);
}
