// The Showcase sample as a user meets it: built by the project builder into its web folder,
// served by the local runtime server and used in a phone-sized offscreen view.
#include "E2ESupport.h"



#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

using namespace KRE2E;

namespace {

const QString kCanvasDrawn = QStringLiteral(
    "(function() { var c = document.querySelector('%1'); if (!c || !c.width) return false;"
    " var d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
    " for (var i = 3; i < d.length; i += 4) if (d[i]) return true; return false; })()");

class ShowcaseSample : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_sample = buildSuiteSample(QStringLiteral("Showcase"));
        if (!s_sample || s_sample->startPage.isEmpty())
            return;
        s_server = new RuntimeServer(s_sample->folder);
        s_browser = new Browser(QSize(320, 480));
    }
    static void TearDownTestSuite()
    {
        delete s_browser;
        delete s_server;
        s_sample.reset();
        s_browser = nullptr;
        s_server = nullptr;
    }
    void SetUp() override
    {
        if (!webLibrariesStaged())
            GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
        ASSERT_FALSE(s_sample->startPage.isEmpty()) << "build failed: " << s_sample->failure.toStdString();
        ASSERT_GT(s_server->port(), 0) << "the local runtime server did not start";
    }
    void TearDown() override
    {
        if (!s_browser)
            return;
        EXPECT_EQ(browser().takeErrors(), QStringList()) << "console errors";
    }

    Browser &browser() { return *s_browser; }
    bool js(const QString &expression) { return browser().eval(QStringLiteral("!!(%1)").arg(expression)).toBool(); }
    int count(const QString &selector) { return browser().eval(QStringLiteral("$('%1').length").arg(selector)).toInt(); }
    QString text(const QString &script) { return browser().eval(script).toString(); }
    void open(const QString &pageID)
    {
        const QString file = QFileInfo(s_sample->startPage).fileName();
        ASSERT_TRUE(browser().load(s_server->url(pageID.isEmpty() ? file : pageID + QStringLiteral(".html"))));
        ASSERT_TRUE(browser().waitForPage(pageID.isEmpty() ? QStringLiteral("home") : pageID));
    }
    void click(const QString &selector)
    {
        ASSERT_TRUE(browser().eval(QStringLiteral("(function() { var e = $('%1')[0]; if (!e) return false; e.click(); return true; })()")
                                       .arg(selector))
                        .toBool())
            << "nothing to click: " << selector.toStdString();
    }

    static inline std::unique_ptr<SuiteSample> s_sample;
    static inline RuntimeServer *s_server = nullptr;
    static inline Browser *s_browser = nullptr;
};

} // namespace

TEST_F(ShowcaseSample, StartPageShowsEveryControlEnhancedAndIsKeptAsAScreenshot)
{
    EXPECT_TRUE(s_sample->startPage.endsWith(QLatin1String("/home.html")));
    open(QString());
    EXPECT_TRUE(js(QStringLiteral("$('#home_header1 [data-role=header]').hasClass('ui-header')")));
    EXPECT_EQ(count(QStringLiteral("#home_header1 .ui-navbar li")), 3);
    EXPECT_EQ(count(QStringLiteral("#home_header1 .ui-btn-right")), 1);
    EXPECT_TRUE(js(QStringLiteral("$('#home_footer1 [data-role=footer]').hasClass('ui-footer')")));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("$('#home_logo')[0].complete && $('#home_logo')[0].naturalWidth === 64")));
    EXPECT_EQ(text(QStringLiteral("$('#home_greeting').text()")), QStringLiteral("Welcome"));
    EXPECT_TRUE(js(QStringLiteral("$('#home_greeting').hasClass('big') && $('#home_greeting').css('font-weight') === '700'")));
    for (const char *button : {"helloButton", "detailsButton", "aboutButton"})
        EXPECT_TRUE(js(QStringLiteral("$('#_home_%1_inp').parent().hasClass('ui-btn')").arg(QLatin1String(button)))) << button;
    EXPECT_EQ(count(QStringLiteral("#home_table1 td")), 4);
    EXPECT_EQ(text(QStringLiteral("$('#home_table1 td:first').text()")), QStringLiteral("Mon"));
    EXPECT_TRUE(js(QStringLiteral("$('#home_menu ul').hasClass('ui-listview')")));
    EXPECT_EQ(count(QStringLiteral("#home_menu li")), 3);

    // The page is as tall as its content: the document scrolls to the lowest object, the
    // page itself has no scroll area of its own.
    EXPECT_TRUE(browser().waitFor(QStringLiteral("document.documentElement.scrollHeight >= $('#home_menu').offset().top + $('#home_menu').outerHeight()"
                                                 " && $.mobile.activePage[0].scrollHeight <= $.mobile.activePage[0].clientHeight + 1")));
    const QImage shot = browser().screenshot();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), QSize(320, 480) * shot.devicePixelRatio());
    const QString path = artifactsDir() + QStringLiteral("/showcase-start-page.png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
}

