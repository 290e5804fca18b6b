// The runtime in the real engine, driven by a hand-built application in the built-page
// format: pages served by the local runtime server, a server page answering a POST.
#include "E2ESupport.h"

#include <KRTestSupport.h>

#include <gtest/gtest.h>

using namespace KRE2E;

namespace {

const QString kCanvasDrawn = QStringLiteral(
    "(function() { var c = document.querySelector('#details_visits canvas'); if (!c || !c.width) return false;"
    " var d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
    " for (var i = 3; i < d.length; i += 4) if (d[i]) return true; return false; })()");

class HandBuiltApplication : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!webLibrariesStaged())
            return;
        s_folder = new QString(KRTest::makeTempDir(QStringLiteral("web")));
        s_staged = stageHandBuiltFolder(*s_folder);
        s_server = new RuntimeServer(*s_folder);
        s_browser = new Browser();
    }
    static void TearDownTestSuite()
    {
        delete s_browser;
        delete s_server;
        delete s_folder;
        s_browser = nullptr;
        s_server = nullptr;
        s_folder = nullptr;
    }
    void SetUp() override
    {
        if (!webLibrariesStaged())
            GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
        ASSERT_TRUE(s_staged);
        ASSERT_GT(s_server->port(), 0) << "the local runtime server did not start";
    }
    void TearDown() override
    {
        if (s_browser) {
            EXPECT_EQ(browser().takeErrors(), QStringList()) << "console errors";
        }
    }

    Browser &browser() { return *s_browser; }
    void openStartPage()
    {
        ASSERT_TRUE(browser().load(s_server->url(QStringLiteral("home.html"))));
        ASSERT_TRUE(browser().waitForPage(QStringLiteral("home")));
    }
    QString text(const QString &script) { return browser().eval(script).toString(); }
    void click(const QString &selector)
    {
        ASSERT_TRUE(browser().eval(QStringLiteral("(function() { var e = $('%1')[0]; if (!e) return false; e.click(); return true; })()")
                                       .arg(selector))
                        .toBool())
            << "nothing to click: " << selector.toStdString();
    }

    static inline QString *s_folder = nullptr;
    static inline bool s_staged = false;
    static inline RuntimeServer *s_server = nullptr;
    static inline Browser *s_browser = nullptr;
};

} // namespace

TEST_F(HandBuiltApplication, StartPageIsEnhancedAndKeptAsAScreenshot)
{
    openStartPage();
    EXPECT_TRUE(browser().eval(QStringLiteral("$('#_home_header1_div').hasClass('ui-header')")).toBool());
    EXPECT_EQ(browser().eval(QStringLiteral("$('#home_header1 .ui-navbar li').length")).toInt(), 2);
    EXPECT_TRUE(browser().eval(QStringLiteral("$('#_home_helloButton_inp').closest('.ui-btn').length === 1")).toBool());
    EXPECT_TRUE(browser().eval(QStringLiteral("$('#_home_menu_ul').hasClass('ui-listview')")).toBool());
    EXPECT_EQ(text(QStringLiteral("$('#home_greeting').text()")), QStringLiteral("Welcome"));
    // The page is as tall as its content: the document scrolls to the lowest object, the
    // page itself has no scroll area of its own.
    EXPECT_TRUE(browser().waitFor(QStringLiteral("document.documentElement.scrollHeight >= $('#home_menu').offset().top + $('#home_menu').outerHeight()"
                                                 " && $.mobile.activePage[0].scrollHeight <= $.mobile.activePage[0].clientHeight + 1")));
    const QImage shot = browser().screenshot();
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(artifactsDir() + QStringLiteral("/handbuilt-start-page.png")));
}

TEST_F(HandBuiltApplication, ButtonHandlerChangesALabelAndTheTimerFires)
{
    openStartPage();
    click(QStringLiteral("#_home_helloButton_inp"));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("$('#home_greeting').text() === 'Hello, world!'")));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("/^Ticks: [1-9]/.test($('#home_ticks').text())")));
}

TEST_F(HandBuiltApplication, ButtonOpensAPageAndTheToolbarGoesBack)
{
    openStartPage();
    click(QStringLiteral("#_home_nextButton_inp"));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("details")));
    EXPECT_TRUE(browser().eval(QStringLiteral("location.pathname")).toString().endsWith(QLatin1String("/details.html")));
    click(QStringLiteral("#_details_header2_div .ui-btn-left"));
    EXPECT_TRUE(browser().waitForPage(QStringLiteral("home")));
}

TEST_F(HandBuiltApplication, ListItemOpensItsPage)
{
    openStartPage();
    click(QStringLiteral("#_home_menu_ul li a:eq(1)"));
    EXPECT_TRUE(browser().waitForPage(QStringLiteral("forms")));
}

TEST_F(HandBuiltApplication, GraphIsDrawnAndTheGalleryOpens)
{
    ASSERT_TRUE(browser().load(s_server->url(QStringLiteral("details.html"))));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("details")));
    EXPECT_TRUE(browser().waitFor(kCanvasDrawn));
    EXPECT_EQ(browser().eval(QStringLiteral("$('#details_gallery img').length")).toInt(), 2);
    click(QStringLiteral("#details_gallery img:first"));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("$('.pswp').hasClass('pswp--open')")));
    browser().eval(QStringLiteral("application._pages.details.gallery.close()"));
}

TEST_F(HandBuiltApplication, FormValuesArePostedToTheServerPageAndShown)
{
    ASSERT_TRUE(browser().load(s_server->url(QStringLiteral("forms.html"))));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("forms")));
    browser().eval(QStringLiteral("$('#_forms_nameBox_inp').val('Ada')"));
    click(QStringLiteral("#_forms_sendButton_inp"));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("result")));
    EXPECT_EQ(text(QStringLiteral("$('#_result_sentName_inp').val()")), QStringLiteral("Got Ada"));
}
