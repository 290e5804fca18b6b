#include <widgets/help/KRHTMLWindowController.h>
#include <widgets/help/KRHelpButtonController.h>
#include <widgets/help/KRHelpViewController.h>

#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRResources.h>
#include <platform/webview/KRWebEngineEnvironment.h>

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>
#include <KRWebTestSupport.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QToolButton>
#include <QWebEngineView>

namespace {

// The application registers its in-application scheme before it starts; so does this test.
const bool g_schemeRegistered = KRTest::addBeforeApplicationHook(KRWebEngineEnvironment::prepare);

bool pageTextContains(QWebEngineView *view, const QString &text)
{
    return KRTest::processEventsUntil([&] {
        return KRTest::evaluateScript(view, QStringLiteral("document.body ? document.body.innerText : ''")).toString().contains(text);
    });
}

// Grabs a window with its web view once the page has painted (the web view's picture is
// composed by the engine, so it is grabbed on its own and laid over the window's).
QImage saveScreenshot(QWidget *window, QWebEngineView *view, const QString &name)
{
    const QImage page = KRTest::paintedPage(view, 0, 2);
    EXPECT_FALSE(page.isNull()) << "the page did not paint";
    QImage shot = KRTest::renderWidget(*window, {1, QColor(236, 236, 236), false});
    QPainter painter(&shot);
    painter.drawImage(view->mapTo(window, QPoint(0, 0)), page);
    painter.end();
    EXPECT_TRUE(shot.save(KRTest::artifactsDir(QStringLiteral("help")) + QLatin1Char('/') + name + QStringLiteral(".png")));
    return shot;
}

// Clicks an element of the page with the mouse, as the user would: once the page has drawn
// itself on the screen (a click on a page not yet drawn can go nowhere).
void clickElement(QWebEngineView *view, const QString &id)
{
    ASSERT_TRUE(KRTest::framesDrawn(view));
    const QVariantList box = KRTest::evaluateScript(view, QStringLiteral("(function(){var r=document.getElementById('%1')"
                                                          ".getBoundingClientRect();return [r.left+r.width/2,r.top+r.height/2];})()")
                                                .arg(id))
                                 .toList();
    ASSERT_EQ(box.size(), 2);
    const QPoint pos(int(box[0].toDouble()), int(box[1].toDouble()));
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, pos);
}

struct RecordOpenedURLs
{
    std::shared_ptr<KRRecordingOpenURLService> recorder = std::make_shared<KRRecordingOpenURLService>();
    std::shared_ptr<KROpenURLService> previous = KROpenURLService::setCurrent(recorder);
    ~RecordOpenedURLs() { KROpenURLService::setCurrent(previous); }
};

struct ActionRecorder : KRHTMLWindowControllerDelegate
{
    QStringList actions;
    void htmlWindowControllerSelectAction(KRHTMLWindowController *, const QString &action) override
    {
        actions.append(action);
    }
};