TEST_F(ShowcaseSample, ButtonHandlerChangesALabelTheTimerFiresAndThePopUpOpens)
{
    open(QString());
    click(QStringLiteral("#_home_helloButton_inp"));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("$('#home_greeting').text() === 'Hello, world!'")));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("/^Ticks: [1-9]/.test($('#home_ticks').text())")));
    click(QStringLiteral("#_home_aboutButton_inp"));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("$('.ui-popup-active').text().indexOf('Showcase') >= 0")));
}

TEST_F(ShowcaseSample, ButtonOpensASecondPageWithPlainControlsAndBackReturns)
{
    open(QString());
    click(QStringLiteral("#_home_detailsButton_inp"));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("details")));
    EXPECT_EQ(count(QStringLiteral("#details_intro strong")), 1);
    EXPECT_EQ(count(QStringLiteral("input#details_plainText")), 1);
    EXPECT_TRUE(js(QStringLiteral("$('#details_plainCheck')[0].checked")));
    EXPECT_EQ(text(QStringLiteral("$('#details_plainSelect').val()")), QStringLiteral("Two"));
    EXPECT_EQ(text(QStringLiteral("$('#details_plainArea').val()")), QStringLiteral("Some text"));
    EXPECT_TRUE(browser().waitFor(kCanvasDrawn.arg(QStringLiteral("#details_sketch"))));
    click(QStringLiteral("#details_backButton"));
    EXPECT_TRUE(browser().waitForPage(QStringLiteral("home")));
}

TEST_F(ShowcaseSample, ListItemOpensItsPageWithTheGraphDrawnAndTheGalleryOpening)
{
    open(QString());
    click(QStringLiteral("#home_menu li:eq(1) a"));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("media")));
    EXPECT_TRUE(browser().waitFor(kCanvasDrawn.arg(QStringLiteral("#media_visits canvas"))));
    EXPECT_EQ(count(QStringLiteral("#media_gallery img")), 3);
    click(QStringLiteral("#_media_galleryButton_inp"));
    EXPECT_TRUE(browser().waitFor(QStringLiteral("$('.pswp').hasClass('pswp--open')")));
    browser().eval(QStringLiteral("application._pages.media.gallery.close()"));
    // The gallery covers the page until it has closed.
    EXPECT_TRUE(browser().waitFor(QStringLiteral("!$('.pswp').hasClass('pswp--open')")));
    click(QStringLiteral("#media_header4 .ui-btn-left"));
    EXPECT_TRUE(browser().waitForPage(QStringLiteral("home")));
}

TEST_F(ShowcaseSample, FormWidgetsAreEnhancedAndTheirValuesArePostedToTheServerPage)
{
    open(QStringLiteral("forms"));
    EXPECT_EQ(count(QStringLiteral("#forms_nameBox .ui-input-text")), 1);
    EXPECT_EQ(count(QStringLiteral("#forms_colorSelect .ui-select")), 1);
    EXPECT_EQ(count(QStringLiteral("#forms_extras .ui-checkbox")), 2);
    EXPECT_EQ(count(QStringLiteral("#forms_size .ui-radio")), 3);
    EXPECT_EQ(count(QStringLiteral("#forms_amount .ui-slider-track")), 1);
    EXPECT_GE(count(QStringLiteral("#forms_notify .ui-slider-switch, #forms_notify .ui-flipswitch")), 1);
    EXPECT_EQ(count(QStringLiteral("#forms_notes .ui-input-text")), 1);
    EXPECT_EQ(count(QStringLiteral("#forms_sendButton .ui-btn")), 1);
    EXPECT_EQ(text(QStringLiteral("$('#_forms_colorSelect_sel').val()")), QStringLiteral("green"));

    browser().eval(QStringLiteral("$('#_forms_nameBox_inp').val('Ada');"
                                  "$('#_forms_colorSelect_sel').val('blue').selectmenu('refresh');"
                                  "$('#_forms_amount_inp').val(7).slider('refresh');"));
    click(QStringLiteral("#_forms_sendButton_inp"));
    ASSERT_TRUE(browser().waitForPage(QStringLiteral("result")));
    EXPECT_TRUE(text(QStringLiteral("location.pathname")).endsWith(QLatin1String("/result.krml")));
    EXPECT_EQ(text(QStringLiteral("$('#_result_sentName_inp').val()")), QStringLiteral("Ada"));
    EXPECT_EQ(text(QStringLiteral("$('#_result_sentColor_inp').val()")), QStringLiteral("blue"));
    EXPECT_EQ(text(QStringLiteral("$('#_result_sentAmount_inp').val()")), QStringLiteral("7"));
}

TEST_F(ShowcaseSample, ChartScriptsAreLinkedInLoadOrder)
{
    // The chart script needs its class helper loaded first.
    const QString html = QString::fromUtf8(KRTest::readFile(s_sample->startPage));
    const qsizetype helper = html.indexOf(QLatin1String("src=\"js-class.js\""));
    const qsizetype chart = html.indexOf(QLatin1String("src=\"bluff-src.js\""));
    ASSERT_GE(helper, 0);
    EXPECT_LT(helper, chart);
    open(QString());
    EXPECT_TRUE(js(QStringLiteral("window.JS && window.Bluff && typeof Bluff.Bar === 'function'")));
}
