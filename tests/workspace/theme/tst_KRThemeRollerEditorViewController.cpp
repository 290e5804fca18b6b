#include "../../model/KRPageTestSupport.h"
#include "KRTestSupport.h"
#include "KRWebTestSupport.h"

#include <core/KRXMLDocument.h>
#include <model/KRProjectTheme.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <workspace/theme/KRThemeRollerEditorViewController.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace {

const bool krThemeEnvironmentPrepared = KRTest::addBeforeApplicationHook(&KRWebEngineEnvironment::prepare);

const QString originalCSS = QStringLiteral(".ui-bar-a { background-color: #3388cc; color: #ffffff; }\n"
                                           ".ui-body-a { background-color: #f9f9f9; }\n");

// A script's result in the page, waited for (bounded).
QVariant js(QWebEngineView &view, const QString &script)
{
    return KRTest::evaluateScript(&view, script);
}

struct ThemeTab : ::testing::Test
{
    void SetUp() override
    {
        project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"home\" title=\"Home\"><KRContents/></KRPage>")),
                                true, &document);
        ASSERT_TRUE(project);
        auto xml = KRXMLDocument::fromData(
            QStringLiteral("<KRThemes><KRProjectTheme name=\"sky\">%1</KRProjectTheme></KRThemes>").arg(originalCSS).toUtf8());
        ASSERT_TRUE(bool(xml));
        themeXML = *xml;
        theme = std::make_shared<KRProjectTheme>(themeXML.rootElement().children().first());
        ASSERT_EQ(theme->css(), originalCSS);

        tab = KRCachingViewController::create<KRThemeRollerEditorViewController>();
        tab->setProject(project);
        tab->setTheme(theme);
        tab->view()->resize(760, 420);
        tab->view()->show();
        ASSERT_TRUE(KRTest::processEventsUntil(
            [&] { return js(page(), QStringLiteral("document.body && document.body.getAttribute('data-tr-ready')")).toString() == "1"; }))
            << "the theme editor page did not connect its bridge";
    }
    void TearDown() override { tab.reset(); }

    QWebEngineView &page() { return *tab->webView(); }
    QString elementText() const { return theme->themeElement().stringValue(); }
    bool waitForCSS(const QString &css)
    {
        return KRTest::processEventsUntil([&] {
            return theme->css() == css && js(page(), QStringLiteral("document.getElementById('tr-css').value")).toString() == css;
        });
    }

    // True once the host has answered a question the page asks through the bridge now, and so
    // everything the page sent before it.
    bool bridgeAnswered()
    {
        js(page(), QStringLiteral("window.__krAnswered = false; __KR.CSS(function () { window.__krAnswered = true; }); 0"));
        return KRTest::processEventsUntil([&] { return js(page(), QStringLiteral("window.__krAnswered")).toBool(); });
    }

    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    KRXMLDocument themeXML;
    std::shared_ptr<KRProjectTheme> theme;
    std::unique_ptr<KRThemeRollerEditorViewController> tab;
};

} // namespace

