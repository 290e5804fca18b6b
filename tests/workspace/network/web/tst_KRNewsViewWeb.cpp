#include <network/KRNewsController.h>
#include <workspace/network/KRNewsViewController.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/appkit/KRPopover.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>
#include <KRWebTestSupport.h>

#include "../../../network/support/KRTestHTTPServer.h"

#include <QPainter>
#include <QTest>
#include <QWebEngineScript>

#include <gtest/gtest.h>

namespace {

const bool g_newsSchemeRegistered = KRTest::addBeforeApplicationHook(KRWebEngineEnvironment::prepare);

// The page runs no script of its own; the test asks the document from the application's world,
// as the view controller does.
QVariant newsScript(QWebEngineView *view, const QString &script)
{
    struct Answer {
        bool done = false;
        QVariant value;
    };
    const auto answer = std::make_shared<Answer>();
    view->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [answer](const QVariant &value) {
        answer->value = value;
        answer->done = true;
    });
    KRTest::processEventsUntil([&] { return answer->done; });
    return answer->value;
}

// Waits until the page has drawn two more frames of its own.
bool newsFramesDrawn(QWebEngineView *view)
{
    static int lastToken = 0;
    const int token = ++lastToken;
    newsScript(view, QStringLiteral("(function (left) {"
                                    "  var step = function () {"
                                    "    if (--left > 0) requestAnimationFrame(step); else window.__krFramesDrawn = %1;"
                                    "  };"
                                    "  requestAnimationFrame(step);"
                                    "})(2); 0")
                         .arg(token));
    return KRTest::processEventsUntil([&] { return newsScript(view, QStringLiteral("window.__krFramesDrawn")).toInt() == token; });
}

// Clicks the element the selector finds with the mouse, as the user would: once the page has
// drawn itself on the screen (a click on a page not yet drawn can go nowhere).
void newsClick(QWebEngineView *view, const QString &selector)
{
    ASSERT_TRUE(newsFramesDrawn(view));
    const QVariantList box =
        newsScript(view, QStringLiteral("(function(){var r=document.querySelector(\"%1\").getBoundingClientRect();"
                                        "return [r.left+r.width/2,r.top+r.height/2];})()")
                             .arg(selector))
            .toList();
    ASSERT_EQ(box.size(), 2);
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, QPoint(int(box[0].toDouble()), int(box[1].toDouble())));
}

int newsVisibleMarks(QWebEngineView *view)
{
    return newsScript(view, QStringLiteral("Array.prototype.filter.call(document.querySelectorAll('.news-unread'),"
                                           "function(e){return getComputedStyle(e).display != 'none';}).length"))
        .toInt();
}

class KRNewsViewWebTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previousOpener = KROpenURLService::setCurrent(opened);
        news = std::make_unique<KRNewsController>(KRTest::makeTempDir(QStringLiteral("news")) + QStringLiteral("/read.plist"));
        news->rssReceived(KRTestHTTPServer::newsFeed(3));
        news->markIndexAsRead(2);
        KRNewsViewController::setNewsControllerForNewViews(news.get());
        controller = KRCachingViewController::create<KRNewsViewController>();
        controller->view()->resize(380, 520);
        controller->view()->show();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return controller->webViewDidLoad(); }));
        ASSERT_TRUE(KRTest::processEventsUntil([&] {
            return newsScript(controller->webView(), QStringLiteral("document.querySelectorAll('.news-item').length")).toInt() == 3;
        }));
    }
    void TearDown() override
    {
        controller.reset();
        KRNewsViewController::setNewsControllerForNewViews(nullptr);
        KROpenURLService::setCurrent(previousOpener);
    }

    std::shared_ptr<KRRecordingOpenURLService> opened = std::make_shared<KRRecordingOpenURLService>();
    std::shared_ptr<KROpenURLService> previousOpener;
    std::unique_ptr<KRNewsController> news;
    std::unique_ptr<KRNewsViewController> controller;
};

TEST_F(KRNewsViewWebTest, ClickingAnItemOpensItsLinkOutsideAndMarksItRead)
{
    QWebEngineView *view = controller->webView();
    EXPECT_EQ(newsVisibleMarks(view), 2);
    EXPECT_TRUE(controller->markAllReadButton()->isEnabled());
    const QUrl before = view->url();

    newsClick(view, QStringLiteral("#news-item-1 h2 a"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !opened->openedURLs().isEmpty(); }));
    EXPECT_EQ(opened->openedURLs()[0], QUrl(QStringLiteral("https://news.example.com/post?id=1&ref=app%20feed")));
    EXPECT_FALSE(news->newsItems()[1].unread);
    EXPECT_EQ(newsVisibleMarks(view), 1);

    // A web address in a description opens outside too, and the view stays where it is. The
    // page asks about its links in turn: once the mark clicked after it is taken, the link was
    // answered.
    newsScript(view, QStringLiteral("var a = document.createElement('a'); a.id = 'plain'; a.href = 'https://example.com/';"
                                    "a.textContent = 'plain'; document.body.appendChild(a); 0"));
    newsClick(view, QStringLiteral("#plain"));
    newsClick(view, QStringLiteral("#news-item-0 .news-unread"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return news->unreadCount() == 0; }));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return newsVisibleMarks(view) == 0; }));
    EXPECT_FALSE(controller->markAllReadButton()->isEnabled());
    ASSERT_EQ(opened->openedURLs().size(), 2);
    EXPECT_EQ(opened->openedURLs()[1], QUrl(QStringLiteral("https://example.com/")));
    EXPECT_EQ(view->url(), before);
}