TEST(KRHelpPopover, ShowsGeneratedHelpAndSendsWebLinksOutside)
{
    RecordOpenedURLs opened;
    QWidget host;
    auto *label = new QLabel(QStringLiteral("Theme"));
    auto *field = new QLineEdit;
    auto *button = new QToolButton;
    button->setIcon(QIcon(KRHelpButtonController::helpButtonImage()));
    auto *layout = new QHBoxLayout(&host);
    layout->addWidget(label);
    layout->addWidget(field, 1);
    layout->addWidget(button);
    host.setGeometry(500, 300, 320, 50);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host, int(KRTest::WaitTimeout.count())));

    int generated = 0;
    KRHelpButtonController controller(&host, QRect(), button, {label, field}, KRPopover::LeftEdge, [&] {
        ++generated;
        return QStringLiteral("<html><body style='font-family:sans-serif;font-size:13px'>"
                              "<h3>Theme</h3><p>The jQuery Mobile swatch of the page (help %1).</p>"
                              "<p><a id='web' href='https://example.com/themes'>More about themes</a> "
                              "<a id='anchor' href='#end'>To the end</a></p>"
                              "<div style='height:1500px'></div><p id='end'>End</p></body></html>")
            .arg(generated);
    });

    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(controller.popover());
    EXPECT_TRUE(controller.popover()->isShown());
    QWebEngineView *view = controller.helpViewController()->webView();
    ASSERT_TRUE(pageTextContains(view, QStringLiteral("swatch of the page (help 1)")));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return controller.helpViewController()->openURLsExternally(); }));
    // Relative references resolve against the application's resource folder.
    const QUrl base(KRTest::evaluateScript(view, QStringLiteral("document.baseURI")).toString());
    EXPECT_EQ(QDir(base.toLocalFile()).canonicalPath(), QDir(KRResources::resourcesDirectory()).canonicalPath());
    saveScreenshot(controller.popover(), view, QStringLiteral("help-popover"));

    // A web link goes to the browser; the pop-over keeps its page (the next link still works
    // in it).
    const QUrl helpPage = view->url();
    KRTest::evaluateScript(view, QStringLiteral("document.getElementById('web').click()"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !opened.recorder->openedURLs().isEmpty(); }));
    EXPECT_EQ(opened.recorder->openedURLs(), QList<QUrl>{QUrl(QStringLiteral("https://example.com/themes"))});

    // An in-page anchor scrolls in place.
    KRTest::evaluateScript(view, QStringLiteral("document.getElementById('anchor').click()"));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return KRTest::evaluateScript(view, QStringLiteral("location.hash")).toString() == "#end"; }));
    EXPECT_EQ(opened.recorder->openedURLs().size(), 1);
    EXPECT_EQ(view->url().adjusted(QUrl::RemoveFragment), helpPage.adjusted(QUrl::RemoveFragment));
    EXPECT_TRUE(pageTextContains(view, QStringLiteral("help 1")));

    // Each opening asks the generator again.
    controller.popover()->close();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(pageTextContains(view, QStringLiteral("help 2")));
}

TEST(KRHTMLWindow, ShowsTheFilledTemplateAndRoutesItsLinks)
{
    RecordOpenedURLs opened;
    const QString dir = KRTest::makeTempDir();
    KRTest::writeFile(dir + "/About.html",
                      "<html><body style='font-family:sans-serif;text-align:center'>"
                      "<h1>Korvane</h1><p id='v'>Version {{KR_VERSION}}</p><p id='m'>{{missing}}</p>"
                      "<p><a id='prefs' href='kr://preferences'>Preferences</a> "
                      "<a id='web' href='https://example.com/'>Web site</a></p></body></html>");

    KRHTMLWindowController controller;
    auto delegate = std::make_unique<ActionRecorder>();
    controller.setDelegate(delegate.get());
    controller.setTemplateDictionary({{"KR_VERSION", "1.0.2"}});
    const QUrl url = QUrl::fromLocalFile(dir + "/About.html");
    controller.setURL(url);
    controller.showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.window(), int(KRTest::WaitTimeout.count())));
    QWebEngineView *view = controller.webView();
    ASSERT_TRUE(pageTextContains(view, QStringLiteral("Version 1.0.2")));
    EXPECT_EQ(KRTest::evaluateScript(view, QStringLiteral("document.getElementById('m').innerText")).toString(), "{{missing}}");
    EXPECT_EQ(controller.URL(), url);
    saveScreenshot(controller.window(), view, QStringLiteral("html-window"));

    clickElement(view, QStringLiteral("prefs"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !delegate->actions.isEmpty(); }));
    EXPECT_EQ(delegate->actions, QStringList{"preferences"});

    KRTest::evaluateScript(view, QStringLiteral("document.getElementById('web').click()"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !opened.recorder->openedURLs().isEmpty(); }));
    EXPECT_EQ(opened.recorder->openedURLs(), QList<QUrl>{QUrl(QStringLiteral("https://example.com/"))});

    // With the delegate gone a "kr" link does nothing at all. The page asks about its links
    // in turn: once the web link clicked after it has gone out, the "kr" one was answered.
    delegate.reset();
    EXPECT_EQ(controller.delegate(), nullptr);
    clickElement(view, QStringLiteral("prefs"));
    clickElement(view, QStringLiteral("web"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return opened.recorder->openedURLs().size() >= 2; }));
    EXPECT_EQ(opened.recorder->openedURLs(),
              (QList<QUrl>{QUrl(QStringLiteral("https://example.com/")), QUrl(QStringLiteral("https://example.com/"))}));
    EXPECT_TRUE(pageTextContains(view, QStringLiteral("Version 1.0.2")));
    EXPECT_EQ(view->url(), url);
}

} // namespace