TEST(ThemeResources, ThePageAndItsScriptsAreInTheResources)
{
    auto tab = KRCachingViewController::create<KRThemeRollerEditorViewController>();
    for (const char *path : {":/kr/theme/jquery-mobile-theme-roller/index.html", ":/kr/theme/jquery-mobile-theme-roller/themeroller.js",
                             ":/kr/theme/jquery-mobile-theme-roller/themeroller.css", ":/kr/theme/KRThemeBridge.js"}) {
        QFile file(QString::fromLatin1(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.size() > 0) << path;
    }
    EXPECT_TRUE(KRTest::processEventsUntil(
        [&] { return tab->webView()->url() == QUrl(KRThemeRollerEditorViewController::PageURL); }));
}

TEST_F(ThemeTab, ThePageReadsAndWritesTheThemeThroughTheBridge)
{
    // The page shows the theme's CSS, read synchronously from the bridge.
    EXPECT_EQ(js(page(), QStringLiteral("__KR.css")).toString(), originalCSS);
    EXPECT_TRUE(waitForCSS(originalCSS));

    // Only the four operations are reachable; the controller's own are not.
    EXPECT_EQ(js(page(), QStringLiteral("[typeof __KR.CSS, typeof __KR.setCSS_, typeof __KR.registerUndo, typeof __KR.log_,"
                                        " typeof __KR.setCSS, typeof __KR.performUndo, typeof __KR.setTheme,"
                                        " typeof __KR.delegate].join()"))
                  .toString(),
              QStringLiteral("function,function,function,function,undefined,undefined,undefined,undefined"));

    // A write from the page reaches the theme element.
    js(page(), QStringLiteral("__KR.setCSS_('.ui-bar-a { color: #000000; }\\n'); __KR.log_('ignored'); 1"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return theme->css() == QStringLiteral(".ui-bar-a { color: #000000; }\n"); }));
    EXPECT_EQ(elementText(), QStringLiteral(".ui-bar-a { color: #000000; }\n"));
    // ... and the page's copy follows the theme.
    EXPECT_TRUE(KRTest::processEventsUntil(
        [&] { return js(page(), QStringLiteral("__KR.css")).toString() == QStringLiteral(".ui-bar-a { color: #000000; }\n"); }));

    // The same text again changes nothing.
    QSignalSpy changes(tab->proxy(), &KRThemeRollerEditorViewControllerProxy::cssChanged);
    tab->proxy()->setCSS_(theme->css());
    EXPECT_EQ(changes.count(), 0);
}

TEST_F(ThemeTab, ThePagesStepsAreUndoneAndRedoneThroughTheDocument)
{
    KRUndoManager &undo = document->undoManager();
    ASSERT_TRUE(waitForCSS(originalCSS));
    // The user picks another bar colour in the page.
    js(page(), QStringLiteral("var well = document.getElementById('tr-bar-colour'); well.value = '#123456';"
                              " well.dispatchEvent(new Event('change')); 1"));
    const QString edited = QStringLiteral(".ui-bar-a { background-color: #123456; color: #ffffff; }\n"
                                          ".ui-body-a { background-color: #f9f9f9; }\n");
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return theme->css() == edited && undo.canUndo(); }));
    EXPECT_EQ(undo.undoCount(), 1);
    QApplication::processEvents();

    undo.undo();
    EXPECT_TRUE(waitForCSS(originalCSS));
    EXPECT_EQ(js(page(), QStringLiteral("document.getElementById('tr-bar-colour').value")).toString(), QStringLiteral("#3388cc"));
    EXPECT_TRUE(undo.canRedo());
    undo.redo();
    EXPECT_TRUE(waitForCSS(edited));
    // The page's late reports of its undo and redo recorded no steps of their own: the page
    // sent them before this question, and the bridge answers in order.
    ASSERT_TRUE(bridgeAnswered());
    EXPECT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(undo.redoCount(), 0);
    undo.undo();
    EXPECT_TRUE(waitForCSS(originalCSS));
    EXPECT_EQ(elementText(), originalCSS);
}

TEST_F(ThemeTab, RightClickShowsNoMenuAndTheTabDrawsThePage)
{
    EXPECT_EQ(page().contextMenuPolicy(), Qt::NoContextMenu);
    QWidget *surface = page().focusProxy() ? page().focusProxy() : &page();
    QTest::mouseClick(surface, Qt::RightButton, {}, QPoint(400, 200));
    QApplication::processEvents();
    for (QWidget *widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QMenu *>(widget) && widget->isVisible());

    // The toolbar of the page (a light gradient) above the preview: wait for a drawn frame.
    QImage shot;
    const bool drawn = KRTest::processEventsUntil([&] {
        shot = tab->view()->grab().toImage();
        return !shot.isNull() && shot.pixelColor(5, 5).lightness() > 200 && shot.pixelColor(5, 5) != shot.pixelColor(5, 100);
    });
    const QString path = KRTest::artifactsDir(QStringLiteral("theme")) + QStringLiteral("/theme-editor-tab.png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    EXPECT_TRUE(drawn) << "the screenshot does not show the page: " << path.toStdString();
}