TEST_F(KRNewsViewWebTest, MarkAllReadHidesTheMarksAndDisablesTheButton)
{
    QTest::mouseClick(controller->markAllReadButton(), Qt::LeftButton);
    EXPECT_EQ(news->unreadCount(), 0);
    EXPECT_FALSE(controller->markAllReadButton()->isEnabled());
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return newsVisibleMarks(controller->webView()) == 0; }));
}

TEST_F(KRNewsViewWebTest, TheFeedsTextRunsNothingAndReachesNothing)
{
    // The descriptions are the feed's own markup, and its channel's link names a folder of files.
    controller.reset();
    KRNewsItem item;
    item.title = QStringLiteral("Moved");
    item.link = QStringLiteral("https://news.example.com/moved");
    item.description = QStringLiteral(
        "<script>location.href = 'kr://link?newsItemID=0&url=https%3A%2F%2Fexample.com%2Fscript';</script>"
        "<img src=\"x\" onerror=\"location = 'kr://link?newsItemID=0&url=https%3A%2F%2Fexample.com%2Fimg'\">"
        "<iframe src=\"https://example.com/frame\"></iframe>"
        "<meta http-equiv=\"refresh\" content=\"0;url=https://example.com/refresh\">"
        "<p>Text <a href=\"file:///etc/hostname\" id=\"local\">local</a></p>");
    item.unread = true;
    news->setNewsItems({item});
    controller = KRCachingViewController::create<KRNewsViewController>();
    controller->view()->resize(380, 520);
    controller->view()->show();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return controller->webViewDidLoad(); }));
    QWebEngineView *view = controller->webView();
    EXPECT_EQ(newsScript(view, QStringLiteral("document.querySelectorAll('script, img, iframe, meta[http-equiv]').length")).toInt(), 0);
    EXPECT_EQ(newsScript(view, QStringLiteral("location.origin")).toString(), QStringLiteral("null"))
        << "the page has an origin of its own, not the feed's";
    // A click on the file: address goes nowhere; the page asks about its navigations in turn:
    // once the mark clicked after it is taken, everything before was answered.
    newsClick(view, QStringLiteral(".news-text a"));
    newsClick(view, QStringLiteral("#news-item-0 .news-unread"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return news->unreadCount() == 0; }));
    EXPECT_NE(view->url().host(), QStringLiteral("example.com"));
    EXPECT_EQ(newsScript(view, QStringLiteral("document.querySelectorAll('.news-item').length")).toInt(), 1);
    EXPECT_TRUE(opened->openedURLs().isEmpty()) << opened->openedURLs().first().toString().toStdString();
}

TEST_F(KRNewsViewWebTest, NewsCommandShowsThePopoverUnderTheButton)
{
    QWidget window;
    window.resize(520, 640);
    auto *button = new QPushButton(QStringLiteral("News"), &window);
    button->setGeometry(200, 10, 60, 40);
    window.show();
    QPointer<KRPopover> popover = KRNewsViewController::showNewsPopover(button, &window);
    ASSERT_TRUE(popover);
    EXPECT_EQ(popover->behavior(), KRPopover::Behavior::Transient);
    EXPECT_EQ(popover->contentSize().height(), int(window.frameGeometry().height() * 0.85));
    EXPECT_EQ(popover->shownEdge(), KRPopover::BottomEdge);
    auto *shown = popover->findChild<KRNewsViewController *>();
    ASSERT_NE(shown, nullptr);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return shown->webViewDidLoad(); }));
    QWebEngineView *view = shown->webView();
    const QImage page = KRTest::paintedPage(view, 50);
    ASSERT_FALSE(page.isNull()) << "the news page did not paint";
    QImage shot = KRTest::renderWidget(*popover, {1, Qt::transparent, true});
    QPainter painter(&shot);
    painter.drawImage(view->mapTo(popover.data(), QPoint(0, 0)), page);
    painter.end();
    EXPECT_TRUE(shot.save(KRTest::artifactsDir(QStringLiteral("network-ui")) + QStringLiteral("/news-popover.png")));

    popover->close();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return popover.isNull(); })) << "the pop-over goes when closed";
}

} // namespace
